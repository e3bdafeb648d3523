// Arbitrary Halvane.ini entries through the key parser and the plan: a key read back from its own text
// is the same key, and no two requests ever share a key.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <string_view>

#include "ui/operator_keys.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  // Up to three entries, one a line; a line starting with '-' stands for a missing entry.
  halvane::HotkeyEntries entries;
  std::size_t at = 0;
  for (std::size_t i = 0; i < halvane::kOperatorKeyCount && at <= input.size(); ++i) {
    const std::size_t end = std::min(input.find('\n', at), input.size());
    const std::string_view line = input.substr(at, end - at);
    if (line.empty() || line[0] != '-') entries[i] = std::string(line);
    at = end + 1;

    halvane::Hotkey key;
    if (!halvane::ParseHotkey(line, key)) continue;
    halvane::Hotkey again;
    if (!halvane::ParseHotkey(halvane::HotkeyText(key), again) || !(again == key)) std::abort();
  }

  const halvane::HotkeyPlan plan = halvane::PlanHotkeys(entries);
  for (std::size_t i = 0; i < plan.keys.size(); ++i) {
    for (std::size_t j = i + 1; j < plan.keys.size(); ++j) {
      if (!plan.keys[i].IsOff() && plan.keys[i] == plan.keys[j]) std::abort();
    }
  }
  for (const std::string& report : plan.reports) {
    if (report.empty() || report.back() != '\n') std::abort();
  }
  return 0;
}
