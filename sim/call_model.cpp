#include "sim/call_model.h"

#include <algorithm>
#include <utility>

namespace halvane::sim {
namespace {

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

// Splits on runs of blanks; the client is lenient about spacing.
std::vector<std::string_view> Words(std::string_view text) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && text[i] == ' ') ++i;
    const std::size_t start = i;
    while (i < text.size() && text[i] != ' ') ++i;
    if (i > start) words.push_back(text.substr(start, i - start));
  }
  return words;
}

bool StatusIn(const Call& call, std::initializer_list<const char*> words) {
  return std::any_of(words.begin(), words.end(), [&](const char* w) { return call.status == w; });
}

}  // namespace

bool IsEnded(const Call& call) {
  return StatusIn(call, {"FINISHED", "MISSED", "REFUSED", "BUSY", "CANCELLED", "FAILED", "VM_SENT", "VM_CANCELLED",
                         "VM_FAILED", "TRANSFERRED"});
}

bool IsRinging(const Call& call) {
  return StatusIn(call, {"UNPLACED", "ROUTING", "EARLYMEDIA", "RINGING", "REDIAL_PENDING", "WAITING_REDIAL_COMMAND"});
}

CallModel::CallModel() : CallModel(Options{}) {}

CallModel::CallModel(Options options)
    : options_(std::move(options)),
      nextCallId_(options_.firstCallId),
      nextConferenceId_(options_.firstConferenceId) {}

Lines CallModel::HandleCommand(std::string_view command) {
  commands_.emplace_back(command);
  std::string tag;
  std::string_view words = command;
  if (!words.empty() && words.front() == '#') {
    const std::size_t blank = words.find(' ');
    tag = std::string(words.substr(0, blank));
    words = blank == std::string_view::npos ? std::string_view() : words.substr(blank + 1);
  }
  Lines lines = Command(tag, words);
  // A cancelled dial's status is said again after the next command's reply, as the client does.
  if (!repeatCancelled_.empty()) lines.push_back("CALL " + repeatCancelled_ + " STATUS CANCELLED");
  repeatCancelled_.clear();
  if (tag.empty() || (!loseReply_ && !delayReply_)) return lines;
  // The tagged reply goes astray or comes late; the notifications come as usual.
  const auto reply = std::find_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(tag + " ", 0) == 0; });
  if (reply != lines.end()) {
    if (delayReply_) late_.push_back(*reply);
    lines.erase(reply);
  }
  loseReply_ = delayReply_ = false;
  return lines;
}

Lines CallModel::TakeLateReplies() {
  Lines lines;
  lines.swap(late_);
  return lines;
}

Lines CallModel::Command(const std::string& tag, std::string_view text) {
  const std::vector<std::string_view> words = Words(text);
  if (words.empty()) return Error(tag, 1, "General syntax error");
  const std::string verb = Upper(words[0]);
  const std::string object = words.size() > 1 ? Upper(words[1]) : std::string();

  if (verb == "GET") {
    if (object == "CURRENTUSERHANDLE" && words.size() == 2) {
      return Reply(tag, "CURRENTUSERHANDLE " + options_.userHandle, {});
    }
    if (object == "CALL" && words.size() == 4 && Upper(words[3]) == "STATUS") {
      const Call* call = Find(words[2]);
      if (call == nullptr) return UnknownCall(tag, words[2], 11);
      return Reply(tag, "CALL " + call->id + " STATUS " + call->status, {});
    }
    if (object == "CALL" && words.size() == 4) {
      Lines lines = CallProperty(tag, words[2], Upper(words[3]));
      if (!lines.empty()) return lines;
    }
    return Error(tag, 7, "GET: invalid WHAT");
  }
  if (verb == "SEARCH" && object == "ACTIVECALLS" && words.size() == 2) return SearchActiveCalls(tag);
  if (verb == "SET" && object == "CALL") {
    const auto afterCall = static_cast<std::size_t>(words[1].data() - text.data()) + words[1].size();
    return SetCall(tag, text.substr(afterCall));
  }
  if (verb == "SET" && object == "AGC") {
    const std::string value = words.size() == 3 ? Upper(words[2]) : std::string();
    if (value != "ON" && value != "OFF") return Error(tag, 26, "Invalid value");
    agc_ = value == "ON";
    return Reply(tag, "AGC " + value, {});
  }
  if (verb == "OPEN" && object == "CONTACTS" && words.size() == 2) return Reply(tag, "OPEN CONTACTS", {});
  if (verb == "BTN_RELEASED" && words.size() == 2) return Reply(tag, "BTN_RELEASED " + object, {});
  if (verb == "MINIMIZE" && words.size() == 1) return Reply(tag, "OK", {});
  if (verb == "PROTOCOL" && words.size() == 2) return Protocol(tag, words[1]);
  if (verb == "PING" && words.size() == 1) return Reply(tag, "PONG", {});
  if (verb == "CALL" && words.size() == 2) {
    Call& call = calls_[NewCall(words[1], Direction::Outgoing)];
    Lines lines = Reply(tag, "CALL " + call.id + " STATUS ROUTING", {Status(call, "ROUTING")});
    lines.push_back(Status(call, "RINGING"));
    return lines;
  }
  return Error(tag, 2, "Unknown command");
}

Lines CallModel::SetCall(const std::string& tag, std::string_view rest) {
  const std::vector<std::string_view> words = Words(rest);
  if (words.empty()) return Error(tag, 19, "Invalid call id");
  Call* call = Find(words[0]);
  if (call == nullptr) return UnknownCall(tag, words[0], 19);
  const std::string property = words.size() > 1 ? Upper(words[1]) : std::string();
  if (property == "STATUS" && words.size() == 3) return ChangeStatus(tag, *call, Upper(words[2]));
  if (property == "JOIN_CONFERENCE" && words.size() == 3) return Join(tag, *call, words[2]);
  return Error(tag, 21, "Unknown or disallowed call property");
}

Lines CallModel::ChangeStatus(const std::string& tag, Call& call, const std::string& wanted) {
  const std::string current = "CALL " + call.id + " STATUS ";
  if (wanted == "FINISHED") {
    // Hanging up an ended call changes nothing; the reply still tells how it ended.
    if (IsEnded(call)) return Reply(tag, current + call.status, {});
    call.held = false;
    Lines ending = EndingOf(call);
    const std::string line = ending.back();
    return Reply(tag, line, std::move(ending));
  }
  if (wanted == "ONHOLD") {
    if (call.held) return Reply(tag, current + call.status, {});
    if (call.status != "INPROGRESS" || refuseHold_) {
      refuseHold_ = false;
      return Error(tag, 22, "Cannot hold this call at the moment");
    }
    call.held = true;
    const std::string line = Status(call, HoldWord());
    return Reply(tag, line, {line});
  }
  if (wanted == "INPROGRESS") {
    if (call.status == "INPROGRESS") return Reply(tag, current + call.status, {});
    const bool answer = call.direction == Direction::Incoming && call.status == "RINGING";
    if (!answer && !call.held) return Error(tag, 23, "Cannot resume this call at the moment");
    call.held = false;
    const std::string line = Status(call, "INPROGRESS");
    return Reply(tag, line, {line});
  }
  return Error(tag, 21, "Invalid call status");
}

// The reply names the first call's conference; the held party is then taken off hold. The reply
// comes first here: the notification belongs to the join having happened.
Lines CallModel::Join(const std::string& tag, Call& first, std::string_view secondId) {
  Call* second = Find(secondId);
  if (second == nullptr) return Error(tag, 71, "Invalid conference participant NO");
  const auto joinable = [](const Call& c) { return c.status == "INPROGRESS" || c.held; };
  if (second == &first || !joinable(first) || !joinable(*second) || refuseJoin_) {
    refuseJoin_ = false;
    return Error(tag, 72, "Cannot create conference");
  }
  first.conference = second->conference = nextConferenceId_;
  Lines lines = {tag.empty() ? "" : tag + " "};
  lines.front() += "CALL " + first.id + " CONF_ID " + std::to_string(nextConferenceId_++);
  for (Call* c : {&first, second}) {
    if (!c->held) continue;
    c->held = false;
    lines.push_back(Status(*c, "INPROGRESS"));
  }
  return lines;
}

Lines CallModel::CallProperty(const std::string& tag, std::string_view id, const std::string& property) {
  if (property != "PARTNER_HANDLE" && property != "PARTNER_DISPNAME") return {};
  const Call* call = Find(id);
  if (call == nullptr) return Error(tag, 12, "Unknown call");
  const bool named = property == "PARTNER_DISPNAME" && !call->displayName.empty();
  return Reply(tag, "CALL " + call->id + " " + property + " " + (named ? call->displayName : call->peer), {});
}

Lines CallModel::SearchActiveCalls(const std::string& tag) const {
  std::string ids;
  for (const auto& entry : calls_) {
    if (IsEnded(entry.second)) continue;
    if (!ids.empty()) ids += ", ";
    ids += entry.first;
  }
  return Reply(tag, "CALLS " + ids, {});
}

bool CallModel::NameCall(std::string_view id, std::string name) {
  Call* call = Find(id);
  if (call == nullptr) return false;
  call->displayName = std::move(name);
  return true;
}

Lines CallModel::Reply(const std::string& tag, const std::string& text, Lines notifications) const {
  std::string reply = tag.empty() ? text : tag + " " + text;
  if (options_.replyBeforeNotifications) {
    notifications.insert(notifications.begin(), std::move(reply));
  } else {
    notifications.push_back(std::move(reply));
  }
  return notifications;
}

Lines CallModel::Error(const std::string& tag, int code, std::string_view text) {
  std::string line = "ERROR " + std::to_string(code) + " " + std::string(text);
  return {tag.empty() ? line : tag + " " + line};
}

Call* CallModel::Find(std::string_view id) {
  const auto it = calls_.find(id);
  return it == calls_.end() ? nullptr : &it->second;
}

const Call* CallModel::FindCall(std::string_view id) const {
  const auto it = calls_.find(id);
  return it == calls_.end() ? nullptr : &it->second;
}

std::string CallModel::NewCall(std::string_view peer, Direction direction) {
  Call call;
  call.id = std::to_string(nextCallId_);
  nextCallId_ += options_.callIdStep;
  call.peer = std::string(peer);
  call.direction = direction;
  std::string id = call.id;
  calls_[id] = std::move(call);
  return id;
}

std::string CallModel::Status(Call& call, const std::string& word) {
  call.status = word;
  return "CALL " + call.id + " STATUS " + word;
}

Lines CallModel::IncomingCall(std::string_view from, std::string* newId) {
  Call& call = calls_[NewCall(from, Direction::Incoming)];
  if (newId != nullptr) *newId = call.id;
  return {"CALL " + call.id + " CONF_ID 0", Status(call, "RINGING")};
}

Lines CallModel::OperatorDials(std::string_view to, std::string* newId, bool holdAfterRouting) {
  Call& call = calls_[NewCall(to, Direction::Outgoing)];
  if (newId != nullptr) *newId = call.id;
  // The client holds the call the operator was talking to: before the dial's first line, or just
  // after its first routing.
  const Lines held = HoldOthers(call);
  Lines lines = holdAfterRouting ? Lines{} : held;
  const Lines placing = Placing(call);
  for (std::size_t k = 0; k < placing.size(); ++k) {
    lines.push_back(placing[k]);
    if (holdAfterRouting && k == 1) lines.insert(lines.end(), held.begin(), held.end());
  }
  return lines;
}

Lines CallModel::OperatorAnswers(std::string_view id) {
  Call* call = Find(id);
  if (call == nullptr || call->direction != Direction::Incoming || call->status != "RINGING") return {};
  // The client holds the call the operator was talking to.
  Lines lines = HoldOthers(*call);
  lines.push_back(Status(*call, "INPROGRESS"));
  return Talking(*call, std::move(lines));
}

Lines CallModel::HoldOthers(const Call& except) {
  Lines lines;
  for (auto& [otherId, other] : calls_) {
    if (&other == &except || other.held || other.status != "INPROGRESS") continue;
    if (other.conference != 0 && other.conference == except.conference) continue;
    other.held = true;
    lines.push_back(Status(other, HoldWord()));
  }
  return lines;
}

Lines CallModel::OperatorHangsUp(std::string_view id) {
  Call* call = Find(id);
  if (call == nullptr || IsEnded(*call)) return {};
  call->held = false;
  return EndingOf(*call);
}

Lines CallModel::OperatorCancels(std::string_view id) {
  Call* call = Find(id);
  if (call == nullptr || call->direction != Direction::Outgoing || !IsRinging(*call)) return {};
  return EndingOf(*call);
}

Lines CallModel::OperatorHolds(std::string_view id) {
  Call* call = Find(id);
  if (call == nullptr || call->held || call->status != "INPROGRESS") return {};
  call->held = true;
  return {Status(*call, HoldWord())};
}

Lines CallModel::OperatorResumes(std::string_view id) {
  Call* call = Find(id);
  if (call == nullptr || !call->held || IsEnded(*call)) return {};
  call->held = false;
  return {Status(*call, "INPROGRESS")};
}

Lines CallModel::FarEndAnswers(std::string_view id) {
  Call* call = Find(id);
  if (call == nullptr || call->direction != Direction::Outgoing || !IsRinging(*call)) return {};
  Lines lines = HoldOthers(*call);
  lines.push_back(Status(*call, "INPROGRESS"));
  return Talking(*call, std::move(lines));
}

Lines CallModel::FarEndRefuses(std::string_view id) {
  Call* call = Find(id);
  if (call == nullptr || !IsRinging(*call)) return {};
  return {Status(*call, "REFUSED")};
}

Lines CallModel::FarEndBusy(std::string_view id) {
  Call* call = Find(id);
  if (call == nullptr || call->direction != Direction::Outgoing || !IsRinging(*call)) return {};
  return {Status(*call, "BUSY")};
}

Lines CallModel::Missed(std::string_view id) {
  Call* call = Find(id);
  if (call == nullptr || !IsRinging(*call)) return {};
  return {Status(*call, "MISSED")};
}

Lines CallModel::FarEndFails(std::string_view id, int reason) {
  Call* call = Find(id);
  if (call == nullptr || IsEnded(*call)) return {};
  call->held = false;
  Lines lines{"CALL " + call->id + " FAILUREREASON " + std::to_string(reason)};
  lines.push_back(Status(*call, "FAILED"));
  return lines;
}

Lines CallModel::OperatorSwitchesTo(std::string_view id) {
  Call* call = Find(id);
  if (call == nullptr || !call->held || IsEnded(*call)) return {};
  Lines lines = HoldOthers(*call);
  call->held = false;
  lines.push_back(Status(*call, "INPROGRESS"));
  return lines;
}

Lines CallModel::VoicemailTakes(std::string_view id) {
  Call* call = Find(id);
  if (call == nullptr || call->direction != Direction::Outgoing || !IsRinging(*call)) return {};
  Lines lines{Status(*call, "VM_BUFFERING_GREETING")};
  lines.push_back(Status(*call, "VM_PLAYING_GREETING"));
  lines.push_back(Status(*call, "VM_RECORDING"));
  return lines;
}

Lines CallModel::RedialPending(std::string_view id) {
  Call* call = Find(id);
  if (call == nullptr || call->direction != Direction::Outgoing || !IsRinging(*call)) return {};
  Lines lines{Status(*call, "REDIAL_PENDING")};
  lines.push_back(Status(*call, "ROUTING"));
  return lines;
}

Lines CallModel::TalkingStranger(std::string* newId) {
  Call& call = calls_[NewCall("stranger", Direction::Incoming)];
  if (newId != nullptr) *newId = call.id;
  call.held = false;
  return {Status(call, "INPROGRESS")};
}

void CallModel::Restart() {
  calls_.clear();
  late_.clear();
}

Lines CallModel::FarEndHangsUp(std::string_view id) {
  Call* call = Find(id);
  if (call == nullptr || IsEnded(*call) || IsRinging(*call)) return {};
  call->held = false;
  return {Status(*call, "FINISHED")};
}

}  // namespace halvane::sim

// --- The real client's sequences --------------------------------------------------------------------

namespace halvane::sim {

namespace {

// A dial to a phone number rather than to a contact: the client plays the network's early media.
bool IsPhoneNumber(std::string_view peer) { return !peer.empty() && (peer[0] == '+' || (peer[0] >= '0' && peer[0] <= '9')); }

}  // namespace

std::string WithoutTagNumber(std::string_view command) {
  const std::size_t blank = command.find(' ');
  if (command.empty() || command[0] != '#' || blank == std::string_view::npos) return std::string(command);
  std::size_t digits = blank;
  while (digits > 1 && command[digits - 1] >= '0' && command[digits - 1] <= '9') --digits;
  return std::string(command.substr(0, digits)) + std::string(command.substr(blank));
}

Lines CallModel::Placing(Call& call) {
  Lines lines{Status(call, "UNPLACED"), Status(call, "ROUTING")};
  lines.push_back(IsPhoneNumber(call.peer) ? Status(call, "EARLYMEDIA") : Status(call, "ROUTING"));
  lines.push_back(Status(call, "RINGING"));
  return lines;
}

Lines CallModel::Talking(Call& call, Lines lines) {
  call.duration = 0;
  if (!options_.pushProperties) return lines;
  lines.push_back("CALL " + call.id + " VIDEO_STATUS VIDEO_NONE");
  lines.push_back("CALL " + call.id + " VAA_INPUT_STATUS FALSE");
  return lines;
}

// How a hang-up by the operator ends the call: a dial not yet answered is cancelled (said again after
// the next command's reply), a voicemail being recorded is uploaded and sent, any other call finished.
Lines CallModel::EndingOf(Call& call) {
  if (call.direction == Direction::Outgoing && IsRinging(call)) {
    repeatCancelled_ = call.id;
    return {Status(call, "CANCELLED")};
  }
  if (call.status.rfind("VM_", 0) == 0) return {Status(call, "VM_UPLOADING"), Status(call, "VM_SENT")};
  return {Status(call, "FINISHED")};
}

Lines CallModel::UnknownCall(const std::string& tag, std::string_view id, int code) {
  const bool number = !id.empty() && id.find_first_not_of("0123456789") == std::string_view::npos;
  return number ? Error(tag, code + 1, "Unknown call") : Error(tag, code, "Invalid call id");
}

Lines CallModel::Protocol(const std::string& tag, std::string_view asked) {
  const bool number = !asked.empty() && asked.size() < 6 && asked.find_first_not_of("0123456789") == std::string_view::npos;
  if (!number) return Error(tag, 3, "PROTOCOL: invalid version");
  protocol_ = std::max(1, std::min(std::stoi(std::string(asked)), kNewestProtocol));
  return Reply(tag, "PROTOCOL " + std::to_string(protocol_), {});
}

Lines CallModel::FarEndHolds(std::string_view id) {
  Call* call = Find(id);
  if (call == nullptr || call->status != "INPROGRESS") return {};
  return {Status(*call, protocol_ >= 2 ? "REMOTEHOLD" : "ONHOLD")};
}

Lines CallModel::FarEndResumes(std::string_view id) {
  Call* call = Find(id);
  if (call == nullptr || call->held || (call->status != "REMOTEHOLD" && call->status != "ONHOLD")) return {};
  return {Status(*call, "INPROGRESS")};
}

Lines CallModel::NumberRejects(std::string_view id) {
  Call* call = Find(id);
  if (call == nullptr || call->direction != Direction::Outgoing || !IsRinging(*call) || !IsPhoneNumber(call->peer)) return {};
  return {Status(*call, "WAITING_REDIAL_COMMAND")};
}

Lines CallModel::ClientTransfers(std::string_view id) {
  Call* call = Find(id);
  if (call == nullptr || IsEnded(*call)) return {};
  call->held = false;
  return {Status(*call, "TRANSFERRING"), Status(*call, "TRANSFERRED")};
}

Lines CallModel::SignOut() {
  for (auto& entry : calls_) {
    if (!IsEnded(entry.second)) Status(entry.second, "FINISHED");
  }
  return {"USERSTATUS LOGGEDOUT"};
}

Lines CallModel::Tick() {
  Lines lines;
  if (!options_.pushProperties) return lines;
  for (auto& entry : calls_) {
    Call& call = entry.second;
    if (call.status == "INPROGRESS" || call.held) lines.push_back("CALL " + call.id + " DURATION " + std::to_string(++call.duration));
  }
  return lines;
}

}  // namespace halvane::sim
