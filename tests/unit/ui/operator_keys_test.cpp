#include "ui/operator_keys.h"

#include <gtest/gtest.h>

namespace halvane {
namespace {

TEST(ParseHotkey, ReadsKeyTexts) {
  const struct {
    const char* text;
    bool valid;
    std::uint32_t modifiers;
    std::uint32_t virtualKey;
    const char* canonical;
  } rows[] = {
      {"Ctrl+Alt+H", true, 0x0003, 0x48, "Ctrl+Alt+H"},
      {" ctrl + shift + f9 ", true, 0x0006, 0x78, "Ctrl+Shift+F9"},
      {"Alt+Control+7", true, 0x0003, 0x37, "Ctrl+Alt+7"},
      {"Win+Pause", true, 0x0008, 0x13, "Win+Pause"},
      {"Shift+PageDown+", false, 0, 0, ""},
      {"F24", true, 0x0000, 0x87, "F24"},
      {"Ctrl+Alt+Delete", true, 0x0003, 0x2E, "Ctrl+Alt+Delete"},
      {"", true, 0, 0, ""},
      {"   ", true, 0, 0, ""},
      {"H", false, 0, 0, ""},             // plain typing is never taken
      {"Shift+H", false, 0, 0, ""},
      {"Ctrl+Ctrl+H", false, 0, 0, ""},   // a modifier twice
      {"Ctrl+H+J", false, 0, 0, ""},      // two keys
      {"Ctrl+Alt", false, 0, 0, ""},      // no key
      {"Ctrl++H", false, 0, 0, ""},
      {"Ctrl+F25", false, 0, 0, ""},
      {"Ctrl+F0", false, 0, 0, ""},
      {"Ctrl+Hyper+H", false, 0, 0, ""},
      {"Ctrl+Alt+Ä", false, 0, 0, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    Hotkey key{0x99, 0x99};
    ASSERT_EQ(ParseHotkey(row.text, key), row.valid);
    if (!row.valid) {
      EXPECT_EQ(key, (Hotkey{0x99, 0x99})) << "untouched";
      continue;
    }
    EXPECT_EQ(key, (Hotkey{row.modifiers, row.virtualKey}));
    EXPECT_EQ(HotkeyText(key), row.canonical);
  }
}

TEST(PlanHotkeys, DefaultsEntriesAndClashes) {
  const struct {
    const char* name;
    HotkeyEntries entries;
    const char* hold;
    const char* transfer;
    const char* ret;
    std::vector<std::string> reports;
  } rows[] = {
      {"no file", {}, "Ctrl+Alt+H", "Ctrl+Alt+T", "Ctrl+Alt+R", {}},
      {"changed and off", {std::string("Ctrl+Shift+F9"), std::nullopt, std::string("")},
       "Ctrl+Shift+F9", "Ctrl+Alt+T", "", {}},
      {"malformed keeps its default", {std::string("Ctrl+Q+Z"), std::string("Win+T"), std::nullopt},
       "Ctrl+Alt+H", "Win+T", "Ctrl+Alt+R",
       {"!!! Halvane.ini: Hold=Ctrl+Q+Z is not a key; keeping Ctrl+Alt+H\n"}},
      {"written key wins over a default", {std::nullopt, std::string("Ctrl+Alt+H"), std::nullopt},
       "", "Ctrl+Alt+H", "Ctrl+Alt+R",
       {"!!! Halvane.ini: Ctrl+Alt+H is Transfer's key; Hold has no key\n"}},
      {"earlier request wins between written keys", {std::nullopt, std::string("F8"), std::string("f8")},
       "Ctrl+Alt+H", "F8", "",
       {"!!! Halvane.ini: F8 is Transfer's key; Return has no key\n"}},
      {"swapped keys do not clash", {std::string("Ctrl+Alt+T"), std::string("Ctrl+Alt+H"), std::nullopt},
       "Ctrl+Alt+T", "Ctrl+Alt+H", "Ctrl+Alt+R", {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const HotkeyPlan plan = PlanHotkeys(row.entries);
    EXPECT_EQ(HotkeyText(plan.keys[0]), row.hold);
    EXPECT_EQ(HotkeyText(plan.keys[1]), row.transfer);
    EXPECT_EQ(HotkeyText(plan.keys[2]), row.ret);
    EXPECT_EQ(plan.reports, row.reports);
  }
  EXPECT_EQ(HotkeyTakenReport(OperatorKey::kTransfer, DefaultHotkey(OperatorKey::kTransfer)),
            "!!! Hotkey Ctrl+Alt+T (Transfer) is held by another program\n");
}

}  // namespace
}  // namespace halvane
