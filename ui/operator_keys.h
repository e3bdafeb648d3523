#pragma once
// The operator's system-wide keys for Hold, Transfer and Return: their text form ("Ctrl+Alt+H"), the
// defaults, and the plan made from the optional "[Hotkeys]" section of Halvane.ini. No platform header:
// modifier bits and key codes are the platform's values, spelt out.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace halvane {

// The platform's modifier bits for a registered key.
inline constexpr std::uint32_t kModAlt = 0x0001;
inline constexpr std::uint32_t kModCtrl = 0x0002;
inline constexpr std::uint32_t kModShift = 0x0004;
inline constexpr std::uint32_t kModWin = 0x0008;

struct Hotkey {
  std::uint32_t modifiers = 0;
  std::uint32_t virtualKey = 0;  // 0: no key
  bool IsOff() const { return virtualKey == 0; }
  bool operator==(const Hotkey& other) const {
    return modifiers == other.modifiers && virtualKey == other.virtualKey;
  }
};

// The three requests a key can make, in the order of the ini's entries and of the reports.
enum class OperatorKey : int { kHold = 0, kTransfer = 1, kReturn = 2 };
inline constexpr std::size_t kOperatorKeyCount = 3;

const char* OperatorKeyName(OperatorKey key);  // "Hold", "Transfer", "Return"
Hotkey DefaultHotkey(OperatorKey key);         // Ctrl+Alt+H, Ctrl+Alt+T, Ctrl+Alt+R

// Why a key text was refused.
enum class KeyRefusal {
  kNone,
  kNotAKey,        // not a modifier list and one key
  kNeedsModifier,  // a key that plain typing uses, without Ctrl, Alt or Win
  kReserved,       // a chord that Windows or every program relies on
  kProgramShortcut,  // Ctrl or Alt alone (Shift aside) on a letter, digit or F1 to F12: a program's own
};

// Reads "Ctrl+Alt+H", "ctrl + shift + f9", "Win+Pause": modifiers Ctrl (Control), Alt, Shift, Win, each
// at most once, then one key: a letter, a digit, F1 to F24, or a named key (Space, Tab, Esc, Insert,
// Delete, Home, End, PageUp, PageDown, Up, Down, Left, Right, Pause). A letter, digit, named key or F1 to
// F12 needs Ctrl, Alt or Win, so that plain typing and the programs' own function keys are never
// taken; F13 to F24 may stand alone. Refused as reserved, whatever else: F12 in any form (kept for
// debuggers), Tab and Esc in any form, Ctrl+Alt+Delete, Alt+F4, Alt+Space, and Win with anything (the
// shell's). Refused as a program's shortcut: Ctrl or Alt without the other (with or without Shift) on a
// letter, a digit or F1 to F11 (Ctrl+C, Alt+F, Ctrl+F4). An empty or blank text is a valid "no key".
// False, `key` untouched and `why` set, for anything else.
bool ParseHotkey(std::string_view text, Hotkey& key, KeyRefusal* why = nullptr);

// The canonical text: modifiers in the order Ctrl, Alt, Shift, Win; "" for no key.
std::string HotkeyText(const Hotkey& key);

// The ini's entries as read: nullopt where an entry is missing.
using HotkeyEntries = std::array<std::optional<std::string>, kOperatorKeyCount>;

struct HotkeyPlan {
  std::array<Hotkey, kOperatorKeyCount> keys;
  // One line per problem, each ending in "\n", for standard output.
  std::vector<std::string> reports;
};

// Missing entries take their default; a refused entry is reported and keeps its default. When two
// requests end up with the same key, a key written in the file wins over a default, and otherwise the
// earlier request (Hold, Transfer, Return) keeps it; the other request gets no key. Each request gets
// at most one report, which states its final key.
HotkeyPlan PlanHotkeys(const HotkeyEntries& entries);

// For a key the platform refused, with the platform's error and its text (first line, no trailing stop):
// "!!! Hotkey Ctrl+Alt+T (Transfer) is held by another program (error 1409: ...)\n" when the key is
// taken, "!!! Hotkey ... could not be registered (error <n>: ...)\n" otherwise.
std::string HotkeyRefusedReport(OperatorKey key, const Hotkey& hotkey, std::uint32_t error, std::string_view systemText);

}  // namespace halvane
