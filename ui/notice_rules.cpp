#include "ui/notice_rules.h"

namespace halvane {
namespace {

std::string Cut(std::string text, std::size_t room) {
  if (text.size() >= room) text.resize(room - 1);
  return text;
}

}  // namespace

NoticeText FormatNotice(Notice notice, const char* detail) {
  NoticeText text;
  const std::string party = detail != nullptr ? detail : "";
  switch (notice) {
    case Notice::kDialUnanswered:
      text = {"Dial not answered", party.empty() ? "The second call ended without an answer: dial again, or press Return."
                                                 : party + " did not answer: dial again, or press Return."};
      break;
    case Notice::kHeldCallerHungUp:
      text = {"Caller hung up", party.empty() ? "The caller on hold hung up." : party + " hung up while on hold."};
      break;
    case Notice::kJoinRefused:
      text = {"Transfer refused", "The client refused to join the two calls; the caller is still on hold."};
      break;
    case Notice::kClientBack:
      text = {"Client found again", "The connection to the client was lost and is back."};
      break;
    case Notice::kHoldReminder:
      text = {"Caller waiting on hold", party.empty() ? "The caller is still on hold: transfer, or press Return."
                                                      : party + ": transfer, or press Return."};
      break;
    case Notice::kSetupProblem:
      text = {"Halvane set-up", detail != nullptr && detail[0] != '\0' ? detail : "A problem with Halvane.ini."};
      break;
  }
  text.title = Cut(text.title, kBalloonTitleSize);
  text.text = Cut(text.text, kBalloonTextSize);
  return text;
}

void HoldReminder::PhaseChanged(CallPhase phase, std::uint64_t nowMs) {
  m_onHold = phase == CallPhase::kCallerOnHold;
  m_dueMs = nowMs + m_intervalMs;
}

bool HoldReminder::Tick(std::uint64_t nowMs, bool secondPartyTalking) {
  if (!Running()) return false;
  if (secondPartyTalking) {
    m_dueMs = nowMs + m_intervalMs;
    return false;
  }
  if (nowMs < m_dueMs) return false;
  m_dueMs = nowMs + m_intervalMs;
  return true;
}

}  // namespace halvane
