#pragma once
// The notices' rules that need no window system: the balloon's title and text for each event, and the
// hold reminder, which counts how long the caller has waited on hold with no second party talking.

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/notices.h"
#include "engine/call_phases.h"

namespace halvane {

// Room of the balloon's title and text in the notification record, terminators included.
inline constexpr std::size_t kBalloonTitleSize = 64;
inline constexpr std::size_t kBalloonTextSize = 256;

struct NoticeText {
  std::string title;
  std::string text;
};

// The balloon for one event; `detail` (may be null) is the text of a set-up problem, without its "!!! "
// and its line end, the party of a hang-up or an unanswered dial, or how long the caller has waited. Both parts fit their fields.
NoticeText FormatNotice(Notice notice, const char* detail);

// The hold reminder: due `intervalMs` after the caller went on hold, and again every `intervalMs`
// after that, as long as the caller stays on hold and no second party is talking (the count starts
// again when that talk ends). Any other phase (the join, the return, the hang-up) stops it; an
// interval of 0 turns it off.
class HoldReminder {
 public:
  explicit HoldReminder(std::uint64_t intervalMs) : m_intervalMs(intervalMs) {}

  void PhaseChanged(CallPhase phase, std::uint64_t nowMs);
  // True once for each reminder that is due at `nowMs`.
  bool Tick(std::uint64_t nowMs, bool secondPartyTalking);
  bool Running() const { return m_onHold && m_intervalMs != 0; }

 private:
  std::uint64_t m_intervalMs;
  bool m_onHold = false;
  std::uint64_t m_dueMs = 0;
};

}  // namespace halvane
