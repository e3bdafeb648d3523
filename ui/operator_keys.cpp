#include "ui/operator_keys.h"

#include <cctype>

namespace halvane {
namespace {

// The platform's virtual-key codes of the named keys and of F1.
struct NamedKey {
  const char* name;
  std::uint32_t code;
};
constexpr NamedKey kNamedKeys[] = {
    {"Space", 0x20}, {"PageUp", 0x21}, {"PageDown", 0x22}, {"End", 0x23},   {"Home", 0x24},   {"Left", 0x25},
    {"Up", 0x26},    {"Right", 0x27},  {"Down", 0x28},     {"Insert", 0x2D}, {"Delete", 0x2E}, {"Pause", 0x13},
    {"Tab", 0x09},   {"Esc", 0x1B},
};
constexpr std::uint32_t kTab = 0x09;
constexpr std::uint32_t kEsc = 0x1B;
constexpr std::uint32_t kSpace = 0x20;
constexpr std::uint32_t kDelete = 0x2E;
constexpr std::uint32_t kF1 = 0x70;
constexpr std::uint32_t kF4 = kF1 + 3;
constexpr std::uint32_t kF12 = kF1 + 11;
constexpr std::uint32_t kCommandModifiers = kModCtrl | kModAlt | kModWin;
constexpr int kFunctionKeys = 24;

struct Modifier {
  const char* name;
  std::uint32_t bit;
};
// Canonical order of the text form; "Control" is read as Ctrl.
constexpr Modifier kModifiers[] = {{"Ctrl", kModCtrl}, {"Alt", kModAlt}, {"Shift", kModShift}, {"Win", kModWin}};

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

// The key part alone: its code, and whether it may stand without Ctrl, Alt or Win. 0 when unknown.
std::uint32_t KeyCode(std::string_view part, bool& standsAlone) {
  standsAlone = false;
  if (part.size() == 1) {
    const unsigned char c = static_cast<unsigned char>(part[0]);
    if (std::isalpha(c)) return static_cast<std::uint32_t>(std::toupper(c));
    if (std::isdigit(c)) return c;
    return 0;
  }
  if ((part[0] == 'F' || part[0] == 'f') && part.size() <= 3) {
    int number = 0;
    for (std::size_t i = 1; i < part.size(); ++i) {
      if (!std::isdigit(static_cast<unsigned char>(part[i]))) return 0;
      number = number * 10 + (part[i] - '0');
    }
    if (part[1] == '0' || number < 1 || number > kFunctionKeys) return 0;
    // Programs answer F1 to F12 themselves (help, rename, menus); the rest are free.
    standsAlone = number > 12;
    return kF1 + static_cast<std::uint32_t>(number - 1);
  }
  for (const NamedKey& named : kNamedKeys) {
    if (SameText(part, named.name)) return named.code;
  }
  return 0;
}

// Chords that Windows or every program relies on: taken system-wide they would hijack the desktop.
bool IsReserved(const Hotkey& key) {
  const std::uint32_t code = key.virtualKey;
  const std::uint32_t mods = key.modifiers;
  if (code == kF12 || code == kTab || code == kEsc) return true;  // debuggers; switching and closing
  if (code == kDelete && (mods & (kModCtrl | kModAlt)) == (kModCtrl | kModAlt)) return true;
  if ((code == kF4 || code == kSpace) && mods == kModAlt) return true;
  // Win with anything belongs to the shell, now or in its next version.
  return (mods & kModWin) != 0;
}

// Ctrl or Alt alone (Shift aside) on a letter, a digit or F1 to F12 is some program's own shortcut
// (copy, paste, undo, menus, closing a tab): taken system-wide it would be gone from every program.
bool IsProgramShortcut(const Hotkey& key) {
  const std::uint32_t code = key.virtualKey;
  const std::uint32_t command = key.modifiers & kCommandModifiers;
  const bool letterDigitOrF = (code >= 'A' && code <= 'Z') || (code >= '0' && code <= '9') || (code >= kF1 && code <= kF12);
  return letterDigitOrF && (command == kModCtrl || command == kModAlt);
}

const char* RefusalText(KeyRefusal why) {
  switch (why) {
    case KeyRefusal::kNeedsModifier: return "needs Ctrl, Alt or Win";
    case KeyRefusal::kReserved: return "is reserved for Windows or every program";
    case KeyRefusal::kProgramShortcut: return "is a shortcut of other programs (use Ctrl+Alt with it)";
    case KeyRefusal::kNotAKey:
    case KeyRefusal::kNone: break;
  }
  return "is not a key";
}

std::string IniPrefix() { return "!!! Halvane.ini: "; }

}  // namespace

const char* OperatorKeyName(OperatorKey key) {
  switch (key) {
    case OperatorKey::kHold: return "Hold";
    case OperatorKey::kTransfer: return "Transfer";
    case OperatorKey::kReturn: return "Return";
  }
  return "?";
}

Hotkey DefaultHotkey(OperatorKey key) {
  switch (key) {
    case OperatorKey::kHold: return Hotkey{kModCtrl | kModAlt, 'H'};
    case OperatorKey::kTransfer: return Hotkey{kModCtrl | kModAlt, 'T'};
    case OperatorKey::kReturn: return Hotkey{kModCtrl | kModAlt, 'R'};
  }
  return Hotkey{};
}

bool ParseHotkey(std::string_view text, Hotkey& key, KeyRefusal* why) {
  KeyRefusal ignored = KeyRefusal::kNone;
  KeyRefusal& refusal = why != nullptr ? *why : ignored;
  refusal = KeyRefusal::kNotAKey;
  text = Trim(text);
  if (text.empty()) {
    refusal = KeyRefusal::kNone;
    key = Hotkey{};
    return true;
  }
  Hotkey parsed;
  bool standsAlone = false;
  for (;;) {
    const std::size_t plus = text.find('+');
    const std::string_view part = Trim(text.substr(0, plus));
    if (part.empty()) return false;
    if (plus == std::string_view::npos) {
      parsed.virtualKey = KeyCode(part, standsAlone);
      break;
    }
    std::uint32_t bit = SameText(part, "Control") ? kModCtrl : 0;
    for (const Modifier& modifier : kModifiers) {
      if (SameText(part, modifier.name)) bit = modifier.bit;
    }
    if (bit == 0 || (parsed.modifiers & bit) != 0) return false;
    parsed.modifiers |= bit;
    text = text.substr(plus + 1);
  }
  if (parsed.virtualKey == 0) return false;
  if (IsReserved(parsed)) {
    refusal = KeyRefusal::kReserved;
    return false;
  }
  if (!standsAlone && (parsed.modifiers & kCommandModifiers) == 0) {
    refusal = KeyRefusal::kNeedsModifier;
    return false;
  }
  if (IsProgramShortcut(parsed)) {
    refusal = KeyRefusal::kProgramShortcut;
    return false;
  }
  refusal = KeyRefusal::kNone;
  key = parsed;
  return true;
}

std::string HotkeyText(const Hotkey& key) {
  if (key.IsOff()) return std::string();
  std::string text;
  for (const Modifier& modifier : kModifiers) {
    if ((key.modifiers & modifier.bit) != 0) text.append(modifier.name).append("+");
  }
  const std::uint32_t code = key.virtualKey;
  if ((code >= 'A' && code <= 'Z') || (code >= '0' && code <= '9')) {
    text.push_back(static_cast<char>(code));
  } else if (code >= kF1 && code < kF1 + kFunctionKeys) {
    text.append("F").append(std::to_string(code - kF1 + 1));
  } else {
    for (const NamedKey& named : kNamedKeys) {
      if (named.code == code) text.append(named.name);
    }
  }
  return text;
}

HotkeyPlan PlanHotkeys(const HotkeyEntries& entries) {
  HotkeyPlan plan;
  std::array<bool, kOperatorKeyCount> fromFile{};
  std::array<KeyRefusal, kOperatorKeyCount> refused{};
  for (std::size_t i = 0; i < kOperatorKeyCount; ++i) {
    plan.keys[i] = DefaultHotkey(static_cast<OperatorKey>(i));
    refused[i] = KeyRefusal::kNone;
    if (!entries[i]) continue;
    Hotkey parsed;
    if (ParseHotkey(*entries[i], parsed, &refused[i])) {
      plan.keys[i] = parsed;
      fromFile[i] = true;
    }
  }
  // Decided against the keys as read, so the outcome does not depend on which clash is looked at first.
  const std::array<Hotkey, kOperatorKeyCount> read = plan.keys;
  std::array<std::size_t, kOperatorKeyCount> lostTo{};
  for (std::size_t i = 0; i < kOperatorKeyCount; ++i) {
    lostTo[i] = kOperatorKeyCount;
    if (read[i].IsOff()) continue;
    for (std::size_t j = 0; j < kOperatorKeyCount; ++j) {
      if (j == i || !(read[j] == read[i])) continue;
      const bool otherWins = fromFile[j] != fromFile[i] ? fromFile[j] : j < i;
      if (!otherWins) continue;
      plan.keys[i] = Hotkey{};
      lostTo[i] = j;
      break;
    }
  }
  // One report per request, saying where it ends up, so no two lines contradict each other.
  for (std::size_t i = 0; i < kOperatorKeyCount; ++i) {
    const std::string name = OperatorKeyName(static_cast<OperatorKey>(i));
    const std::string lost = lostTo[i] < kOperatorKeyCount
                                 ? HotkeyText(read[i]) + " is " +
                                       OperatorKeyName(static_cast<OperatorKey>(lostTo[i])) + "'s key; " + name +
                                       " has no key\n"
                                 : std::string();
    if (refused[i] != KeyRefusal::kNone) {
      std::string report = IniPrefix() + name + "=" + *entries[i] + " " + RefusalText(refused[i]) + "; ";
      report += lost.empty() ? "keeping " + HotkeyText(plan.keys[i]) + "\n" : "its default " + lost;
      plan.reports.push_back(report);
    } else if (!lost.empty()) {
      plan.reports.push_back(IniPrefix() + lost);
    }
  }
  return plan;
}

std::string HotkeyRefusedReport(OperatorKey key, const Hotkey& hotkey, std::uint32_t error, std::string_view systemText) {
  constexpr std::uint32_t kAlreadyRegistered = 1409;
  std::size_t end = 0;
  while (end < systemText.size() && static_cast<unsigned char>(systemText[end]) >= 32) ++end;
  while (end > 0 && (systemText[end - 1] == '.' || systemText[end - 1] == ' ')) --end;
  return "!!! Hotkey " + HotkeyText(hotkey) + " (" + OperatorKeyName(key) + ") " +
         (error == kAlreadyRegistered ? "is held by another program" : "could not be registered") + " (error " +
         std::to_string(error) + ": " + std::string(systemText.substr(0, end)) + ")\n";
}

}  // namespace halvane
