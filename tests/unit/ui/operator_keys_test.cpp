#include "ui/operator_keys.h"

#include <gtest/gtest.h>

namespace halvane {
namespace {

TEST(ParseHotkey, ReadsKeyTexts) {
  constexpr KeyRefusal kOk = KeyRefusal::kNone, kBad = KeyRefusal::kNotAKey, kBare = KeyRefusal::kNeedsModifier,
                       kSystem = KeyRefusal::kReserved;
  const struct {
    const char* text;
    KeyRefusal why;
    std::uint32_t modifiers;
    std::uint32_t virtualKey;
    const char* canonical;
  } rows[] = {
      {"Ctrl+Alt+H", kOk, 0x0003, 0x48, "Ctrl+Alt+H"},
      {" ctrl + shift + f9 ", kOk, 0x0006, 0x78, "Ctrl+Shift+F9"},
      {"Alt+Control+7", kOk, 0x0003, 0x37, "Ctrl+Alt+7"},
      {"Win+Pause", kOk, 0x0008, 0x13, "Win+Pause"},
      {"Shift+PageDown+", kBad, 0, 0, ""},
      {"F24", kOk, 0x0000, 0x87, "F24"},
      {"F13", kOk, 0x0000, 0x7C, "F13"},
      {"Ctrl+F1", kOk, 0x0002, 0x70, "Ctrl+F1"},
      {"Ctrl+Win+L", kOk, 0x000A, 0x4C, "Ctrl+Win+L"},
      {"", kOk, 0, 0, ""},
      {"   ", kOk, 0, 0, ""},
      {"H", kBare, 0, 0, ""},  // plain typing is never taken
      {"Shift+H", kBare, 0, 0, ""},
      {"5", kBare, 0, 0, ""},
      {"Home", kBare, 0, 0, ""},
      {"F1", kBare, 0, 0, ""},  // the programs' own function keys
      {"Shift+F10", kBare, 0, 0, ""},
      {"F12", kSystem, 0, 0, ""},  // kept for debuggers, in any form
      {"Ctrl+Alt+F12", kSystem, 0, 0, ""},
      {"Ctrl+Alt+Delete", kSystem, 0, 0, ""},
      {"Ctrl+Alt+Shift+Delete", kSystem, 0, 0, ""},
      {"Alt+Tab", kSystem, 0, 0, ""},
      {"Ctrl+Tab", kSystem, 0, 0, ""},
      {"Alt+Esc", kSystem, 0, 0, ""},
      {"Ctrl+Esc", kSystem, 0, 0, ""},
      {"Alt+F4", kSystem, 0, 0, ""},
      {"Alt+Space", kSystem, 0, 0, ""},
      {"Win+L", kSystem, 0, 0, ""},
      {"Win+E", kSystem, 0, 0, ""},
      {"Win+Shift+S", kSystem, 0, 0, ""},
      {"Win+3", kSystem, 0, 0, ""},
      {"Ctrl+Ctrl+H", kBad, 0, 0, ""},  // a modifier twice
      {"Ctrl+H+J", kBad, 0, 0, ""},     // two keys
      {"Ctrl+Alt", kBad, 0, 0, ""},     // no key
      {"Ctrl++H", kBad, 0, 0, ""},
      {"Ctrl+F25", kBad, 0, 0, ""},
      {"Ctrl+F0", kBad, 0, 0, ""},
      {"Ctrl+Hyper+H", kBad, 0, 0, ""},
      {"Ctrl+Alt+Ä", kBad, 0, 0, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    Hotkey key{0x99, 0x99};
    KeyRefusal why = KeyRefusal::kNone;
    ASSERT_EQ(ParseHotkey(row.text, key, &why), row.why == kOk);
    EXPECT_EQ(static_cast<int>(why), static_cast<int>(row.why));
    if (row.why != kOk) {
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
      {"malformed keeps its default", {std::string("Ctrl+Q+Z"), std::string("Ctrl+Win+T"), std::nullopt},
       "Ctrl+Alt+H", "Ctrl+Win+T", "Ctrl+Alt+R",
       {"!!! Halvane.ini: Hold=Ctrl+Q+Z is not a key; keeping Ctrl+Alt+H\n"}},
      {"written key wins over a default", {std::nullopt, std::string("Ctrl+Alt+H"), std::nullopt},
       "", "Ctrl+Alt+H", "Ctrl+Alt+R",
       {"!!! Halvane.ini: Ctrl+Alt+H is Transfer's key; Hold has no key\n"}},
      {"earlier request wins between written keys", {std::nullopt, std::string("F18"), std::string("f18")},
       "Ctrl+Alt+H", "F18", "",
       {"!!! Halvane.ini: F18 is Transfer's key; Return has no key\n"}},
      {"swapped keys do not clash", {std::string("Ctrl+Alt+T"), std::string("Ctrl+Alt+H"), std::nullopt},
       "Ctrl+Alt+T", "Ctrl+Alt+H", "Ctrl+Alt+R", {}},
      {"two keys off do not clash", {std::string(""), std::nullopt, std::string(" ")}, "", "Ctrl+Alt+T", "", {}},
      {"reserved and bare keys keep their defaults", {std::string("Win+L"), std::string("F1"), std::nullopt},
       "Ctrl+Alt+H", "Ctrl+Alt+T", "Ctrl+Alt+R",
       {"!!! Halvane.ini: Hold=Win+L is reserved for Windows or every program; keeping Ctrl+Alt+H\n",
        "!!! Halvane.ini: Transfer=F1 needs Ctrl, Alt or Win; keeping Ctrl+Alt+T\n"}},
      {"a refused entry whose default is taken gets one report", {std::string("Ctrl+Q+Z"), std::string("Ctrl+Alt+H"),
       std::nullopt}, "", "Ctrl+Alt+H", "Ctrl+Alt+R",
       {"!!! Halvane.ini: Hold=Ctrl+Q+Z is not a key; its default Ctrl+Alt+H is Transfer's key; Hold has no key\n"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const HotkeyPlan plan = PlanHotkeys(row.entries);
    EXPECT_EQ(HotkeyText(plan.keys[0]), row.hold);
    EXPECT_EQ(HotkeyText(plan.keys[1]), row.transfer);
    EXPECT_EQ(HotkeyText(plan.keys[2]), row.ret);
    EXPECT_EQ(plan.reports, row.reports);
  }
  EXPECT_EQ(HotkeyRefusedReport(OperatorKey::kTransfer, DefaultHotkey(OperatorKey::kTransfer), 1409,
                                "Hot key is already registered.\r\n"),
            "!!! Hotkey Ctrl+Alt+T (Transfer) is held by another program (error 1409: Hot key is already registered)\n");
  EXPECT_EQ(HotkeyRefusedReport(OperatorKey::kHold, DefaultHotkey(OperatorKey::kHold), 5, "Access denied"),
            "!!! Hotkey Ctrl+Alt+H (Hold) could not be registered (error 5: Access denied)\n");
}

}  // namespace
}  // namespace halvane
