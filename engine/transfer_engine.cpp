#include "engine/transfer_engine.h"

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <vector>

#include "engine/presets.h"
#include "link/protocol.h"

namespace halvane {
namespace {

constexpr char kRinging[] = "RINGING";
constexpr char kRouting[] = "ROUTING";
constexpr char kInProgress[] = "INPROGRESS";
constexpr char kFinished[] = "FINISHED";

// How often a call whose status a reconnection could not learn is asked about again, a second apart.
constexpr int kMostAskedAgain = 5;

// Calls whose name was asked for, remembered so that none is asked twice.
constexpr std::size_t kMostNamed = 16;

bool IsFinal(const std::string& status) { return IsCallEnd(status); }

// Held by the operator. A protocol-1 client reports every hold as ONHOLD, the far end's too: there
// only a hold Halvane asked for is the operator's.
bool IsHeld(const std::string& status, int protocol) {
  return status == "LOCALHOLD" || (status == "ONHOLD" && protocol >= 2);
}

// The client's errors for a call it does not know: GET CALL's and SET CALL's.
bool UnknownCall(int number) { return number == 11 || number == 12 || number == 19 || number == 20; }

// A dial's first words: a call placed by the operator, not one that rings in.
bool IsDialStart(const std::string& status) {
  return status == "UNPLACED" || status == "ROUTING" || status == "EARLYMEDIA";
}

// A call still being set up: it goes on ringing (a pending redial included).
bool StillRings(const std::string& status) {
  for (const char* word : {kRinging, kRouting, "EARLYMEDIA", "UNPLACED", "REDIAL_PENDING", "WAITING_REDIAL_COMMAND"}) {
    if (status == word) return true;
  }
  return false;
}

constexpr char kLogAccess[] = "\n\naccess Skype successfully... ";
constexpr char kLogGetHandle[] = "get current user handle... ";
constexpr char kLogProtocol[] = "protocol %d... ";
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
  // A client that does not answer speaks the protocol it spoke before it was asked.
  board_.clientProtocol.store(1);
  Send(command::kProtocol);
  char line[sizeof kLogProtocol + 16];
  std::snprintf(line, sizeof line, kLogProtocol, board_.clientProtocol.load());
  Log(line);
  Log(kLogGetHandle);
  Send(command::kGetCurrentUserHandle);
  liveAtConnect_ = AskForLiveCalls();
  return true;
}

std::vector<std::string> TransferEngine::AskForLiveCalls() {
  foundAtConnect_.clear();
  board_.activeCalls.Clear();
  std::vector<std::string> ids;
  if (!Send(command::kSearchActiveCalls) || !lastReplyCame_ || lastReplyError_) return ids;
  std::string list = board_.activeCalls.Load();
  // A list cut at the board's width ends in a piece of an id, which names no call.
  if (list.size() == CallListText::kCapacity) list.erase(list.rfind(',') == std::string::npos ? 0 : list.rfind(','));
  std::replace(list.begin(), list.end(), ',', ' ');
  std::istringstream words(list);
  for (std::string id; words >> id;) {
    if (id.size() <= CallTable::kIdCapacity) CallRoles::Add(ids, id);
  }
  // Calls up before Halvane heard of them (started, or restarted, mid-call).
  for (const std::string& id : ids) {
    if (board_.calls.StatusOf(id).empty() && !roles_.RangHere(id)) CallRoles::Add(foundAtConnect_, id);
  }
  AskAbout(ids);
  return ids;
}

void TransferEngine::LiveCallFound(const std::string& id) {
  CallRoles::Drop(foundAtConnect_, id);
  // A ringing call rings as any other does; one talking or held is the operator's.
  if (!StatusIs(kInProgress) && !StatusIs("LOCALHOLD") && !StatusIs("ONHOLD")) return;
  roles_.NoteRang(id);  // it may become a party, as a call that rang here may
  if (!cycleLive_ && roles_.answered.empty()) roles_.answered = id;
}

void TransferEngine::AskName(const std::string& id) {
  if (id.empty() || CallRoles::In(named_, id) || EndKnown(id)) return;
  named_.push_back(id);
  if (named_.size() > kMostNamed) named_.erase(named_.begin());
  // The answer is read by the link; the engine only learns whether one came. An error (the call is
  // gone) or no answer leaves the call named by its id.
  if (Send(command::kGetPartnerName, id) && lastReplyCame_ && !lastReplyError_ && board_.names.NameOf(id).empty()) {
    Send(command::kGetPartnerHandle, id);
  }
}

bool TransferEngine::SendAndWait(const char* command) {
  // Nothing delivered means no reply can come: waiting would only stall the engine.
  // The number is read only with the flag.
  lastReplyError_ = lastReplyCame_ = false;
  ++commandsSent_;
  if (!sender_.SendCommand(command)) return false;
  const std::uint64_t start = clock_.NowMs();
  inReplyWait_ = true;  // a reconnection waits until this reply is settled
  while (!board_.ReplyReceived()) {
    if (clock_.NowMs() - start >= kReplyTimeoutMs) {
      Log(kReplyTimeoutLog);
      inReplyWait_ = false;
      return true;
    }
    if (!Pause(1)) break;
  }
  inReplyWait_ = false;
  lastReplyCame_ = board_.ReplyReceived();
  lastReplyError_ = lastReplyCame_ && board_.replyError.load();
  lastReplyNumber_ = lastReplyError_ ? board_.replyErrorNumber.load() : 0;
  return true;
}

bool TransferEngine::Pause(std::uint32_t milliseconds) {
  clock_.Sleep(milliseconds);
  // In any state; at rest the wait for a call does it itself, between its own log lines.
  if (!reconnecting_ && !inReplyWait_ && state_ != EngineState::kWaitIncoming && board_.reconnectNeeded.load()) {
    Reconnect();
  }
  if (!reconnecting_ && !inReplyWait_ && !askAgain_.empty() && clock_.NowMs() - askedAt_ >= 1000) {
    std::vector<std::string> ids;
    ids.swap(askAgain_);
    if (++askedAgain_ <= kMostAskedAgain) AskAbout(ids);
  }
  return !StopRequested();
}


void TransferEngine::PullNews() {
  // Calls whose lines are taken but not yet read are protected too: one may be a caller who rang
  // while the engine waited for a reply, and whose end must not make room for a burst of others.
  const auto keep = [this] {
    std::vector<std::string> ids = roles_.Protected(cycleLive_);
    for (const CallStatusLine& line : unread_) CallRoles::Add(ids, line.id);
    board_.calls.Keep(ids);
  };
  keep();
  for (CallStatusLine& line : board_.calls.TakeNews()) unread_.push_back(std::move(line));
  keep();
}

bool TransferEngine::NextLine() {
  if (unread_.empty()) PullNews();
  if (unread_.empty()) return false;
  current_ = std::move(unread_.front());
  unread_.pop_front();
  const std::string& id = current_.id;
  // Remembered across states: calls that started ringing while the engine was busy elsewhere are
  // still incoming calls when the engine next waits for one, and one answered meanwhile is taken on.
  wasRinging_ = CallRoles::In(roles_.ringing, id);
  if (IsFinal(current_.status)) roles_.Ended(id);
  if (CallRoles::In(foundAtConnect_, id)) LiveCallFound(id);
  if (WhoseLine() != Whose::kOther) return true;
  // A dial this cycle (from here or in the client) is a party to be, never a caller ringing in.
  const bool newDial = IsDialStart(current_.status) && !roles_.RangHere(id);
  if (newDial && cycleLive_) CallRoles::Add(roles_.dialled, id);
  if (StillRings(current_.status)) roles_.NoteRang(id);
  if (StatusIs(kRinging)) {
    if (!wasRinging_ && !CallRoles::In(roles_.dialled, id) && !CallRoles::In(roles_.parked, id)) {
      roles_.ringing.push_back(id);
    }
  } else if (wasRinging_ && !StillRings(current_.status)) {
    CallRoles::Drop(roles_.ringing, id);
    if (StatusIs(kInProgress) && state_ != EngineState::kRinging) roles_.answered = id;
  }
  return true;
}

TransferEngine::Whose TransferEngine::WhoseLine() const {
  if (!roles_.caller.empty() && current_.id == roles_.caller) return Whose::kFirst;
  if (!roles_.second.empty() && current_.id == roles_.second) return Whose::kSecond;
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
  std::vector<std::string> ids = roles_.Protected(cycleLive_);
  // Every other call the client reported, and calls whose lines are still to be looked at.
  for (const std::string& id : board_.calls.Ids()) CallRoles::Add(ids, id);
  for (const CallStatusLine& line : unread_) {
    if (!IsFinal(line.status)) CallRoles::Add(ids, line.id);
  }
  return ids;
}

void TransferEngine::Reconnect() {
  reconnecting_ = true;
  board_.reconnectNeeded.store(false);
  Log(kLogReconnect);
  askAgain_.clear();
  askedAgain_ = 0;
  if (ConnectToClient()) {
    PullNews();
    // Those the connect asked about already are not asked twice.
    std::vector<std::string> ids = Followed();
    ids.erase(std::remove_if(ids.begin(), ids.end(), [this](const std::string& id) { return CallRoles::In(liveAtConnect_, id); }),
              ids.end());
    AskAbout(ids);
  }
  reconnecting_ = false;
}

void TransferEngine::AskAbout(const std::vector<std::string>& ids) {
  askedAt_ = clock_.NowMs();
  for (const std::string& id : ids) {
    // The reply is the call's status line, read like any other. Only the client's word that it does
    // not know the call (it restarted) ends it as a reported end would.
    if (!Send(command::kGetCallStatus, id)) continue;
    if (lastReplyError_ && UnknownCall(lastReplyNumber_)) {
      board_.calls.Forget(id);
      PullNews();
      unread_.push_back(CallStatusLine{id, kFinished});
    } else if (!lastReplyCame_ || lastReplyError_) {
      CallRoles::Add(askAgain_, id);
    }
  }
}

std::string TransferEngine::TalkingOther() const {
  std::vector<std::string> candidates = roles_.parked;
  candidates.push_back(roles_.answered);
  for (const std::string& id : roles_.dialled) candidates.push_back(id);
  for (const std::string& id : candidates) {
    if (!id.empty() && id != roles_.caller && board_.calls.StatusOf(id) == kInProgress) return id;
  }
  // Another call that rang or was dialled here and talks while the caller is held (a call the client
  // reports talking that never rang here is not taken for a party).
  for (const std::string& id : board_.calls.Ids()) {
    if (id != roles_.caller && roles_.RangHere(id) && board_.calls.StatusOf(id) == kInProgress) return id;
  }
  return std::string();
}

bool TransferEngine::Format(const char* format, const std::string& id1, const std::string& id2) {
  // Refused for a call command whose id is empty: the client could not act on it.
  if (!FormatCommand(command_, sizeof command_, format, id1.c_str(), id2.c_str(), lastTag_ + 1)) return false;
  ++lastTag_;
  return true;
}

bool TransferEngine::Send(const char* format, const std::string& id1, const std::string& id2) {
  if (!Format(format, id1, id2)) return false;
  return SendAndWait(command_);
}

void TransferEngine::SetSecondCall(const std::string& id) {
  roles_.second = id;
  board_.secondCallId.Store(id);
  // Taken as this cycle's dial, also when its first line was already RINGING: one still ringing when
  // the cycle ends is hung up, never taken for a caller.
  if (!id.empty() && StillRings(board_.calls.StatusOf(id))) CallRoles::Add(roles_.dialled, id);
  CallRoles::Drop(roles_.ringing, id);
  CallRoles::Drop(roles_.parked, id);
  if (roles_.answered == id) roles_.answered.clear();
  AskName(id);
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

bool TransferEngine::IsWaitingWithCallerHeld() const {
  return state_ == EngineState::kWaitSecondCall || state_ == EngineState::kWaitSecondResponse ||
         state_ == EngineState::kWaitTransfer;
}

EngineState TransferEngine::ActOnRequests() {
  // Hold acts while the caller talks; Return whenever the caller is held; Transfer once the operator
  // talks to the second party; Blind Transfer is a standing order while the caller is held: it joins
  // as soon as the second party talks. Anything else is cleared at once, never kept to fire later.
  const bool held = IsWaitingWithCallerHeld();
  // The client came back meanwhile (during a reply wait): what it still knows first, then the requests.
  if (board_.reconnectNeeded.load() && !reconnecting_) {
    Reconnect();
    return state_;
  }
  if (board_.holdRequest.load()) {
    if (state_ == EngineState::kWaitHold) return EngineState::kHold;
    board_.holdRequest.store(false);
  }
  if (board_.returnRequest.load()) {
    board_.returnRequest.store(false);  // acted on: one resume per press
    if (held) return ReturnToCaller();
  }
  if (!held) board_.blindTransferRequest.store(false);
  if (state_ == EngineState::kWaitTransfer && board_.blindTransferRequest.load()) {
    board_.transferRequest.store(true);
    board_.blindTransferRequest.store(false);
  }
  if (board_.transferRequest.load()) {
    if (state_ == EngineState::kWaitTransfer) {
      joinPending_ = false;  // a press sends the join again
      return EngineState::kConference;
    }
    board_.transferRequest.store(false);
  }
  return state_;
}

EngineState TransferEngine::ReturnToCaller() {
  Log(kLogReturn);
  // A dial that routes, rings or waits for a redial, or a second party who answered: hung up first,
  // so that the caller is resumed to the operator alone.
  if (!roles_.second.empty()) {
    HangUpIfLive(roles_.second);
    SetSecondCall(std::string());
    board_.transferAllowed.store(false);
    joinPending_ = false;
  }
  Send(command::kResume, roles_.caller);
  // Pressed again while this one was carried out (the replies take their time): the same request.
  board_.returnRequest.store(false);
  // The caller's line that follows takes the engine back to the wait for Hold.
  returning_ = state_ != EngineState::kWaitSecondCall;
  return EngineState::kWaitSecondCall;
}

EngineState TransferEngine::CycleStart() {
  LetGoOfParties();
  board_.transferRequest.store(false);
  board_.holdRequest.store(false);
  board_.returnRequest.store(false);
  board_.blindTransferRequest.store(false);
  board_.callActive.store(false);
  board_.transferAllowed.store(false);
  cycleLive_ = false;
  holdTag_ = 0;
  joinPending_ = false;
  roles_.dialled.clear();
  ApplyIdleButtons();
  phases_.PhaseChanged(CallPhase::kAtRest);  // phase: at rest
  return EngineState::kWaitIncoming;
}

EngineState TransferEngine::WaitIncoming() {
  Log(kLogWaitIncoming);
  // Back at rest with the client back meanwhile (also while the last cycle finished): the user handle
  // again, and the calls still remembered.
  if (board_.reconnectNeeded.load()) Reconnect();
  if (StopRequested()) return EngineState::kStopped;
  if (!roles_.ringing.empty() || !roles_.answered.empty()) return EngineState::kRinging;
  for (;;) {
    // Every line there is first: a caller who rang and gave up meanwhile is not waited for.
    while (NextLine()) {
    }
    if (!roles_.ringing.empty() || !roles_.answered.empty()) return EngineState::kRinging;
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
    if (!roles_.answered.empty()) {
      current_ = CallStatusLine{roles_.answered, kInProgress};
      return EngineState::kAnswer;
    }
    // Whichever ringing call is answered is the caller; one that stops ringing otherwise leaves the
    // others ringing, and with none left the cycle starts over.
    while (NextLine()) {
      if (!wasRinging_) continue;
      if (StatusIs(kInProgress)) return EngineState::kAnswer;
      if (roles_.ringing.empty()) return EngineState::kAnswer;
    }
    if (!Pause(100)) return EngineState::kStopped;
  }
}

EngineState TransferEngine::Answer() {
  Log(kLogAnswer);
  roles_.caller = current_.id;
  board_.firstCallId.Store(roles_.caller);
  board_.holdRequest.store(false);
  roles_.answered.clear();
  CallRoles::Drop(roles_.ringing, roles_.caller);
  if (!StatusIs(kInProgress)) return EngineState::kCycleStart;
  cycleLive_ = true;
  // Hold is taken from the moment the answer is seen; it acts once the answer's steps are done.
  board_.callActive.store(true);
  if (!Pause(1000)) return EngineState::kStopped;
  Send(command::kAgcOn);
  ApplyAnswerPreset(routing_, clock_);
  AskName(roles_.caller);
  return EngineState::kAnswerCheck;
}

EngineState TransferEngine::AnswerCheck() {
  while (NextLine()) {
    if (WhoseLine() == Whose::kFirst && IsFinal(current_.status)) return EngineState::kFinished;
  }
  return EngineState::kWaitHold;
}

EngineState TransferEngine::WaitHold() {
  // A Hold pressed during the answer keeps the buttons its press set.
  if (board_.holdRequest.load()) {
    ApplyHeldButtons();
  } else {
    ApplyIdleButtons();
  }
  phases_.PhaseChanged(CallPhase::kCallActive);  // phase: call active (answered, or resumed)
  Log(kLogWaitHold);
  for (bool first = true;; first = false) {
    if (!first && !Pause(100)) return EngineState::kStopped;
    // The caller hung up before Hold: nothing to finish on our side but the cycle's other parties.
    // Other calls' ends are theirs.
    while (NextLine()) {
      if (WhoseLine() == Whose::kFirst && IsFinal(current_.status)) return EngineState::kCycleStart;
    }
    const EngineState next = ActOnRequests();
    if (next != state_) return next;
    // Held in the client (the hold line may have been read while answering).
    const bool held = IsHeld(board_.calls.StatusOf(roles_.caller), board_.clientProtocol.load());
    if (held && !MoreNewsOf(roles_.caller)) return CallerHeldInClient();
  }
}

EngineState TransferEngine::Hold() {
  Log(kLogHold);
  if (!Pause(1000)) return EngineState::kStopped;
  // The caller gone meanwhile (hung up, or a restarted client no longer knows it): nothing to hold.
  if (EndKnown(roles_.caller)) {
    board_.holdRequest.store(false);
    return EngineState::kAnswerCheck;
  }
  if (Send(command::kHold, roles_.caller) && lastReplyError_) {
    // Not held: the operator is still talking to the caller.
    board_.holdRequest.store(false);
    return EngineState::kWaitHold;
  }
  board_.holdRequest.store(false);
  // Unanswered in time: an error the client sends later still means the caller was not held.
  holdTag_ = lastReplyCame_ ? 0 : lastTag_;
  phases_.PhaseChanged(CallPhase::kCallerOnHold);  // phase: caller on hold
  if (!Pause(1000)) return EngineState::kStopped;
  Send(command::kOpenContacts);
  return EngineState::kWaitSecondCall;
}

EngineState TransferEngine::WaitSecondCall() {
  board_.transferAllowed.store(false);
  SetSecondCall(std::string());
  if (!returning_) Log(kLogWaitSecondCall);
  returning_ = false;
  // Nothing is thrown away here: a hang-up during Hold's pauses is still to be read.
  for (;;) {
    const std::string talking = TalkingOther();
    if (!talking.empty() && !MoreNewsOf(talking)) return SecondPartyTalking(talking);
    while (NextLine()) {
      if (WhoseLine() == Whose::kFirst) {
        if (IsFinal(current_.status)) {
          Log(kLogFirstHangUp);
          notices_->Notify(Notice::kHeldCallerHungUp, nullptr);
          return EngineState::kCycleStart;
        }
        // Only the caller's latest word counts: an older one may be from before the hold.
        if (StatusIs(kInProgress) && !MoreNewsOf(roles_.caller)) return FirstCallResumed();
      } else if ((StatusIs(kRouting) || StatusIs(kRinging)) && !CallRoles::In(roles_.parked, current_.id)) {
        // The operator's dial (an incoming ring looks the same and is taken alike).
        SetSecondCall(current_.id);
        return EngineState::kWaitSecondResponse;
      } else if (StatusIs(kInProgress) && roles_.RangHere(current_.id) && !MoreNewsOf(current_.id)) {
        // The operator talks to another call (resumed or answered in the client): the second party.
        return SecondPartyTalking(current_.id);
      }
    }
    if (LateErrorTo(holdTag_)) {
      // The client refused the hold after all: the operator is still talking to the caller.
      board_.holdRequest.store(false);
      return EngineState::kWaitHold;
    }
    const EngineState next = ActOnRequests();
    if (next != state_) return next;
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
      if (whose == Whose::kFirst && answeredOrEnded && !MoreNewsOf(roles_.caller)) return EngineState::kSecondOutcome;
    }
    const EngineState next = ActOnRequests();
    if (next != state_) return next;
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
    HangUpIfLive(roles_.second);
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
  joinPending_ = false;
  // Held by the client now, not ended: taken up again when the operator goes back to it.
  CallRoles::Add(roles_.parked, roles_.second);  // parked until the cycle ends
  SetSecondCall(std::string());
  return EngineState::kWaitHold;
}

void TransferEngine::LetGoOfParties() {
  const std::vector<std::string> dialled = roles_.dialled;
  std::vector<std::string> parties = roles_.parked;
  for (const std::string& id : dialled) CallRoles::Add(parties, id);
  roles_.parked.clear();
  roles_.dialled.clear();
  for (const std::string& id : parties) {
    const std::string status = board_.calls.StatusOf(id);
    if (status == kInProgress && roles_.answered.empty()) {
      roles_.answered = id;  // the operator talks to it: the next caller
    } else if (status == kRinging && !CallRoles::In(dialled, id)) {
      CallRoles::Add(roles_.ringing, id);
    } else if (!status.empty()) {
      HangUpIfLive(id);
    }
  }
}

EngineState TransferEngine::CallerHeldInClient() {
  ApplyHeldButtons();
  phases_.PhaseChanged(CallPhase::kCallerOnHold);  // phase: caller on hold
  // A dial placed in the client while the caller talked (the client held the caller for it).
  for (auto it = roles_.dialled.rbegin(); it != roles_.dialled.rend(); ++it) {
    const std::string status = board_.calls.StatusOf(*it);
    if (!StillRings(status) || MoreNewsOf(*it)) continue;
    board_.transferAllowed.store(false);
    SetSecondCall(*it);
    return EngineState::kWaitSecondResponse;
  }
  return EngineState::kWaitSecondCall;
}

EngineState TransferEngine::SecondPartyTalking(const std::string& id) {
  SetSecondCall(id);
  board_.transferRequest.store(false);
  board_.transferAllowed.store(true);
  return EngineState::kWaitTransfer;
}

EngineState TransferEngine::WaitTransfer() {
  if (!joinRefused_) Log(kLogWaitTransfer);
  joinRefused_ = false;
  for (;;) {
    // Read before the request: a join is never sent for a call that has just ended or was held.
    while (NextLine()) {
      const Whose whose = WhoseLine();
      if (whose == Whose::kSecond && IsFinal(current_.status)) {
        SetSecondCall(std::string());
        joinPending_ = false;
        return EngineState::kWaitSecondCall;
      }
      if (whose == Whose::kSecond && IsHeld(current_.status, board_.clientProtocol.load()) && !MoreNewsOf(current_.id)) {
        // The operator put the second party on hold to try another (no join happened, whatever was
        // sent): parked, and the dial awaited.
        joinPending_ = false;
        CallRoles::Add(roles_.parked, roles_.second);
        return EngineState::kWaitSecondCall;
      }
      if (whose != Whose::kFirst) continue;
      if (IsFinal(current_.status)) {
        notices_->Notify(Notice::kHeldCallerHungUp, nullptr);
        HangUpIfLive(roles_.second);
        return EngineState::kFinished;
      }
      if (StatusIs(kInProgress) && !MoreNewsOf(roles_.caller)) {
        // With a join unanswered, the caller taken off hold is the join having happened.
        if (joinPending_) return EngineState::kConference;
        return FirstCallResumed();
      }
    }
    // A join's reply that came late: an error to it, whatever was sent since (the parser notes an
    // error's number before the reply counts as come), or its answer, with nothing sent since.
    if (joinPending_ && LateErrorTo(joinTag_)) {
      joinPending_ = false;
      TellJoinRefused();
    } else if (joinPending_ && commandsSent_ == commandsAtJoin_ && board_.ReplyReceived()) {
      return EngineState::kConference;
    }
    const EngineState next = ActOnRequests();
    if (next != state_) return next;
    if (!Pause(100)) return EngineState::kStopped;
  }
}

EngineState TransferEngine::Conference() {
  if (!joinPending_) {
    Log(kLogConference);
    if (!Send(command::kJoin, roles_.caller, roles_.second)) {
      // Nothing was joined: the operator stays with both calls and may press Transfer again.
      board_.transferRequest.store(false);
      return EngineState::kWaitTransfer;
    }
    if (!lastReplyCame_) {
      // Not a conference until the client reports one: its reply, or the caller taken off hold.
      joinPending_ = true;
      commandsAtJoin_ = commandsSent_;
      joinTag_ = lastTag_;
      board_.transferRequest.store(false);
      joinRefused_ = true;  // the wait goes on quietly
      return EngineState::kWaitTransfer;
    }
    if (lastReplyError_) {
      // Nothing was joined: the caller stays held, the operator with the second party.
      TellJoinRefused();
      board_.transferRequest.store(false);
      joinRefused_ = true;
      return EngineState::kWaitTransfer;
    }
  }
  joinPending_ = false;
  phases_.PhaseChanged(CallPhase::kJoined);  // phase: parties joined
  Send(command::kAgcOff);
  ApplyTransferPreset(routing_, clock_);
  ApplyConferenceButtons();
  // Joined: nothing is left for Transfer or Return to do, also for a press made meanwhile.
  board_.transferRequest.store(false);
  board_.returnRequest.store(false);
  board_.blindTransferRequest.store(false);

  // Further calls that ring now, and those already ringing; each is refused every second while it
  // rings. Only the end of one of the two joined calls ends the conference: the client also reports the
  // end of a refused call, and its reply to our hang-up carries that status too.
  std::vector<std::string> ringing = roles_.ringing;
  const auto joinedCallEnded = [&] {
    while (NextLine()) {
      if (WhoseLine() != Whose::kOther) {
        if (IsFinal(current_.status)) return true;
        continue;
      }
      if (!StatusIs(kRinging)) {
        CallRoles::Drop(ringing, current_.id);
      } else {
        CallRoles::Add(ringing, current_.id);
      }
    }
    return false;
  };
  if (joinedCallEnded()) return EngineState::kConferenceEnd;
  for (;;) {
    if (!Pause(1000)) return EngineState::kStopped;
    if (joinedCallEnded()) return EngineState::kConferenceEnd;
    for (const std::string& id : ringing) {
      // Answered meanwhile (while a reply was awaited): not refused any more.
      if (board_.calls.StatusOf(id) != kRinging) continue;
      Log(kLogRefuse);
      Send(command::kHangUp, id);
    }
  }
}

void TransferEngine::TellJoinRefused() {
  Log(kLogJoinRefused);
  notices_->Notify(Notice::kJoinRefused, nullptr);
}

bool TransferEngine::LateErrorTo(std::uint32_t& tag) {
  if (tag == 0 || board_.errorTag.load() != tag) return false;
  tag = 0;
  return true;
}

EngineState TransferEngine::ConferenceEnd() {
  const std::string other = WhoseLine() == Whose::kFirst ? roles_.second : roles_.caller;
  HangUpIfLive(other);
  board_.transferRequest.store(false);
  board_.holdRequest.store(false);
  return EngineState::kFinished;
}

EngineState TransferEngine::Finished() {
  LetGoOfParties();
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
