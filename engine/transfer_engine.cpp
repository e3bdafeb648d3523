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

// Further calls refused at once during a conference, and calls remembered ringing: more than a
// client ever has, so nothing real is dropped.
constexpr std::size_t kMostRefused = 8;
constexpr std::size_t kMostRinging = 8;
constexpr std::size_t kMostRang = 32;

bool IsFinal(const std::string& status) { return IsCallEnd(status); }

bool IsHeld(const std::string& status) { return status == "LOCALHOLD" || status == "ONHOLD"; }

// A call still being set up: it goes on ringing (a pending redial included).
bool StillRings(const std::string& status) {
  for (const char* word : {kRinging, kRouting, "EARLYMEDIA", "UNPLACED", "REDIAL_PENDING"}) {
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
constexpr char kLogJoinRefused[] = "\n=>join refused by Skype";
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
  reconnecting_ = true;  // connecting already
  const bool connected = ConnectToClient();
  reconnecting_ = false;
  if (!connected) {
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
  lastReplyError_ = false;
  if (!sender_.SendCommand(command)) return false;
  const std::uint64_t start = clock_.NowMs();
  inReplyWait_ = true;  // a reconnection waits until this reply is settled
  while (!board_.replyReceived.load()) {
    if (clock_.NowMs() - start >= kReplyTimeoutMs) {
      Log(kReplyTimeoutLog);
      inReplyWait_ = false;
      return true;
    }
    if (!Pause(1)) break;
  }
  inReplyWait_ = false;
  lastReplyError_ = board_.replyReceived.load() && board_.replyError.load();
  return true;
}

bool TransferEngine::Pause(std::uint32_t milliseconds) {
  clock_.Sleep(milliseconds);
  // In any state; at rest the wait for a call does it itself, between its own log lines.
  if (!reconnecting_ && !inReplyWait_ && state_ != EngineState::kWaitIncoming && board_.reconnectNeeded.load()) {
    Reconnect();
  }
  return !StopRequested();
}

void TransferEngine::PullNews() {
  std::vector<std::string> kept;
  if (cycleLive_) kept = {firstCallId_, secondCallId_};
  kept.push_back(parked_);
  kept.push_back(answered_);
  board_.calls.Keep(kept);
  for (CallStatusLine& line : board_.calls.TakeNews()) unread_.push_back(std::move(line));
}

bool TransferEngine::NextLine() {
  if (unread_.empty()) PullNews();
  if (unread_.empty()) return false;
  current_ = std::move(unread_.front());
  unread_.pop_front();
  // Remembered across states: calls that started ringing while the engine was busy elsewhere are
  // still incoming calls when the engine next waits for one, and one answered meanwhile is taken on.
  const auto it = std::find(ringing_.begin(), ringing_.end(), current_.id);
  wasRinging_ = it != ringing_.end();
  if (WhoseLine() != Whose::kOther) return true;
  if (StatusIs(kRinging)) {
    if (!wasRinging_ && ringing_.size() < kMostRinging) ringing_.push_back(current_.id);
  } else if (wasRinging_ && !StillRings(current_.status)) {
    ringing_.erase(it);
    if (StatusIs(kInProgress) && state_ != EngineState::kRinging) answered_ = current_.id;
  }
  if (StillRings(current_.status) && std::find(rang_.begin(), rang_.end(), current_.id) == rang_.end()) {
    if (rang_.size() >= kMostRang) rang_.pop_front();
    rang_.push_back(current_.id);
  }
  if (IsFinal(current_.status)) {
    if (current_.id == answered_) answered_.clear();
    if (current_.id == parked_) parked_.clear();
  }
  return true;
}

TransferEngine::Whose TransferEngine::WhoseLine() const {
  if (!firstCallId_.empty() && current_.id == firstCallId_) return Whose::kFirst;
  if (!secondCallId_.empty() && current_.id == secondCallId_) return Whose::kSecond;
  return Whose::kOther;
}

bool TransferEngine::MoreNewsOf(const std::string& id) {
  for (const CallStatusLine& line : unread_) {
    if (line.id == id) return true;
  }
  return board_.calls.HasNews(id);
}

bool TransferEngine::EndKnown(const std::string& id) {
  for (const CallStatusLine& line : unread_) {
    if (line.id == id && IsFinal(line.status)) return true;
  }
  return IsFinal(board_.calls.StatusOf(id));
}

void TransferEngine::HangUpIfLive(const std::string& id) {
  if (!id.empty() && !EndKnown(id)) Send(command::kHangUp, id);
}

std::vector<std::string> TransferEngine::Followed() const {
  std::vector<std::string> ids;
  const auto add = [&ids](const std::string& id) {
    if (!id.empty() && std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
  };
  if (cycleLive_) add(firstCallId_), add(secondCallId_);
  add(parked_);
  add(answered_);
  for (const std::string& id : ringing_) add(id);
  // Every other call the client reported, and calls whose lines are still to be looked at.
  for (const std::string& id : board_.calls.Ids()) add(id);
  for (const CallStatusLine& line : unread_) {
    if (!IsFinal(line.status)) add(line.id);
  }
  return ids;
}

void TransferEngine::Reconnect() {
  reconnecting_ = true;
  board_.reconnectNeeded.store(false);
  Log(kLogReconnect);
  if (ConnectToClient()) {
    PullNews();
    for (const std::string& id : Followed()) {
      // The reply is the call's status line, read like any other; an error means the client no
      // longer knows the call (it restarted), which ends it as a reported end would.
      if (Send(command::kGetCallStatus, id) && lastReplyError_) {
        board_.calls.Forget(id);
        PullNews();
        unread_.push_back(CallStatusLine{id, kFinished});
      }
    }
  }
  reconnecting_ = false;
}

std::string TransferEngine::TalkingOther() const {
  for (const std::string* id : {&parked_, &answered_}) {
    if (!id->empty() && board_.calls.StatusOf(*id) == kInProgress) return *id;
  }
  // Another call that rang or was dialled here and talks while the caller is held (a call the client
  // reports talking that never rang is not taken for a party).
  for (const std::string& id : rang_) {
    if (id != firstCallId_ && board_.calls.StatusOf(id) == kInProgress) return id;
  }
  return std::string();
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
  const auto it = std::find(ringing_.begin(), ringing_.end(), id);
  if (it != ringing_.end()) ringing_.erase(it);
}

void TransferEngine::ApplyIdleButtons() {
  const WindowHandle dialog = board_.mainWindow.load();
  items_.EnableItem(dialog, kIdHold, true);
  items_.EnableItem(dialog, kIdTransfer, false);
  items_.EnableItem(dialog, kIdReturn, false);
  items_.EnableItem(dialog, kIdBlindTransfer, false);
}

void TransferEngine::ApplyHeldButtons() {
  // As the operator's Hold press leaves them.
  const WindowHandle dialog = board_.mainWindow.load();
  items_.EnableItem(dialog, kIdHold, false);
  items_.EnableItem(dialog, kIdTransfer, true);
  items_.EnableItem(dialog, kIdReturn, true);
  items_.EnableItem(dialog, kIdBlindTransfer, true);
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
  cycleLive_ = false;
  Unpark();
  ApplyIdleButtons();
  phases_.PhaseChanged(CallPhase::kAtRest);  // phase: at rest
  return EngineState::kWaitIncoming;
}

EngineState TransferEngine::WaitIncoming() {
  Log(kLogWaitIncoming);
  // Back at rest with calls still remembered: a client that came back meanwhile is asked about them.
  if (board_.reconnectNeeded.load() && !Followed().empty()) Reconnect();
  board_.reconnectNeeded.store(false);
  if (!ringing_.empty() || !answered_.empty()) return EngineState::kRinging;
  for (;;) {
    // Every line there is first: a caller who rang and gave up meanwhile is not waited for.
    while (NextLine()) {
    }
    if (!ringing_.empty() || !answered_.empty()) return EngineState::kRinging;
    if (!Pause(1000)) return EngineState::kStopped;
    if (board_.reconnectNeeded.load()) {
      Reconnect();
      if (StopRequested()) return EngineState::kStopped;
      Log(kLogWaitIncoming);
    }
  }
}

EngineState TransferEngine::Ringing() {
  Log(kLogRings);
  if (!Pause(1000)) return EngineState::kStopped;
  for (;;) {
    if (!answered_.empty()) {
      current_ = CallStatusLine{answered_, kInProgress};
      return EngineState::kAnswer;
    }
    // Whichever ringing call is answered is the caller; one that stops ringing otherwise leaves the
    // others ringing, and with none left the cycle starts over.
    while (NextLine()) {
      if (!wasRinging_) continue;
      if (StatusIs(kInProgress)) return EngineState::kAnswer;
      if (ringing_.empty()) return EngineState::kAnswer;
    }
    if (!Pause(100)) return EngineState::kStopped;
  }
}

EngineState TransferEngine::Answer() {
  Log(kLogAnswer);
  firstCallId_ = current_.id;
  board_.firstCallId.Store(firstCallId_);
  board_.holdRequest.store(false);
  answered_.clear();
  ringing_.erase(std::remove(ringing_.begin(), ringing_.end(), firstCallId_), ringing_.end());
  if (!StatusIs(kInProgress)) return EngineState::kCycleStart;
  cycleLive_ = true;
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
    // The caller hung up before Hold: nothing to finish on our side but a parked second party still
    // on the line. Other calls' ends are theirs.
    while (NextLine()) {
      if (WhoseLine() != Whose::kFirst) continue;
      if (IsFinal(current_.status)) {
        HangUpIfLive(parked_);
        return EngineState::kCycleStart;
      }
    }
    // Held in the client (the hold line may have been read while answering).
    if (IsHeld(board_.calls.StatusOf(firstCallId_)) && !MoreNewsOf(firstCallId_)) return CallerHeldInClient();
    if (board_.holdRequest.load()) return EngineState::kHold;
  }
}

EngineState TransferEngine::Hold() {
  Log(kLogHold);
  if (!Pause(1000)) return EngineState::kStopped;
  if (Send(command::kHold, firstCallId_) && lastReplyError_) {
    // Not held: the operator is still talking to the caller.
    board_.holdRequest.store(false);
    return EngineState::kWaitHold;
  }
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
    const std::string talking = TalkingOther();
    if (!talking.empty() && !MoreNewsOf(talking)) return SecondPartyTalking(talking);
    while (NextLine()) {
      if (WhoseLine() == Whose::kFirst) {
        if (IsFinal(current_.status)) {
          Log(kLogFirstHangUp);
          notices_->Notify(Notice::kHeldCallerHungUp, nullptr);
          HangUpIfLive(parked_);
          return EngineState::kCycleStart;
        }
        // Only the caller's latest word counts: an older one may be from before the hold.
        if (StatusIs(kInProgress) && !MoreNewsOf(firstCallId_)) return FirstCallResumed();
      } else if (StatusIs(kRouting) || StatusIs(kRinging)) {
        // The operator's dial (an incoming ring looks the same and is taken alike).
        SetSecondCall(current_.id);
        return EngineState::kWaitSecondResponse;
      } else if (StatusIs(kInProgress) && !MoreNewsOf(current_.id)) {
        // The operator talks to another call (resumed or answered in the client): the second party.
        return SecondPartyTalking(current_.id);
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
    if (board_.returnRequest.load()) return ReturnFromSecondCall();
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
    notices_->Notify(Notice::kHeldCallerHungUp, nullptr);
    HangUpIfLive(secondCallId_);
    return EngineState::kFinished;
  }
  if (StatusIs(kInProgress)) return EngineState::kWaitTransfer;
  // The dial ended unanswered, however the client put it: dial again, or Return.
  notices_->Notify(Notice::kDialUnanswered, nullptr);
  SetSecondCall(std::string());
  Send(command::kNoReleased);
  return EngineState::kWaitSecondCall;
}

EngineState TransferEngine::FirstCallResumed() {
  Log(kLogResume);
  board_.holdRequest.store(false);
  board_.transferRequest.store(false);
  board_.transferAllowed.store(false);
  // Held by the client now, not ended: taken up again when the operator goes back to it.
  if (!secondCallId_.empty()) {
    Unpark();
    parked_ = secondCallId_;
  }
  SetSecondCall(std::string());
  return EngineState::kWaitHold;
}

void TransferEngine::Unpark() {
  // A parked call that still rings is a ringing call like any other again; one the operator talks to
  // is the next caller.
  const std::string status = parked_.empty() ? std::string() : board_.calls.StatusOf(parked_);
  if (StillRings(status) && ringing_.size() < kMostRinging &&
      std::find(ringing_.begin(), ringing_.end(), parked_) == ringing_.end()) {
    ringing_.push_back(parked_);
  }
  if (status == kInProgress && answered_.empty()) answered_ = parked_;
  parked_.clear();
}

EngineState TransferEngine::ReturnFromSecondCall() {
  // Return while dialling or talking to the second party: that call ends, then the caller is resumed as
  // from WaitSecondCall, whose own reading takes the resumed caller back to WaitHold.
  Log(kLogReturn);
  HangUpIfLive(secondCallId_);
  SetSecondCall(std::string());
  board_.transferAllowed.store(false);
  Send(command::kResume, firstCallId_);  // the caller back
  board_.returnRequest.store(false);
  return EngineState::kWaitSecondCall;
}

EngineState TransferEngine::CallerHeldInClient() {
  ApplyHeldButtons();
  phases_.PhaseChanged(CallPhase::kCallerOnHold);  // phase: caller on hold
  return EngineState::kWaitSecondCall;
}

EngineState TransferEngine::SecondPartyTalking(const std::string& id) {
  if (id == parked_) parked_.clear();
  if (id == answered_) answered_.clear();
  SetSecondCall(id);
  board_.transferRequest.store(false);
  board_.transferAllowed.store(true);
  return EngineState::kWaitTransfer;
}

EngineState TransferEngine::WaitTransfer() {
  if (!joinRefused_) Log(kLogWaitTransfer);
  joinRefused_ = false;
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
        notices_->Notify(Notice::kHeldCallerHungUp, nullptr);
        HangUpIfLive(secondCallId_);
        return EngineState::kFinished;
      }
      if (StatusIs(kInProgress) && !MoreNewsOf(firstCallId_)) return FirstCallResumed();
    }
    if (board_.transferRequest.load()) return EngineState::kConference;
    if (board_.returnRequest.load()) return ReturnFromSecondCall();
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
  if (lastReplyError_) {
    // Nothing was joined: the caller stays held, the operator with the second party.
    Log(kLogJoinRefused);
    notices_->Notify(Notice::kJoinRefused, nullptr);
    board_.transferRequest.store(false);
    joinRefused_ = true;
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
  HangUpIfLive(other);
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
