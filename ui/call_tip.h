#pragma once
// Where the call stands, in words, for the tray icon's tooltip and the notices: the parties' names
// (or their call ids) and how long the caller has been on hold. No platform header.

#include <cstdint>
#include <string>

#include "engine/call_phases.h"
#include "ui/main_window_rules.h"

namespace halvane {

// "0:05", "1:05", "1:02:03".
std::string HoldTimeText(std::uint64_t ms);

// A party as shown: its name when the client gave one, else "call <id>", else `fallback`.
std::string PartyName(const std::string& name, const std::string& callId, const char* fallback);

struct CallParties {
  std::string caller;             // as PartyName gives it
  std::string second;             // empty while no second call is known
  std::uint64_t heldMs = 0;       // how long the caller has been on hold
  bool secondPartyTalking = false;
};

// "Anna Berg on the line", "Anna Berg on hold 1:05, dialling", "Anna Berg on hold 1:05, dialling Bob
// Lee", "Anna Berg on hold 1:05, talking to Bob Lee", "Anna Berg and Bob Lee joined"; at rest the
// tooltip names the user instead (FormatTrayTip). Cut to kTrayTipSize - 1 bytes between characters.
std::string CallTipText(CallPhase phase, const CallParties& parties, LeadBytePredicate isLeadByte = nullptr);

}  // namespace halvane
