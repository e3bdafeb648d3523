#include "ui/operator_keys.h"

#include "ui/halvane_ini.h"

#include <gtest/gtest.h>

#include <vector>

namespace halvane {
namespace {

TEST(ParseHotkey, ReadsKeyTexts) {
  const struct {
    const char* text;
    std::uint32_t modifiers;
    std::uint32_t virtualKey;
    const char* canonical;
  } taken[] = {
      {"Ctrl+Alt+H", 0x0003, 0x48, "Ctrl+Alt+H"}, {" ctrl + alt + shift + f9 ", 0x0007, 0x78, "Ctrl+Alt+Shift+F9"},
      {"Alt+Control+7", 0x0003, 0x37, "Ctrl+Alt+7"}, {"Ctrl+Home", 0x0002, 0x24, "Ctrl+Home"},
      {"Alt+F13", 0x0001, 0x7C, "Alt+F13"}, {"F24", 0x0000, 0x87, "F24"}, {"F13", 0x0000, 0x7C, "F13"},
      {"Ctrl+Alt+F1", 0x0003, 0x70, "Ctrl+Alt+F1"}, {"", 0, 0, ""}, {"   ", 0, 0, ""},
  };
  for (const auto& row : taken) {
    SCOPED_TRACE(row.text);
    Hotkey key{0x99, 0x99};
    KeyRefusal why = KeyRefusal::kNotAKey;
    ASSERT_TRUE(ParseHotkey(row.text, key, &why));
    EXPECT_EQ(static_cast<int>(why), static_cast<int>(KeyRefusal::kNone));
    EXPECT_EQ(key, (Hotkey{row.modifiers, row.virtualKey}));
    EXPECT_EQ(HotkeyText(key), row.canonical);
  }
  const struct {
    KeyRefusal why;
    std::vector<const char*> texts;
  } refused[] = {
      // Plain typing and the programs' own function keys are never taken.
      {KeyRefusal::kNeedsModifier, {"H", "Shift+H", "5", "Home", "F1", "Shift+F10"}},
      // F12 is kept for debuggers in any form; the rest are the system's and the shell's.
      {KeyRefusal::kReserved, {"F12", "Ctrl+Alt+F12", "Ctrl+Alt+Delete", "Ctrl+Alt+Shift+Delete", "Alt+Tab", "Ctrl+Tab",
                               "Alt+Esc", "Ctrl+Esc", "Alt+F4", "Alt+Space", "Win+L", "Win+E", "Win+Shift+S", "Win+3",
                               "Win+Pause", "Win+Space", "Win+Up", "Ctrl+Win+D", "Ctrl+Alt+Win+H"}},
      // Every program's.
      {KeyRefusal::kProgramShortcut, {"Ctrl+C", "Ctrl+V", "ctrl+x", "Ctrl+Z", "Alt+F", "Ctrl+F4", "Ctrl+F1", "Alt+F11",
                                      "Ctrl+Shift+F9", "Alt+Shift+1", "Ctrl+0"}},
      // A modifier twice, two keys, no key, and keys that do not exist.
      {KeyRefusal::kNotAKey, {"Shift+PageDown+", "Ctrl+Ctrl+H", "Ctrl+H+J", "Ctrl+Alt", "Ctrl++H", "Ctrl+F25", "Ctrl+F0",
                              "Ctrl+Hyper+H", "Ctrl+Alt+Ä"}},
  };
  for (const auto& group : refused) {
    for (const char* text : group.texts) {
      SCOPED_TRACE(text);
      Hotkey key{0x99, 0x99};
      KeyRefusal why = KeyRefusal::kNone;
      EXPECT_FALSE(ParseHotkey(text, key, &why));
      EXPECT_EQ(static_cast<int>(why), static_cast<int>(group.why));
      EXPECT_EQ(key, (Hotkey{0x99, 0x99})) << "untouched";
    }
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
      {"changed and off", {std::string("Ctrl+Alt+Shift+F9"), std::nullopt, std::string("")},
       "Ctrl+Alt+Shift+F9", "Ctrl+Alt+T", "", {}},
      {"malformed keeps its default", {std::string("Ctrl+Q+Z"), std::string("Ctrl+Alt+F5"), std::nullopt},
       "Ctrl+Alt+H", "Ctrl+Alt+F5", "Ctrl+Alt+R",
       {"!!! Halvane.ini: Hold=Ctrl+Q+Z is not a key; keeping Ctrl+Alt+H\n"}},
      {"a program's shortcut keeps its default", {std::nullopt, std::nullopt, std::string("Ctrl+C")},
       "Ctrl+Alt+H", "Ctrl+Alt+T", "Ctrl+Alt+R",
       {"!!! Halvane.ini: Return=Ctrl+C is a shortcut of other programs (use Ctrl+Alt with it); keeping Ctrl+Alt+R\n"}},
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

TEST(ReadHalvaneIni, ValuesAndMistakesEachToldOnce) {
  const std::string n = " is neither 0 nor 1; notices stay on\n", s = " is not whole seconds from 0 to 86400; keeping 60\n";
  const struct {
    const char* text;
    bool show;
    unsigned reminder;
    const char* hold;  // nullptr: not written
    std::vector<std::string> reports, noticeReports;  // without "!!! Halvane.ini: "
  } rows[] = {
      {"", true, 60, nullptr, {}, {}}, {"[Notices]\nHoldReminder=1\n", true, 1, nullptr, {}, {}},
      {"\xEF\xBB\xBF[notices]\r\nshow = 0   ; no notices\r\nHoldReminder=90\r\n", false, 90, nullptr, {}, {}},
      {"[Notices]\nShow=1\nHoldReminder=0\n[Hotkeys]\nHold = Ctrl+Alt+F5 ; mine\n", true, 0, "Ctrl+Alt+F5", {}, {}},
      {"[Notices]\nHoldReminder=86400\n", true, 86400, nullptr, {}, {}},
      {"[Notices]\nShow=yes\n", true, 60, nullptr, {}, {"Show=yes" + n}}, {"[Notices]\nShow=\n", true, 60, nullptr, {}, {"Show=" + n}},
      {"[Notices]\nShow=true\nHoldReminder=abc\n", true, 60, nullptr, {}, {"Show=true" + n, "HoldReminder=abc" + s}},
      {"[Hotkeys]\nHlod=Ctrl+Alt+F5\nHlod=x\n", true, 60, nullptr, {"Hlod= in [Hotkeys] is not an entry Halvane knows; ignored\n"}, {}},
      {"[Hotkey]\nHold=Ctrl+Alt+F5\n[Hotkey]\n", true, 60, nullptr, {"[Hotkey] is not a section Halvane knows; its entries are ignored\n"}, {}},
      {"[Hotkeys]\nHold=Ctrl+Alt+F5\n[HOTKEYS]\nHold=Ctrl+Alt+F6\n", true, 60, "Ctrl+Alt+F5", {"[HOTKEYS] appears again; only the first is read\n"}, {}},
      {"[Hotkeys]\nHold=Ctrl+Alt+F5\nhold=Ctrl+Alt+F6\nTransfer\n", true, 60, "Ctrl+Alt+F5",
       {"hold= appears again in [Hotkeys]; only the first is read\n", "\"Transfer\" in [Hotkeys] is not an entry; ignored\n"}, {}},
      {"Show=0\n[Notices\nShow=0\n", true, 60, nullptr, {"Show= outside any section is not an entry Halvane knows; ignored\n",
       "\"[Notices\" is not a section; what follows up to the next section is ignored\n"}, {}},
  };
  const auto told = [](std::vector<std::string> reports) {
    for (std::string& report : reports) report.insert(0, "!!! Halvane.ini: ");
    return reports;
  };
  for (const char* value : {"-5", "86401", "1m", "99999999999", "1 0"}) {
    EXPECT_EQ(ReadHalvaneIni(std::string("[Notices]\nHoldReminder=") + value).noticeReports, told({"HoldReminder=" + std::string(value) + s}));
  }
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    const HalvaneIni ini = ReadHalvaneIni(row.text);
    EXPECT_EQ(ini.showNotices, row.show);
    EXPECT_EQ(ini.holdReminderSeconds, row.reminder);
    EXPECT_EQ(ini.keys[0].value_or("(none)"), row.hold != nullptr ? row.hold : "(none)");
    EXPECT_EQ(ini.reports, told(row.reports));
    EXPECT_EQ(ini.noticeReports, told(row.noticeReports));
  }
}

}  // namespace
}  // namespace halvane
