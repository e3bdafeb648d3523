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
};
constexpr std::uint32_t kF1 = 0x70;
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
    standsAlone = true;
    return kF1 + static_cast<std::uint32_t>(number - 1);
  }
  for (const NamedKey& named : kNamedKeys) {
    if (SameText(part, named.name)) return named.code;
  }
  return 0;
}

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

bool ParseHotkey(std::string_view text, Hotkey& key) {
  text = Trim(text);
  if (text.empty()) {
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
  if (!standsAlone && (parsed.modifiers & (kModCtrl | kModAlt | kModWin)) == 0) return false;
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
  for (std::size_t i = 0; i < kOperatorKeyCount; ++i) {
    const OperatorKey key = static_cast<OperatorKey>(i);
    plan.keys[i] = DefaultHotkey(key);
    if (!entries[i]) continue;
    Hotkey parsed;
    if (ParseHotkey(*entries[i], parsed)) {
      plan.keys[i] = parsed;
      fromFile[i] = true;
    } else {
      plan.reports.push_back(std::string("!!! Halvane.ini: ") + OperatorKeyName(key) + "=" + *entries[i] +
                             " is not a key; keeping " + HotkeyText(plan.keys[i]) + "\n");
    }
  }
  // Decided against the keys as read, so the outcome does not depend on which clash is looked at first.
  const std::array<Hotkey, kOperatorKeyCount> read = plan.keys;
  for (std::size_t i = 0; i < kOperatorKeyCount; ++i) {
    if (read[i].IsOff()) continue;
    for (std::size_t j = 0; j < kOperatorKeyCount; ++j) {
      if (j == i || !(read[j] == read[i])) continue;
      const bool earlier = j < i;
      const bool otherWins = fromFile[j] != fromFile[i] ? fromFile[j] : earlier;
      if (!otherWins) continue;
      plan.keys[i] = Hotkey{};
      plan.reports.push_back(std::string("!!! Halvane.ini: ") + HotkeyText(read[i]) + " is " +
                             OperatorKeyName(static_cast<OperatorKey>(j)) + "'s key; " +
                             OperatorKeyName(static_cast<OperatorKey>(i)) + " has no key\n");
      break;
    }
  }
  return plan;
}

std::string HotkeyTakenReport(OperatorKey key, const Hotkey& hotkey) {
  return "!!! Hotkey " + HotkeyText(hotkey) + " (" + OperatorKeyName(key) + ") is held by another program\n";
}

}  // namespace halvane
