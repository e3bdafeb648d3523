#pragma once
// The transfer engine: the worker thread's polling procedure that follows one incoming call from ringing
// to the end of its transfer, then starts over. It never answers or dials; it watches the call board,
// acts on the operator's requests, sends the client its commands, switches the mixer and the buttons,
// and logs its progress.

#include <atomic>
#include <cstdint>
#include <deque>
#include <string>

#include "base/call_board.h"
#include "base/clock.h"
#include "base/log_writer.h"
#include "engine/audio_routing.h"
#include "engine/call_phases.h"
#include "engine/dialog_items.h"
#include "link/command_sender.h"
#include "link/protocol.h"

namespace halvane {

enum class EngineState {
  kCycleStart,
  kWaitIncoming,
  kRinging,
  kAnswer,
  kAnswerCheck,
  kWaitHold,
  kHold,
  kWaitSecondCall,
  kWaitSecondResponse,
  kSecondOutcome,
  kWaitTransfer,
  kConference,
  kConferenceEnd,
  kFinished,
  kStopped,  // RequestStop was seen; nothing runs any more
};

const char* EngineStateName(EngineState state);

class TransferEngine {
 public:
  // How long a delivered command's reply is waited for before the engine goes on without it.
  static constexpr std::uint32_t kReplyTimeoutMs = 5000;
  // Written once when that wait runs out.
  static constexpr char kReplyTimeoutLog[] = "\n=>no reply from Skype, going on";

  TransferEngine(CallBoard& board, CommandSender& sender, Clock& clock, DialogItems& items,
                 AudioRouting& routing, LogWriter& log, CallPhases& phases = NoCallPhases());
  TransferEngine(const TransferEngine&) = delete;
  TransferEngine& operator=(const TransferEngine&) = delete;

  // The worker thread's entry: start-up, then one state after another until RequestStop.
  void RunTransferEngine();

  // Safe from any thread. The engine notices at its next poll (at most about a second later, or when
  // the reply it waits for comes or times out) and RunTransferEngine returns.
  void RequestStop() { stop_.store(true); }
  bool StopRequested() const { return stop_.load(); }

  // Finer control, for tests and for callers that want to watch the engine's progress.
  // StartUp connects and opens the contacts; false when stopped meanwhile.
  bool StartUp();
  // Runs the current state and returns the state that follows it.
  EngineState Step();
  // Steps until `target` is the current state (or the engine stops); returns the current state.
  EngineState RunUntil(EngineState target);
  EngineState State() const { return state_; }

  // Waits (100 ms polls) until the client is attached, then asks for the user handle. False when a stop
  // was requested while waiting.
  bool ConnectToClient();
  // Sends one command; when it was delivered, waits (1 ms polls) for a tagged reply, at most
  // kReplyTimeoutMs, logging kReplyTimeoutLog if none came. True when the command was delivered.
  bool SendAndWait(const char* command);

 private:
  EngineState CycleStart();
  EngineState WaitIncoming();
  EngineState Ringing();
  EngineState Answer();
  EngineState AnswerCheck();
  EngineState WaitHold();
  EngineState Hold();
  EngineState WaitSecondCall();
  EngineState WaitSecondResponse();
  EngineState SecondOutcome();
  EngineState WaitTransfer();
  EngineState Conference();
  EngineState ConferenceEnd();
  EngineState Finished();

  // Whose call a status line names.
  enum class Whose { kFirst, kSecond, kOther };

  // Sleeps, then says whether to carry on (false once a stop is requested).
  bool Pause(std::uint32_t milliseconds);
  // Takes the next status line the client sent and the engine has not looked at yet into current_;
  // false when there is none.
  bool NextLine();
  void ReadFeed();
  Whose WhoseLine() const;
  bool StatusIs(const char* word) const { return current_.status == word; }
  // A line still waiting to be looked at names this call.
  bool MoreNewsOf(const std::string& id);
  // Formats one command of the table into command_ (ids for the format's further %s); false, and nothing
  // to send, when a call id it needs is empty.
  bool Format(const char* format, const std::string& id1 = std::string(), const std::string& id2 = std::string());
  // Format, then SendAndWait; true when the command was delivered.
  bool Send(const char* format, const std::string& id1 = std::string(), const std::string& id2 = std::string());
  void SetSecondCall(const std::string& id);
  // The caller was taken off hold in the client, or by Return: back to waiting for Hold.
  EngineState FirstCallResumed();
  void Log(const char* text) { log_.WriteLog(text); }
  void ApplyIdleButtons();
  void ApplyConferenceButtons();

  CallBoard& board_;
  CommandSender& sender_;
  Clock& clock_;
  DialogItems& items_;
  AudioRouting& routing_;
  LogWriter& log_;
  CallPhases& phases_;

  std::atomic<bool> stop_{false};
  EngineState state_ = EngineState::kCycleStart;
  // The client's status lines, read in order: where the engine stands in the feed, the lines taken
  // from it but not looked at yet, and the line looked at last.
  std::uint64_t feedPosition_ = 0;
  std::deque<CallStatusLine> unread_;
  CallStatusLine current_;
  // The last call seen ringing that is not one of this cycle's calls, while it still rings.
  std::string ringingNow_;
  // The incoming call watched in Ringing, and whether it ended without being answered.
  std::string ringingCallId_;
  bool ringingCallEnded_ = false;
  // This cycle's two calls; empty while there is none.
  std::string firstCallId_;
  std::string secondCallId_;
  char command_[kCommandBufferSize] = {};
};

}  // namespace halvane
