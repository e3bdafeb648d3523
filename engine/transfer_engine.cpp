#include "engine/transfer_engine.h"

#include "engine/presets.h"
#include "link/protocol.h"

namespace halvane {
namespace {

constexpr char kRinging[] = "RINGING";
constexpr char kRouting[] = "ROUTING";
constexpr char kInProgress[] = "INPROGRESS";
constexpr char kFinished[] = "FINISHED";
constexpr char kFailed[] = "FAILED";
constexpr char kMissed[] = "MISSED";
constexpr char kRefused[] = "REFUSED";

constexpr char kLogAccess[] = "\n\naccess Skype successfully... ";
constexpr char kLogGetHandle[] = "get current user handle... ";
constexpr char kLogWaitIncoming[] = "\n\n=>wait for incoming call";
constexpr char kLogReconnect[] = "re-connect Skype\n";
constexpr char kLogRings[] = "\n=>incoming call rings";
constexpr char kLogAnswer[] = "\n=>answer incoming call";
constexpr char kLogWaitHold[] = "\n=>wait for hold button pressing";
constexpr char kLogHold[] = "\n=>hold incoming call";
constexpr char kLogWaitSecondCall[] = "\n=>wait for placing 2nd call";
constexpr char kLogResume[] = "\n=>1st call resume";
constexpr char kLogFirstHangUp[] = "\n=>1st call hangup";
constexpr char kLogReturn[] = "\n=>Return to caller";
constexpr char kLogWaitSecondResponse[] = "\n=>wait for 2nd call response";
constexpr char kLogWaitTransfer[] = "\n=>wait for transfer button pressing";
constexpr char kLogConference[] = "\n=>call transfered";
constexpr char kLogRefuse[] = "\n=>refuse another call";
constexpr char kLogFinished[] = "\n=>finished";

}  // namespace

const char* EngineStateName(EngineState state) {
  switch (state) {
    case EngineState::kCycleStart: return "CycleStart";
    case EngineState::kWaitIncoming: return "WaitIncoming";
    case EngineState::kRinging: return "Ringing";
    case EngineState::kAnswer: return "Answer";
    case EngineState::kAnswerCheck: return "AnswerCheck";
    case EngineState::kWaitHold: return "WaitHold";
    case EngineState::kHold: return "Hold";
    case EngineState::kWaitSecondCall: return "WaitSecondCall";
    case EngineState::kWaitSecondResponse: return "WaitSecondResponse";
    case EngineState::kSecondOutcome: return "SecondOutcome";
    case EngineState::kWaitTransfer: return "WaitTransfer";
    case EngineState::kConference: return "Conference";
    case EngineState::kConferenceEnd: return "ConferenceEnd";
    case EngineState::kFinished: return "Finished";
    case EngineState::kStopped: return "Stopped";
  }
  return "?";
}

TransferEngine::TransferEngine(CallBoard& board, CommandSender& sender, Clock& clock, DialogItems& items,
                               AudioRouting& routing, LogWriter& log, CallPhases& phases)
    : board_(board), sender_(sender), clock_(clock), items_(items), routing_(routing), log_(log), phases_(phases) {}

void TransferEngine::RunTransferEngine() {
  if (!StartUp()) return;
  while (state_ != EngineState::kStopped && !StopRequested()) Step();
  state_ = EngineState::kStopped;
}

bool TransferEngine::StartUp() {
  if (!ConnectToClient()) {
    state_ = EngineState::kStopped;
    return false;
  }
  Send(command::kOpenContacts);
  state_ = EngineState::kCycleStart;
  return true;
}

EngineState TransferEngine::Step() {
  switch (state_) {
    case EngineState::kCycleStart: state_ = CycleStart(); break;
    case EngineState::kWaitIncoming: state_ = WaitIncoming(); break;
    case EngineState::kRinging: state_ = Ringing(); break;
    case EngineState::kAnswer: state_ = Answer(); break;
    case EngineState::kAnswerCheck: state_ = AnswerCheck(); break;
    case EngineState::kWaitHold: state_ = WaitHold(); break;
    case EngineState::kHold: state_ = Hold(); break;
    case EngineState::kWaitSecondCall: state_ = WaitSecondCall(); break;
    case EngineState::kWaitSecondResponse: state_ = WaitSecondResponse(); break;
    case EngineState::kSecondOutcome: state_ = SecondOutcome(); break;
    case EngineState::kWaitTransfer: state_ = WaitTransfer(); break;
    case EngineState::kConference: state_ = Conference(); break;
    case EngineState::kConferenceEnd: state_ = ConferenceEnd(); break;
    case EngineState::kFinished: state_ = Finished(); break;
    case EngineState::kStopped: break;
  }
  return state_;
}

EngineState TransferEngine::RunUntil(EngineState target) {
  while (state_ != target && state_ != EngineState::kStopped && !StopRequested()) Step();
  return state_;
}

bool TransferEngine::ConnectToClient() {
  while (board_.apiWindow.load() == 0) {
    if (!Pause(100)) return false;
  }
  Log(kLogAccess);
  Log(kLogGetHandle);
  Send(command::kGetCurrentUserHandle);
  return true;
}

void TransferEngine::SendAndWait(const char* command) {
  // Nothing delivered means no reply can come: waiting would only stall the engine.
  if (!sender_.SendCommand(command)) return;
  const std::uint64_t start = clock_.NowMs();
  while (!board_.replyReceived.load()) {
    if (clock_.NowMs() - start >= kReplyTimeoutMs) {
      Log(kReplyTimeoutLog);
      return;
    }
    if (!Pause(1)) return;
  }
}

bool TransferEngine::Pause(std::uint32_t milliseconds) {
  clock_.Sleep(milliseconds);
  return !StopRequested();
}

bool TransferEngine::StatusIs(const char* word) const { return board_.currentCallStatus.Equals(word); }

bool TransferEngine::Format(const char* format, const std::string& id1, const std::string& id2) {
  // Refused for a call command whose id is empty: the client could not act on it.
  return FormatCommand(command_, sizeof command_, format, id1.c_str(), id2.c_str());
}

void TransferEngine::Send(const char* format, const std::string& id1, const std::string& id2) {
  if (Format(format, id1, id2)) SendAndWait(command_);
}

void TransferEngine::ApplyIdleButtons() {
  const WindowHandle dialog = board_.mainWindow.load();
  items_.EnableItem(dialog, kIdHold, true);
  items_.EnableItem(dialog, kIdTransfer, false);
  items_.EnableItem(dialog, kIdReturn, false);
  items_.EnableItem(dialog, kIdBlindTransfer, false);
}

void TransferEngine::ApplyConferenceButtons() {
  // Hold stays as the operator's Hold press left it.
  const WindowHandle dialog = board_.mainWindow.load();
  items_.EnableItem(dialog, kIdTransfer, false);
  items_.EnableItem(dialog, kIdReturn, false);
  items_.EnableItem(dialog, kIdBlindTransfer, false);
}

EngineState TransferEngine::CycleStart() {
  board_.currentCallId.Clear();
  board_.transferRequest.store(false);
  board_.holdRequest.store(false);
  board_.callActive.store(false);
  board_.transferAllowed.store(false);
  ApplyIdleButtons();
  phases_.PhaseChanged(CallPhase::kAtRest);  // phase: at rest
  return EngineState::kWaitIncoming;
}

EngineState TransferEngine::WaitIncoming() {
  Log(kLogWaitIncoming);
  board_.reconnectNeeded.store(false);
  if (StatusIs(kRinging)) return EngineState::kRinging;
  for (;;) {
    if (!Pause(1000)) return EngineState::kStopped;
    if (board_.reconnectNeeded.load()) {
      Log(kLogReconnect);
      if (!ConnectToClient()) return EngineState::kStopped;
      Log(kLogWaitIncoming);
      board_.reconnectNeeded.store(false);
    }
    if (StatusIs(kRinging)) return EngineState::kRinging;
  }
}

EngineState TransferEngine::Ringing() {
  Log(kLogRings);
  if (!Pause(1000)) return EngineState::kStopped;
  if (StatusIs(kInProgress)) return EngineState::kAnswer;
  for (;;) {
    if (StatusIs(kFailed) || StatusIs(kMissed) || StatusIs(kRefused)) return EngineState::kAnswer;
    if (!Pause(100)) return EngineState::kStopped;
    if (StatusIs(kInProgress)) return EngineState::kAnswer;
  }
}

EngineState TransferEngine::Answer() {
  Log(kLogAnswer);
  board_.firstCallId.Store(board_.currentCallId.Load());
  board_.holdRequest.store(false);
  if (!StatusIs(kInProgress)) return EngineState::kCycleStart;
  if (!Pause(1000)) return EngineState::kStopped;
  board_.callActive.store(true);
  Send(command::kAgcOn);
  ApplyAnswerPreset(routing_, clock_);
  return EngineState::kAnswerCheck;
}

EngineState TransferEngine::AnswerCheck() {
  return StatusIs(kFinished) ? EngineState::kFinished : EngineState::kWaitHold;
}

EngineState TransferEngine::WaitHold() {
  ApplyIdleButtons();
  phases_.PhaseChanged(CallPhase::kCallActive);  // phase: call active (answered, or resumed)
  Log(kLogWaitHold);
  if (board_.holdRequest.load()) return EngineState::kHold;
  for (;;) {
    if (!Pause(100)) return EngineState::kStopped;
    // The caller hung up before Hold: nothing to finish on our side.
    if (StatusIs(kFinished)) return EngineState::kCycleStart;
    if (board_.holdRequest.load()) return EngineState::kHold;
  }
}

EngineState TransferEngine::Hold() {
  Log(kLogHold);
  if (!Pause(1000)) return EngineState::kStopped;
  Send(command::kHold, board_.firstCallId.Load());
  phases_.PhaseChanged(CallPhase::kCallerOnHold);  // phase: caller on hold
  if (!Pause(1000)) return EngineState::kStopped;
  Send(command::kOpenContacts);
  return EngineState::kWaitSecondCall;
}

EngineState TransferEngine::WaitSecondCall() {
  board_.transferAllowed.store(false);
  board_.returnRequest.store(false);
  board_.blindTransferRequest.store(false);
  Log(kLogWaitSecondCall);
  board_.currentCallStatus.Clear();

  // The status is written after its id, so the id read here belongs to that status or a later one.
  const auto secondCallSeen = [this] {
    ringingSecondCallId_ = board_.currentCallId.Load();
    return EngineState::kWaitSecondResponse;
  };
  if (StatusIs(kRinging)) return secondCallSeen();
  for (;;) {
    if (StatusIs(kRouting)) return secondCallSeen();
    if (StatusIs(kInProgress)) {
      Log(kLogResume);
      board_.holdRequest.store(false);
      board_.transferRequest.store(false);
      board_.currentCallStatus.Clear();
      return EngineState::kWaitHold;
    }
    if (StatusIs(kFinished)) {
      Log(kLogFirstHangUp);
      return EngineState::kCycleStart;
    }
    if (board_.returnRequest.load()) {
      Log(kLogReturn);
      Send(command::kResume, board_.firstCallId.Load());
      board_.returnRequest.store(false);
    }
    if (!Pause(100)) return EngineState::kStopped;
    if (StatusIs(kRinging)) return secondCallSeen();
  }
}

EngineState TransferEngine::WaitSecondResponse() {
  Log(kLogWaitSecondResponse);
  board_.currentCallStatus.Clear();
  if (StatusIs(kInProgress)) return EngineState::kSecondOutcome;
  for (;;) {
    if (StatusIs(kFailed) || StatusIs(kMissed) || StatusIs(kFinished) || StatusIs(kRefused)) {
      return EngineState::kSecondOutcome;
    }
    if (!Pause(1000)) return EngineState::kStopped;
    if (StatusIs(kInProgress)) return EngineState::kSecondOutcome;
  }
}

EngineState TransferEngine::SecondOutcome() {
  const std::string current = board_.currentCallId.Load();
  const bool namesFirstCall = current == board_.firstCallId.Load();
  if (!namesFirstCall) board_.secondCallId.Store(current);
  board_.transferRequest.store(false);
  board_.transferAllowed.store(true);

  if (StatusIs(kFinished)) {
    // When the held caller is the one who hung up, the call still ringing is the one placed by the
    // operator, not whatever an earlier cycle left as the second call.
    const std::string second = namesFirstCall ? ringingSecondCallId_ : board_.secondCallId.Load();
    Send(command::kHangUp, second);
    return EngineState::kFinished;
  }
  if (StatusIs(kFailed) || StatusIs(kMissed) || StatusIs(kRefused)) {
    Send(command::kNoReleased);
    return EngineState::kWaitSecondCall;
  }
  if (StatusIs(kInProgress)) return EngineState::kWaitTransfer;
  if (!Pause(1000)) return EngineState::kStopped;
  return EngineState::kAnswerCheck;
}

EngineState TransferEngine::WaitTransfer() {
  Log(kLogWaitTransfer);
  for (;;) {
    if (board_.transferRequest.load()) return EngineState::kConference;
    if (!Pause(100)) return EngineState::kStopped;
    if (board_.blindTransferRequest.load()) {
      board_.transferRequest.store(true);
      board_.blindTransferRequest.store(false);
    }
    if (StatusIs(kFinished)) return EngineState::kWaitSecondCall;
  }
}

EngineState TransferEngine::Conference() {
  Log(kLogConference);
  Send(command::kJoin, board_.firstCallId.Load(), board_.secondCallId.Load());
  phases_.PhaseChanged(CallPhase::kJoined);  // phase: parties joined
  Send(command::kAgcOff);
  ApplyTransferPreset(routing_, clock_);
  ApplyConferenceButtons();

  // Only the end of one of the two joined calls ends the conference: the client also reports the end
  // of a further call refused here, and its reply to our hang-up carries that status too.
  const auto joinedCallFinished = [this] {
    if (!StatusIs(kFinished)) return false;
    const std::string id = board_.currentCallId.Load();
    return !id.empty() && (id == board_.firstCallId.Load() || id == board_.secondCallId.Load());
  };
  if (joinedCallFinished()) return EngineState::kConferenceEnd;
  for (;;) {
    if (!Pause(1000)) return EngineState::kStopped;
    if (StatusIs(kRinging)) {
      Log(kLogRefuse);
      Send(command::kHangUp, board_.currentCallId.Load());
    }
    if (joinedCallFinished()) return EngineState::kConferenceEnd;
  }
}

EngineState TransferEngine::ConferenceEnd() {
  const bool firstEnded = board_.currentCallId.Load() == board_.firstCallId.Load();
  const std::string other = firstEnded ? board_.secondCallId.Load() : board_.firstCallId.Load();
  Send(command::kHangUp, other);
  board_.transferRequest.store(false);
  board_.holdRequest.store(false);
  return EngineState::kFinished;
}

EngineState TransferEngine::Finished() {
  board_.callActive.store(false);
  board_.transferAllowed.store(false);
  Log(kLogFinished);
  Send(command::kAgcOn);
  ApplyAnswerPreset(routing_, clock_);
  // Its reply is not waited for: the cycle is over.
  if (Format(command::kMinimize)) sender_.SendCommand(command_);
  return EngineState::kCycleStart;
}

}  // namespace halvane
