#include "engine/transfer_engine.h"

#include <algorithm>
#include <vector>

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

// Lines taken from the feed and not looked at yet, and further calls refused at once during a
// conference: more than a client ever has, so nothing real is dropped.
constexpr std::size_t kMostUnread = 64;
constexpr std::size_t kMostRefused = 8;

// The words with which a client reports that a call has ended, whoever ended it.
bool IsFinal(const std::string& status) {
  for (const char* word : {kFinished, kFailed, kMissed, kRefused, "BUSY", "CANCELLED"}) {
    if (status == word) return true;
  }
  return false;
}

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

bool TransferEngine::SendAndWait(const char* command) {
  // Nothing delivered means no reply can come: waiting would only stall the engine.
  if (!sender_.SendCommand(command)) return false;
  const std::uint64_t start = clock_.NowMs();
  while (!board_.replyReceived.load()) {
    if (clock_.NowMs() - start >= kReplyTimeoutMs) {
      Log(kReplyTimeoutLog);
      return true;
    }
    if (!Pause(1)) return true;
  }
  return true;
}

bool TransferEngine::Pause(std::uint32_t milliseconds) {
  clock_.Sleep(milliseconds);
  // Taken out of the feed at every pause, so a long wait loses no line of a burst; looked at later.
  ReadFeed();
  return !StopRequested();
}

void TransferEngine::ReadFeed() {
  feedPosition_ = board_.currentCall.ReadSince(feedPosition_, [this](const CallStatusLine& line) {
    if (unread_.size() >= kMostUnread) unread_.pop_front();
    unread_.push_back(line);
  });
}

bool TransferEngine::NextLine() {
  ReadFeed();
  if (unread_.empty()) return false;
  current_ = std::move(unread_.front());
  unread_.pop_front();
  // Remembered across states: a call that started ringing while the engine was busy elsewhere is
  // still the incoming call when the engine next waits for one.
  if (current_.id == ringingNow_ && !StatusIs(kRinging)) ringingNow_.clear();
  if (StatusIs(kRinging) && WhoseLine() == Whose::kOther) ringingNow_ = current_.id;
  return true;
}

TransferEngine::Whose TransferEngine::WhoseLine() const {
  if (!firstCallId_.empty() && current_.id == firstCallId_) return Whose::kFirst;
  if (!secondCallId_.empty() && current_.id == secondCallId_) return Whose::kSecond;
  return Whose::kOther;
}

bool TransferEngine::MoreNewsOf(const std::string& id) {
  ReadFeed();
  for (const CallStatusLine& line : unread_) {
    if (line.id == id) return true;
  }
  return false;
}

bool TransferEngine::Format(const char* format, const std::string& id1, const std::string& id2) {
  // Refused for a call command whose id is empty: the client could not act on it.
  return FormatCommand(command_, sizeof command_, format, id1.c_str(), id2.c_str());
}

bool TransferEngine::Send(const char* format, const std::string& id1, const std::string& id2) {
  if (!Format(format, id1, id2)) return false;
  return SendAndWait(command_);
}

void TransferEngine::SetSecondCall(const std::string& id) {
  secondCallId_ = id;
  board_.secondCallId.Store(id);
  if (!id.empty() && id == ringingNow_) ringingNow_.clear();
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
  if (!ringingNow_.empty()) {
    ringingCallId_ = ringingNow_;
    return EngineState::kRinging;
  }
  for (;;) {
    while (NextLine()) {
      if (StatusIs(kRinging)) {
        ringingCallId_ = current_.id;
        return EngineState::kRinging;
      }
    }
    if (!Pause(1000)) return EngineState::kStopped;
    if (board_.reconnectNeeded.load()) {
      Log(kLogReconnect);
      if (!ConnectToClient()) return EngineState::kStopped;
      Log(kLogWaitIncoming);
      board_.reconnectNeeded.store(false);
    }
  }
}

EngineState TransferEngine::Ringing() {
  Log(kLogRings);
  ringingCallEnded_ = false;
  if (!Pause(1000)) return EngineState::kStopped;
  for (;;) {
    while (NextLine()) {
      if (current_.id == ringingCallId_) {
        if (StatusIs(kInProgress) || StatusIs(kFailed) || StatusIs(kMissed) || StatusIs(kRefused)) {
          return EngineState::kAnswer;
        }
        // Ended in another way: the next call that rings is the one to answer.
        if (IsFinal(current_.status)) ringingCallEnded_ = true;
      } else if (ringingCallEnded_ && StatusIs(kRinging)) {
        ringingCallId_ = current_.id;
        ringingCallEnded_ = false;
      }
    }
    if (!Pause(100)) return EngineState::kStopped;
  }
}

EngineState TransferEngine::Answer() {
  Log(kLogAnswer);
  firstCallId_ = current_.id;
  board_.firstCallId.Store(firstCallId_);
  board_.holdRequest.store(false);
  if (!StatusIs(kInProgress)) return EngineState::kCycleStart;
  if (!Pause(1000)) return EngineState::kStopped;
  board_.callActive.store(true);
  Send(command::kAgcOn);
  ApplyAnswerPreset(routing_, clock_);
  return EngineState::kAnswerCheck;
}

EngineState TransferEngine::AnswerCheck() {
  while (NextLine()) {
    if (WhoseLine() == Whose::kFirst && IsFinal(current_.status)) return EngineState::kFinished;
  }
  return EngineState::kWaitHold;
}

EngineState TransferEngine::WaitHold() {
  ApplyIdleButtons();
  phases_.PhaseChanged(CallPhase::kCallActive);  // phase: call active (answered, or resumed)
  Log(kLogWaitHold);
  if (board_.holdRequest.load()) return EngineState::kHold;
  for (;;) {
    if (!Pause(100)) return EngineState::kStopped;
    // The caller hung up before Hold: nothing to finish on our side. Other calls' ends are theirs.
    while (NextLine()) {
      if (WhoseLine() == Whose::kFirst && IsFinal(current_.status)) return EngineState::kCycleStart;
    }
    if (board_.holdRequest.load()) return EngineState::kHold;
  }
}

EngineState TransferEngine::Hold() {
  Log(kLogHold);
  if (!Pause(1000)) return EngineState::kStopped;
  Send(command::kHold, firstCallId_);
  phases_.PhaseChanged(CallPhase::kCallerOnHold);  // phase: caller on hold
  if (!Pause(1000)) return EngineState::kStopped;
  Send(command::kOpenContacts);
  return EngineState::kWaitSecondCall;
}

EngineState TransferEngine::WaitSecondCall() {
  board_.transferAllowed.store(false);
  board_.returnRequest.store(false);
  board_.blindTransferRequest.store(false);
  SetSecondCall(std::string());
  Log(kLogWaitSecondCall);
  // Nothing is thrown away here: a hang-up during Hold's pauses is still to be read.
  for (;;) {
    while (NextLine()) {
      if (WhoseLine() == Whose::kFirst) {
        if (IsFinal(current_.status)) {
          Log(kLogFirstHangUp);
          return EngineState::kCycleStart;
        }
        // Only the caller's latest word counts: an older one may be from before the hold.
        if (StatusIs(kInProgress) && !MoreNewsOf(firstCallId_)) return FirstCallResumed();
      } else if (StatusIs(kRouting) || StatusIs(kRinging)) {
        // The operator's dial (an incoming ring looks the same and is taken alike).
        SetSecondCall(current_.id);
        return EngineState::kWaitSecondResponse;
      }
    }
    if (board_.returnRequest.load()) {
      Log(kLogReturn);
      Send(command::kResume, firstCallId_);
      board_.returnRequest.store(false);
    }
    if (!Pause(100)) return EngineState::kStopped;
  }
}

EngineState TransferEngine::WaitSecondResponse() {
  Log(kLogWaitSecondResponse);
  for (;;) {
    while (NextLine()) {
      const Whose whose = WhoseLine();
      const bool answeredOrEnded = StatusIs(kInProgress) || IsFinal(current_.status);
      if (whose == Whose::kSecond && answeredOrEnded) return EngineState::kSecondOutcome;
      if (whose == Whose::kFirst && answeredOrEnded && !MoreNewsOf(firstCallId_)) return EngineState::kSecondOutcome;
    }
    if (!Pause(1000)) return EngineState::kStopped;
  }
}

EngineState TransferEngine::SecondOutcome() {
  board_.transferRequest.store(false);
  board_.transferAllowed.store(true);

  if (WhoseLine() == Whose::kFirst) {
    // Taken off hold in the client: the operator is back with the caller.
    if (StatusIs(kInProgress)) return FirstCallResumed();
    // The held caller hung up: the dial has no one to be joined with.
    Send(command::kHangUp, secondCallId_);
    return EngineState::kFinished;
  }
  if (StatusIs(kInProgress)) return EngineState::kWaitTransfer;
  // The dial ended unanswered, however the client put it: dial again, or Return.
  SetSecondCall(std::string());
  Send(command::kNoReleased);
  return EngineState::kWaitSecondCall;
}

EngineState TransferEngine::FirstCallResumed() {
  Log(kLogResume);
  board_.holdRequest.store(false);
  board_.transferRequest.store(false);
  board_.transferAllowed.store(false);
  SetSecondCall(std::string());
  return EngineState::kWaitHold;
}

EngineState TransferEngine::WaitTransfer() {
  Log(kLogWaitTransfer);
  for (;;) {
    // Read before the request: a join is never sent for a call that has just ended.
    while (NextLine()) {
      const Whose whose = WhoseLine();
      if (whose == Whose::kSecond && IsFinal(current_.status)) {
        SetSecondCall(std::string());
        return EngineState::kWaitSecondCall;
      }
      if (whose != Whose::kFirst) continue;
      if (IsFinal(current_.status)) {
        Send(command::kHangUp, secondCallId_);
        return EngineState::kFinished;
      }
      if (StatusIs(kInProgress) && !MoreNewsOf(firstCallId_)) return FirstCallResumed();
    }
    if (board_.transferRequest.load()) return EngineState::kConference;
    if (!Pause(100)) return EngineState::kStopped;
    if (board_.blindTransferRequest.load()) {
      board_.transferRequest.store(true);
      board_.blindTransferRequest.store(false);
    }
  }
}

EngineState TransferEngine::Conference() {
  Log(kLogConference);
  if (!Send(command::kJoin, firstCallId_, secondCallId_)) {
    // Nothing was joined: the operator stays with both calls and may press Transfer again.
    board_.transferRequest.store(false);
    return EngineState::kWaitTransfer;
  }
  phases_.PhaseChanged(CallPhase::kJoined);  // phase: parties joined
  Send(command::kAgcOff);
  ApplyTransferPreset(routing_, clock_);
  ApplyConferenceButtons();

  // Further calls that ring now; each is refused every second while it rings. Only the end of one of
  // the two joined calls ends the conference: the client also reports the end of a refused call, and
  // its reply to our hang-up carries that status too.
  std::vector<std::string> ringing;
  const auto joinedCallEnded = [&] {
    while (NextLine()) {
      if (WhoseLine() != Whose::kOther) {
        if (IsFinal(current_.status)) return true;
        continue;
      }
      const auto it = std::find(ringing.begin(), ringing.end(), current_.id);
      if (!StatusIs(kRinging)) {
        if (it != ringing.end()) ringing.erase(it);
      } else if (it == ringing.end() && ringing.size() < kMostRefused) {
        ringing.push_back(current_.id);
      }
    }
    return false;
  };
  if (joinedCallEnded()) return EngineState::kConferenceEnd;
  for (;;) {
    if (!Pause(1000)) return EngineState::kStopped;
    if (joinedCallEnded()) return EngineState::kConferenceEnd;
    for (const std::string& id : ringing) {
      Log(kLogRefuse);
      Send(command::kHangUp, id);
    }
  }
}

EngineState TransferEngine::ConferenceEnd() {
  const std::string other = WhoseLine() == Whose::kFirst ? secondCallId_ : firstCallId_;
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
