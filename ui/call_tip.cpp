#include "ui/call_tip.h"

namespace halvane {

std::string HoldTimeText(std::uint64_t ms) {
  const std::uint64_t seconds = ms / 1000;
  const auto two = [](std::uint64_t value) { return (value < 10 ? "0" : "") + std::to_string(value); };
  if (seconds >= 3600) return std::to_string(seconds / 3600) + ":" + two(seconds / 60 % 60) + ":" + two(seconds % 60);
  return std::to_string(seconds / 60) + ":" + two(seconds % 60);
}

std::string PartyName(const std::string& name, const std::string& callId, const char* fallback) {
  if (!name.empty()) return name;
  return callId.empty() ? std::string(fallback) : "call " + callId;
}

std::string CallTipText(CallPhase phase, const CallParties& parties, LeadBytePredicate isLeadByte) {
  const std::string second = parties.second.empty() ? std::string("the second party") : parties.second;
  std::string text;
  switch (phase) {
    case CallPhase::kAtRest: return std::string();
    case CallPhase::kCallActive: text = parties.caller + " on the line"; break;
    case CallPhase::kCallerOnHold:
      text = parties.caller + " on hold " + HoldTimeText(parties.heldMs) +
             (parties.secondPartyTalking ? ", talking to " + second
                                         : ", dialling" + (parties.second.empty() ? "" : " " + parties.second));
      break;
    case CallPhase::kJoined: text = parties.caller + " and " + second + " joined"; break;
  }
  // Cut between characters: a name may hold double-byte characters.
  std::size_t end = 0;
  while (end < text.size()) {
    const bool lead = isLeadByte != nullptr && isLeadByte(static_cast<unsigned char>(text[end]));
    const std::size_t next = end + (lead ? 2 : 1);
    if (next > kTrayTipSize - 1 || next > text.size()) break;
    end = next;
  }
  return text.substr(0, end);
}

}  // namespace halvane
