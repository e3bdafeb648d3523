#pragma once
// The transfer engine: the worker thread's polling procedure that follows one incoming call from ringing
// to the end of its transfer, then starts over. It never answers or dials; it watches the call board,
// acts on the operator's requests, sends the client its commands, switches the mixer and the buttons,
// and logs its progress.

#include <atomic>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "base/call_board.h"
#include "base/clock.h"
#include "base/log_writer.h"
#include "base/notices.h"
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

  // Where the engine reports a dial that ended unanswered, a held caller who hung up and a refused join.
  void SetNotices(Notices& notices) { notices_ = &notices; }

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
  // Takes what the call table holds that the engine has not seen yet, after the lines already taken.
  void PullNews();
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
  // The client is back (restarted, its user signed in again, or found after a loss): the user handle
  // again, then the status of every call followed; one it no longer knows counts as ended.
  void Reconnect();
  // The calls the engine follows now: this cycle's calls, the parked one, the ringing ones, and every
  // other call the client reported that may still be live.
  std::vector<std::string> Followed() const;
  // The call's end was already reported (looked at or still waiting to be).
  bool EndKnown(const std::string& id);
  void HangUpIfLive(const std::string& id);
  // A call of the operator's other than the caller that is talking: a remembered one (parked, or
  // answered while the engine was busy), or one seen ringing or dialled here.
  std::string TalkingOther() const;
  // The caller is held and another call of the operator's is talking: it is the second party.
  EngineState SecondPartyTalking(const std::string& id);
  // Lets go of the parked call: back among the ringing calls if it still rings.
  void Unpark();
  // The caller was put on hold in the client while the engine waited for Hold.
  EngineState CallerHeldInClient();
  void ApplyHeldButtons();
  // The caller was taken off hold in the client, or by Return: back to waiting for Hold.
  EngineState FirstCallResumed();
  // The operator's Return while a second call rings or talks: it is hung up and the caller resumed.
  EngineState ReturnFromSecondCall();
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
  Notices* notices_ = &NoNotices();
  // The client's status lines, read in order: the lines taken from the call table but not looked at
  // yet, and the line looked at last (and whether its call was ringing until then).
  std::deque<CallStatusLine> unread_;
  CallStatusLine current_;
  bool wasRinging_ = false;
  // Calls seen ringing that are not one of this cycle's calls, while they ring, oldest first.
  std::vector<std::string> ringing_;
  // A ringing call that was answered while the engine was busy with another: the next first call.
  std::string answered_;
  // This cycle's two calls; empty while there is none. The first is followed from its answer until
  // the cycle starts over.
  std::string firstCallId_;
  std::string secondCallId_;
  bool cycleLive_ = false;
  // The last calls seen ringing or being dialled, oldest first.
  std::deque<std::string> rang_;
  // The second party while the operator is back with the caller; still the second party if resumed.
  std::string parked_;
  // The join was refused: the wait for Transfer goes on without a second log line.
  bool joinRefused_ = false;
  // The reply to the last command waited for was an error.
  bool lastReplyError_ = false;
  bool reconnecting_ = false;
  bool inReplyWait_ = false;
  char command_[kCommandBufferSize] = {};
};

}  // namespace halvane
