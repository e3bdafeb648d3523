// Switchboard traffic against the engine in virtual time: a seeded generator plays the client (the
// emulator's call model) and the operator at random moments, and invariants are checked as the run
// goes. A failing run prints its seed and a shortened list of events that still fails.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "engine_harness.h"
#include "sim/call_model.h"

namespace halvane {
namespace {

using sim::Call;
using sim::CallModel;

// Which calls an action may pick: none, ringing incoming, ringing outgoing, ringing, talking, held, live.
enum Fits { kNoCall, kRingingIn, kRingingOut, kRinging, kTalking, kHeld, kLive };
struct Action {
  const char* name;
  std::uint64_t weight;
  Fits fits;
  sim::Lines (CallModel::*event)(std::string_view);  // null: handled by name in Play
  int floor;  // how often the runs must see it act (on the model, or pressed on a button that is on)
};
using M = CallModel;
constexpr Action kActions[] = {  // name, weight, fitting calls, event, floor over the fixed seeds
    {"a call comes in", 6, kNoCall, nullptr, 6560}, {"the operator dials", 7, kNoCall, nullptr, 7630},
    {"answered", 8, kRingingIn, &M::OperatorAnswers, 3570},
    {"far end answers", 8, kRingingOut, &M::FarEndAnswers, 1790},
    {"busy", 2, kRingingOut, &M::FarEndBusy, 450}, {"cancelled", 2, kRingingOut, &M::OperatorCancels, 460},
    {"refused", 2, kRinging, &M::FarEndRefuses, 1180}, {"missed", 2, kRinging, &M::Missed, 1120},
    {"failed", 1, kLive, nullptr, 850}, {"operator hangs up", 3, kLive, &M::OperatorHangsUp, 2510},
    {"far end hangs up", 3, kLive, &M::FarEndHangsUp, 2570},
    {"held in the client", 1, kTalking, &M::OperatorHolds, 450},
    {"resumed in the client", 2, kHeld, &M::OperatorSwitchesTo, 860}, {"re-login", 1, kNoCall, nullptr, 1060},
    {"Hold", 12, kNoCall, nullptr, 11620}, {"Return", 3, kNoCall, nullptr, 1480},
    {"Transfer", 14, kNoCall, nullptr, 4880}, {"Blind Transfer", 2, kNoCall, nullptr, 2220},
    {"two callers ring", 2, kNoCall, nullptr, 2160}, {"a burst of missed callers", 1, kNoCall, nullptr, 1060},
    {"voicemail", 1, kRingingOut, &M::VoicemailTakes, 200}, {"redial pending", 1, kRingingOut, &M::RedialPending, 210},
    {"the client restarts", 1, kNoCall, nullptr, 1060}, {"the next join refused", 1, kNoCall, nullptr, 1100},
    {"the next hold refused", 1, kNoCall, nullptr, 1120}, {"resumed again", 3, kHeld, &M::OperatorSwitchesTo, 1270},
    {"answered, then Hold", 4, kRingingIn, nullptr, 1710}, {"pressed twice", 3, kNoCall, nullptr, 3290},
    {"waits for a redial", 1, kRingingOut, &M::NumberRejects, 210}, {"a stranger talks", 1, kNoCall, nullptr, 1120},
    {"the next reply lost", 1, kNoCall, nullptr, 1120}, {"the next reply late", 1, kNoCall, nullptr, 1090},
    {"the next reply an error", 1, kNoCall, nullptr, 1060}, {"nine callers ring", 1, kNoCall, nullptr, 1080},
    {"far end holds", 1, kTalking, &M::FarEndHolds, 500}, {"client transfers", 1, kLive, &M::ClientTransfers, 950},
};

constexpr std::uint64_t kTotalWeight = [] {
  std::uint64_t total = 0;
  for (const Action& action : kActions) total += action.weight;
  return total;
}();

struct Event { std::uint64_t at; const Action* action; std::uint32_t pick; };  // pick: among the fitting calls

std::vector<Event> Generate(std::uint64_t seed) {
  std::mt19937_64 random(seed);
  const std::uint64_t gaps[] = {1, 40, 150, 600, 1500, 3000};
  std::vector<Event> events;
  for (std::uint64_t i = 0, at = 0; i < 70; ++i) {
    at += gaps[random() % 6];
    std::uint64_t roll = random() % kTotalWeight;
    const Action* action = kActions;
    while (roll >= action->weight) roll -= (action++)->weight;
    events.push_back({at, action, static_cast<std::uint32_t>(random())});
  }
  return events;
}

bool FitsCall(Fits fits, const Call& call) {
  const bool ringing = sim::IsRinging(call) && !sim::IsEnded(call);
  const bool outgoing = call.direction == sim::Direction::Outgoing;
  switch (fits) {
    case kRingingIn: return ringing && !outgoing;
    case kRingingOut: return ringing && outgoing;
    case kRinging: return ringing;
    case kTalking: return call.status == "INPROGRESS" && !call.held;
    case kHeld: return call.held;
    default: return !sim::IsEnded(call);
  }
}

// The client, the operator, the buttons and the mixer around one engine.
class World final : public CommandSender, public DialogItems, public AudioRouting, public LogWriter {
 public:
  // What the run reached: by action, the times it changed the model or was pressed on a button that
  // is on; and the moments the invariants most need ("joins", "refused joins", ...).
  std::map<std::string, int> reached;

  std::string Run(const std::vector<Event>& events) {
    board_.apiWindow.store(7);
    const std::uint64_t end = events.back().at + 1000;
    for (const Event& e : events) clock_.At(e.at, [this, e] { Play(e); });
    clock_.At(end, [this] {  // at last every call ends
      board_.apiWindow.store(7);
      for (const auto& call : model_.Calls()) Deliver(model_.OperatorHangsUp(call.first));
    });
    for (std::uint64_t t = 250; t <= end + 20000; t += 250) clock_.At(t, [this, t] { Check(), t % 1000 ? void() : Deliver(model_.Tick()); });
    clock_.SetLimit(end + 20000, [this] { engine_.RequestStop(); });
    engine_.RunTransferEngine();
    return failure_;
  }

  bool SendCommand(const char* text) override {
    AwaitReplyTo(board_, text);
    const std::string command(text);
    const std::string words = command.substr(command.find(' ') + 1);  // without its numbered tag
    const bool attached = board_.apiWindow.load() != 0;
    Note((attached ? "sent " : "not delivered ") + command);
    CheckCommand(command);
    lastCommand_ = attached ? words : std::string();
    commandsLost_ = commandsLost_ || !attached;
    if (words == "set AGC on" && board_.callActive.load()) {
      answered_ = engine_.FirstCall();
      if (Told() && rangHere_.count(answered_) == 0) Fail("a caller " + answered_ + " that never rang here");
    }
    const std::string named = words.find(" partner_dispname") == std::string::npos ? "" : words.substr(9, words.find(' ', 9) - 9);
    if (!named.empty() && (!named_.insert(named).second || (named != engine_.FirstCall() && named != engine_.SecondCall()))) {
      Fail("a name asked twice, or of no party: " + command);  // (n) The caller's and second party's names, once.
    }
    if (!attached) return false;
    sim::Lines lines = model_.HandleCommand(command);
    if (command.find("join_conference") != std::string::npos && !lines.empty()) {
      ++reached[lines.front().find("CONF_ID") != std::string::npos ? "joins" : "refused joins"];
    }
    if (command.find("status onhold") != std::string::npos && !lines.empty() && lines.front().find("ERROR") != std::string::npos) {
      ++reached["refused holds"];
    }
    const std::string tag = command.substr(0, command.find(' ') + 1);
    if (errorNext_ && !lines.empty() && lines.back().rfind(tag, 0) == 0) {
      lines.back() = tag + "ERROR 9901 Internal error";  // done, but answered with an error
      errorNext_ = false;
    }
    Deliver(lines);
    const sim::Lines late = model_.TakeLateReplies();
    if (!late.empty()) {
      // The client's messages come in order: everything it sends waits behind the late reply.
      stalled_ = late;
      clock_.At(clock_.now() + 3000, [this] { Deliver(std::exchange(stalled_, {})); });
    }
    if (command.find("status inprogress") != std::string::npos && command.find(" " + answered_ + " ") != std::string::npos) {
      // (m) One resume per Return pressed.
      if (!returnPressed_) Fail("a resume without a Return pressed");
      returnPressed_ = false;
    }
    return true;
  }
  void EnableItem(WindowHandle, int id, bool enable) override { items_[id] = enable; }
  int SelectRecordSource(const char*, std::int32_t level) override {
    // (b) The operator is muted only right after a join was sent and AGC turned off.
    if (level == 0 && lastCommand_ != "set AGC off") Fail("the transfer preset without a join");
    level_ = level;
    return 1;
  }
  int ApplySpeakerMute(std::uint8_t) override { return 1; }
  int ApplyMicPlaybackMute(std::uint8_t) override { return 1; }
  void WriteLog(const char* text) override {
    Note(std::string("log ") + text);
    if (!engine_.SecondCall().empty()) seconds_.insert(engine_.SecondCall());
    const Call* caller = model_.FindCall(answered_);
    if (Told() && std::string(text) == "\n=>1st call resume" && caller != nullptr && caller->held) Fail("the caller said resumed while held");
    // A second party the engine followed is let go only once it no longer talks.
    const Call* second = model_.FindCall(secondAtLog_);
    if (Told() && std::string(text) == "\n=>wait for placing 2nd call" && second != nullptr && !second->held &&
        second->status == "INPROGRESS") {
      Fail("second party " + secondAtLog_ + " let go while it talks");
    }
    secondAtLog_ = engine_.SecondCall();
  }

 private:
  void Play(const Event& e) {
    std::vector<std::string> fits;
    for (const auto& call : model_.Calls()) if (FitsCall(e.action->fits, call.second)) fits.push_back(call.first);
    const std::string id = fits.empty() ? std::string() : fits[e.pick % fits.size()];
    const std::string name = e.action->name;
    Note(name + " " + id);
    if (e.action->event == &M::OperatorSwitchesTo && !engine_.SecondCall().empty()) ++reached["switches in a cycle"];
    if (e.action->event == &M::VoicemailTakes && id == engine_.SecondCall()) ++reached["voicemails on the dial"];
    // Answered although refused during a conference: not a caller Halvane takes on.
    if (e.action->event == &M::OperatorAnswers && engine_.State() == EngineState::kConference && level_ == 0) strangers_.insert(id);
    const bool button = name == "Hold" || name == "Return" || name == "Transfer";  // counted when on
    if (!button && (!id.empty() || e.action->fits == kNoCall)) ++reached[name];
    if (e.action->event != nullptr) return Deliver((model_.*e.action->event)(id));
    if (name == "a call comes in" || name == "the operator dials") {
      endedAt_ = UINT64_MAX;
      // The client holds the call talking by itself (a dial without Hold, or hold B and dial C).
      if (Live() < 4) Deliver(name[0] == 'a' ? model_.IncomingCall("caller") : model_.OperatorDials(e.pick % 4 < 2 ? "party" : "+4420", nullptr, e.pick % 2));
    } else if (name == "answered, then Hold") {
      Deliver(model_.OperatorAnswers(id));
      clock_.At(clock_.now() + 1 + e.pick % 1200, [this] { Press("Hold"); });
    } else if (name == "pressed twice") {
      const std::string which = e.pick % 3 == 0 ? "Return" : e.pick % 3 == 1 ? "Transfer" : "Hold";
      for (std::uint64_t gap : {std::uint64_t{0}, std::uint64_t{1 + e.pick % 700}}) {
        clock_.At(clock_.now() + gap, [this, which] { Press(which); });
      }
    } else if (name == "a stranger talks") {
      std::string newId;
      Deliver(model_.TalkingStranger(&newId));
      strangers_.insert(newId);
    } else if (name == "the next reply lost" || name == "the next reply late") {
      (name == "the next reply lost" ? model_.LoseNextReply() : model_.DelayNextReply());
      repliesLost_ = true;
    } else if (name == "the next reply an error") {
      errorNext_ = true;
    } else if (name == "nine callers ring") {
      endedAt_ = UINT64_MAX;
      for (int i = 0; i < 9 && Live() < 12; ++i) Deliver(model_.IncomingCall("caller"));
    } else if (name == "failed") {
      Deliver(model_.FarEndFails(id, 4));
    } else if (name == "two callers ring" || name == "a burst of missed callers") {
      endedAt_ = UINT64_MAX;
      for (int i = 0; i < (name[0] == 't' ? 2 * (Live() < 3) : 40); ++i) {
        std::string newId;
        Deliver(model_.IncomingCall("caller", &newId));
        if (name[0] == 'a') Deliver(model_.Missed(newId));
      }
    } else if (name == "the client restarts") {
      reached["restarts in a conference"] += engine_.State() == EngineState::kConference;
      reached["restarts in other calls"] += engine_.State() != EngineState::kConference && board_.callActive.load();
      model_.Restart();
      board_.reconnectNeeded.store(true);
    } else if (name == "the next join refused") {
      model_.RefuseNextJoin();
    } else if (name == "the next hold refused") {
      model_.RefuseNextHold();
    } else if (name == "re-login") {
      board_.apiWindow.store(0);
      board_.reconnectNeeded.store(true);
      clock_.At(clock_.now() + 1 + e.pick % 400, [this] { board_.apiWindow.store(7); });
    } else if (name == "Hold" || name == "Return" || name == "Transfer") {
      Press(name);
    } else {
      OnBlindTransfer(board_);
    }
  }

  // A press on a button that is on; its request is then to act, or be cleared, within a poll.
  void Press(const std::string& name) {
    const int button = name == "Hold" ? kIdHold : name == "Return" ? kIdReturn : kIdTransfer;
    if (!items_[button]) return;
    ++reached[name];
    Note("press " + std::to_string(button));
    name == "Hold" ? OnHold(board_, *this) : name == "Return" ? OnReturn(board_) : OnTransfer(board_);
    if (!(name == "Hold" ? board_.holdRequest : name == "Return" ? board_.returnRequest : board_.transferRequest).load()) return;
    returnPressed_ = returnPressed_ || name == "Return";
    pressed_[button] = clock_.now();
  }

  // The client's lines reach the board only while it is attached; what Halvane was never told it
  // cannot act on, so the checks of rest wait until it has been told everything again.
  void Deliver(const sim::Lines& lines) {
    if (!stalled_.empty()) return stalled_.insert(stalled_.end(), lines.begin(), lines.end()), void();
    for (const std::string& line : lines) {
      linesLost_ = linesLost_ || board_.apiWindow.load() == 0;
      if (board_.apiWindow.load() == 0) continue;
      const std::size_t at = line.find("CALL ") + 5;
      const std::string id = at < 5 ? "" : line.substr(at, line.find(' ', at) - at);
      reported_.insert(id);
      // A change of the caller starts the windows of the checks on the caller again.
      // Any change starts the windows of the checks on the parties again (another call's line may be
      // taken as the dial, before a pending Return).
      secondTalksSince_ = heldAloneSince_ = clock_.now();
      if (id != answered_) returnAt_ = 0;
      if (line.find("STATUS INPROGRESS") != std::string::npos) inProgress_.insert(id);
      if (line.find("STATUS RINGING") != std::string::npos || line.find("STATUS ROUTING") != std::string::npos) rangHere_.insert(id);
      // A dial placed during a call (the client held the call, or Halvane did) belongs to that cycle.
      const bool inCall = std::any_of(model_.Calls().begin(), model_.Calls().end(), [](const auto& c) {
        return !sim::IsEnded(c.second) && !sim::IsRinging(c.second);  // talking, or held by either end
      });
      if (line.find("STATUS ROUTING") != std::string::npos && (board_.callActive.load() || inCall)) dialledInCycle_.insert(id);
      if (line.find("HOLD") != std::string::npos && id != answered_) heldStrangers_.insert(id);  // held, then left
      ParseNotification(board_, line.c_str());
    }
  }

  void CheckCommand(const std::string& command) {
    std::istringstream in(command);
    std::string tag, set, call, id, what, word;
    in >> tag >> set >> call >> id >> what >> word;
    if (command.find("  ") != std::string::npos || command.back() == ' ') Fail("an empty id in: " + command);
    // (b) "set AGC off" only right after a join, or once a join left unanswered has happened.
    const bool afterJoin = lastCommand_.find("join_conference") != std::string::npos || Joined(answered_);
    if (command.find(" set AGC off") != std::string::npos && !afterJoin) Fail("AGC off without a join");
    if (set != "set" || call != "call") return;
    // (d) Only ids the client reported.
    if (reported_.count(id) == 0 || (what == "join_conference" && reported_.count(word) == 0)) {
      return Fail("an id the client never reported in: " + command);
    }
    if (id == answered_ && what == "status" && word == "inprogress") resumedAt_ = clock_.now(), ++reached["resumes"];
    // (a) A join names the answered caller and another call the operator is talking to.
    const Call* second = model_.FindCall(word);
    if (what == "join_conference" && (id != answered_ || word == id || second == nullptr || inProgress_.count(word) == 0 ||
                                      rangHere_.count(word) == 0 || second->held)) {
      Fail("a join of the wrong calls: " + command);
    }
    // (c) Only this cycle's calls are ended, or a call ringing during the conference.
    const Call* ended = model_.FindCall(id);
    if (what == "status" && word == "finished" && id != answered_ && seconds_.count(id) == 0 && ended != nullptr &&
        !sim::IsRinging(*ended) && dialledInCycle_.count(id) == 0) {
      Fail("a stranger's call ended: " + command);
    }
    // (i) A joined party is hung up only after the other has ended.
    for (const auto& [otherId, other] : model_.Calls()) {
      if (what == "status" && word == "finished" && ended != nullptr && ended->conference != 0 && otherId != id &&
          other.conference == ended->conference && !sim::IsEnded(other) && !sim::IsEnded(*ended)) {
        Fail("a joined party hung up while the other talks: " + command);
      }
    }
  }

  void Check() {
    const bool told = Told();
    if (Live() > 0) endedAt_ = UINT64_MAX;
    if (Live() == 0 && endedAt_ == UINT64_MAX) endedAt_ = clock_.now();
    // (e) Back at rest within a bounded time once every call has ended.
    if (told && endedAt_ != UINT64_MAX && clock_.now() - endedAt_ > (repliesLost_ ? 16000U : 5000U) && !AtRest()) {
      Fail(std::string("not at rest 5000 ms after every call ended; in ") + EngineStateName(engine_.State()));
    }
    // (f) The answered caller is never left on hold, or connected, with the engine at rest.
    const Call* caller = model_.FindCall(answered_);
    if (told && AtRest() && caller != nullptr && !sim::IsEnded(*caller)) {
      Fail("caller " + answered_ + (caller->held ? " left on hold" : " left connected") + " with the engine at rest");
    }
    if (AtRest() && engine_.State() == EngineState::kWaitIncoming && Live() == 0) linesLost_ = commandsLost_ = false;
    if (!engine_.SecondCall().empty()) seconds_.insert(engine_.SecondCall());
    const std::uint64_t now = clock_.now();
    // A lost or late reply holds the engine in its bounded reply wait.
    const std::uint64_t slack = repliesLost_ ? 11000 : 0;  // two of them
    const auto lasted = [now](std::uint64_t& since, bool holds, std::uint64_t ms) {
      if (!holds) since = now;
      return now - since >= ms;
    };
    // (g) At rest in Ringing only while a call rings.
    bool anyRings = false, incomingTalks = false, joined = false, partyHeld = false;
    std::size_t others = 0, othersTalking = 0;
    for (const auto& [id, call] : model_.Calls()) {
      if (sim::IsEnded(call)) continue;
      anyRings = anyRings || sim::IsRinging(call);
      const bool talking = call.status == "INPROGRESS" && !call.held;
      incomingTalks = incomingTalks || (talking && rangHere_.count(id) && !strangers_.count(id) && !heldStrangers_.count(id));
      // A party dialled or parked here held once the cycle is over.
      partyHeld = partyHeld || (call.held && (dialledInCycle_.count(id) || seconds_.count(id)) && !strangers_.count(id));
      for (const auto& [id2, call2] : model_.Calls()) {
        joined = joined || (id2 != id && call.conference != 0 && call2.conference == call.conference && !sim::IsEnded(call2));
      }
      if (id != answered_) others += 1, othersTalking += talking && rangHere_.count(id);  // never a stranger
    }
    const bool ringing = engine_.State() == EngineState::kRinging;
    if (lasted(ringingIdleSince_, told && ringing && !anyRings, 3000 + slack)) Fail("in Ringing with no call ringing");
    // (h) An answered incoming call that talks is followed.
    if (lasted(ignoredSince_, told && AtRest() && incomingTalks, 3000 + slack)) Fail("at rest while a caller talks");
    if (lasted(partyHeldSince_, told && AtRest() && partyHeld, 3000 + slack)) Fail("a party left on hold at rest");
    // (l) A press on a button that is on acts within its poll or is cleared; a lost reply may hold it.
    for (auto& [button, at] : pressed_) {
      Flag& flag = button == kIdHold ? board_.holdRequest : button == kIdReturn ? board_.returnRequest : board_.transferRequest;
      if (!flag.load()) at = 0;
      if (at != 0 && now - at >= 3500 + 2 * slack) Fail("a press kept without acting: " + std::to_string(button));
    }
    // (b) The transfer preset only while the two parties are joined.
    if (lasted(unjoinedSince_, told && level_ == 0 && !joined, 1500 + slack)) Fail("the transfer preset with nothing joined");
    const bool held = caller != nullptr && caller->held && !sim::IsEnded(*caller) && board_.callActive.load();
    // (j) The caller held and another call talking: Transfer is allowed.
    if (lasted(secondTalksSince_, told && held && others == 1 && othersTalking == 1, 3000 + slack) &&
        !board_.transferAllowed.load()) {
      Fail("Transfer not allowed with the caller held and a second party talking");
    }
    // (k) The caller held alone: Return works.
    if (!told || !held || others != 0) returnAt_ = 0;
    if (lasted(heldAloneSince_, told && held && others == 0, 2500 + slack) && returnAt_ == 0) {
      returnAt_ = now;
      Note("Return (check)");
      OnReturn(board_);
      returnPressed_ = true;
    }
    if (returnAt_ != 0 && resumedAt_ >= returnAt_) returnAt_ = 0, heldAloneSince_ = now;
    if (returnAt_ != 0 && now - returnAt_ >= 1500 + 2 * slack) Fail("Return did not take the caller off hold");
  }
  bool Told() const { return !linesLost_ && !commandsLost_; }

  bool AtRest() {
    const EngineState state = engine_.State();
    return (state == EngineState::kWaitIncoming || state == EngineState::kRinging) && !board_.callActive.load() &&
           items_[kIdHold] && !items_[kIdTransfer] && !items_[kIdReturn] && !items_[kIdBlindTransfer] && level_ != 0;
  }
  std::size_t Live() const {
    return static_cast<std::size_t>(std::count_if(model_.Calls().begin(), model_.Calls().end(),
                                                  [](const auto& call) { return !sim::IsEnded(call.second); }));
  }

  bool Joined(const std::string& id) const {
    const Call* call = model_.FindCall(id);
    if (call == nullptr || call->conference == 0 || sim::IsEnded(*call)) return false;
    return std::any_of(model_.Calls().begin(), model_.Calls().end(), [&](const auto& c) {
      return c.first != id && c.second.conference == call->conference && !sim::IsEnded(c.second);
    });
  }
  void Note(const std::string& what) {
    notes_.push_back(std::to_string(clock_.now()) + " " + what);
    if (notes_.size() > 14) notes_.erase(notes_.begin());
  }
  void Fail(const std::string& what) {
    if (!failure_.empty()) return;
    failure_ = "at " + std::to_string(clock_.now()) + " ms: " + what + "\n  last seen:";
    for (const std::string& note : notes_) failure_ += "\n    " + note;
    engine_.RequestStop();
  }

  CallBoard board_;
  testing_engine::ScriptClock clock_;
  CallModel model_{[] { CallModel::Options o; o.pushProperties = true; return o; }()};
  TransferEngine engine_{board_, *this, clock_, *this, *this, *this};
  std::map<int, bool> items_;
  std::int32_t level_ = 32768;
  std::set<std::string> reported_, inProgress_, seconds_, strangers_, heldStrangers_, rangHere_, dialledInCycle_, named_;
  std::map<int, std::uint64_t> pressed_;
  bool returnPressed_ = false, errorNext_ = false, repliesLost_ = false;
  std::uint64_t partyHeldSince_ = 0;
  std::string answered_, lastCommand_, failure_, secondAtLog_;
  std::uint64_t ringingIdleSince_ = 0, ignoredSince_ = 0, unjoinedSince_ = 0, secondTalksSince_ = 0,
                heldAloneSince_ = 0, returnAt_ = 0, resumedAt_ = 0;
  std::uint64_t endedAt_ = UINT64_MAX;
  bool linesLost_ = false, commandsLost_ = false;
  std::vector<std::string> notes_;
  sim::Lines stalled_;
};

// A fixed list of seeds, then three fresh ones (printed); HALVANE_TRAFFIC_SEED=n replays one.
TEST(Traffic, InvariantsHoldOverRandomSwitchboardTraffic) {
  std::vector<std::uint64_t> seeds;
  // Read before the engine runs; no other thread of this test exists.
  if (const char* one = std::getenv("HALVANE_TRAFFIC_SEED")) {  // NOLINT(concurrency-mt-unsafe)
    seeds.push_back(std::strtoull(one, nullptr, 10));
  } else {
    for (std::uint64_t seed = 1; seed <= 2000; ++seed) seeds.push_back(seed);
    std::random_device fresh;
    std::cout << "fresh traffic seeds:";
    for (int i = 0; i < 3; ++i) std::cout << ' ' << seeds.emplace_back((std::uint64_t{fresh()} << 32) | fresh());
    std::cout << '\n';
  }
  std::map<std::string, int> total;
  for (const std::uint64_t seed : seeds) {
    std::vector<Event> events = Generate(seed);
    World world;
    std::string failure = world.Run(events);
    total["runs with a transfer"] += world.reached["joins"] > 0;
    for (const auto& [name, times] : world.reached) total[name] += times;
    if (failure.empty()) continue;
    // Drop what the failure does not need (the last event stays: it sets the run's length).
    for (std::size_t i = events.size() - 1; i-- > 0;) {
      std::vector<Event> fewer = events;
      fewer.erase(fewer.begin() + static_cast<std::ptrdiff_t>(i));
      const std::string again = World().Run(fewer);
      if (!again.empty()) events.swap(fewer), failure = again;
    }
    std::ostringstream list;
    for (const Event& e : events) list << "\n  " << e.at << " ms: " << e.action->name << " (pick " << e.pick << ")";
    ADD_FAILURE() << "seed " << seed << ", " << failure << "\nshortened events:" << list.str();
    return;
  }
  if (seeds.size() == 1) return;
  // What the runs must reach, so that the invariants are put to the test: a little under what the fixed
  // seeds reach, and every action acting on the model or on a button that was on near as often.
  const std::map<std::string, int> floors = {{"runs with a transfer", 760}, {"refused joins", 510},
      {"restarts in a conference", 100}, {"restarts in other calls", 490}, {"switches in a cycle", 2250},
      {"resumes", 1130}, {"refused holds", 730}, {"voicemails on the dial", 680}};
  for (const auto& [name, floor] : floors) {
    std::cout << name << " " << total[name] << (name == floors.rbegin()->first ? "\n" : ", ");
    EXPECT_GE(total[name], floor) << name;
  }
  for (const Action& action : kActions) EXPECT_GE(total[action.name], action.floor) << action.name;
}

}  // namespace
}  // namespace halvane
