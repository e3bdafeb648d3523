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
#include "base/call_roles.h"
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
  // The calls of the cycle, as the engine follows them (read on the engine's thread, as the tests do).
  const std::string& FirstCall() const { return roles_.caller; }
  const std::string& SecondCall() const { return roles_.second; }

  // Waits (100 ms polls) until the client is attached, then asks for the protocol (logging the one the
  // client speaks) and the user handle. False when a stop was requested while waiting.
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
  // again, then the status of every call followed. Only the client's word for an unknown call ends one;
  // any other error, or no reply, leaves it unknown and it is asked about again at the next look.
  void Reconnect();
  void AskAbout(const std::vector<std::string>& ids);
  // At every connect: the client's live calls, then each one's status. Those the engine did not know
  // are taken as a fresh start takes them (LiveCallFound); returns every id the client named.
  std::vector<std::string> AskForLiveCalls();
  // A call first heard of at a connect, talking or held, is the caller when no cycle runs (its
  // status line is then read as an answer).
  void LiveCallFound(const std::string& id);
  // The far end's name of a call that becomes the caller or the second party, once per call: its
  // display name, or its handle when the client answered with no display name.
  void AskName(const std::string& id);
  // The calls the engine follows now: every call with a role, and every other call the client
  // reported that may still be live.
  std::vector<std::string> Followed() const;
  // The call's end was already reported (looked at or still waiting to be).
  bool EndKnown(const std::string& id);
  void HangUpIfLive(const std::string& id);
  // A call of the operator's other than the caller that talks and rang or was dialled here.
  std::string TalkingOther() const;
  // The caller is held and another call of the operator's is talking: it is the second party.
  EngineState SecondPartyTalking(const std::string& id);
  // The cycle's parties once its caller is gone: one still talking is the next caller, one still
  // ringing that nobody dialled here rings on, every other one (held, or this cycle's dial) is hung up.
  void LetGoOfParties();
  // The caller was put on hold in the client while the engine waited for Hold (a dial made in the
  // client meanwhile is the second call).
  EngineState CallerHeldInClient();
  void ApplyHeldButtons();
  // The caller was taken off hold in the client, or by Return: back to waiting for Hold.
  EngineState FirstCallResumed();
  // An error reply to the command numbered tag came after its wait ran out; tag is then cleared.
  bool LateErrorTo(std::uint32_t& tag);
  // The client refused the join, in time or late: the log line and the notice.
  void TellJoinRefused();
  // The one place that decides what each operator request does in the waiting state running now.
  // Returns that state to go on waiting, or the state that follows.
  EngineState ActOnRequests();
  // Return while the caller is held: the dial or second party hung up first, then the caller resumed.
  EngineState ReturnToCaller();
  bool IsWaitingWithCallerHeld() const;
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
  // The calls with a part in a transfer; the caller is followed from its answer until the cycle
  // starts over.
  CallRoles roles_;
  bool cycleLive_ = false;
  // The join was refused: the wait for Transfer goes on without a second log line.
  bool joinRefused_ = false;
  // The join was sent and no reply came: not a conference until the client reports one.
  bool joinPending_ = false;
  std::uint64_t commandsAtJoin_ = 0;
  // The Return pressed while a dial or second party was up: the wait for a dial goes on quietly.
  bool returning_ = false;
  // The reply to the last command waited for: whether it came, was an error, and the error's number.
  bool lastReplyError_ = false;
  bool lastReplyCame_ = false;
  // The number of the last command formatted; of a hold and a join whose reply never came in time.
  std::uint32_t lastTag_ = 0;
  std::uint32_t holdTag_ = 0;
  std::uint32_t joinTag_ = 0;
  int lastReplyNumber_ = 0;
  std::uint64_t commandsSent_ = 0;
  // Calls whose status a reconnection could not learn, and how often they were asked about since.
  std::vector<std::string> askAgain_;
  // Calls first heard of at the last connect, their status lines not read yet; the live calls the
  // client named then; calls whose name was asked for (the latest kMostNamed).
  std::vector<std::string> foundAtConnect_;
  std::vector<std::string> liveAtConnect_;
  std::vector<std::string> named_;
  int askedAgain_ = 0;
  std::uint64_t askedAt_ = 0;
  bool reconnecting_ = false;
  bool inReplyWait_ = false;
  char command_[kCommandBufferSize] = {};
};

}  // namespace halvane
