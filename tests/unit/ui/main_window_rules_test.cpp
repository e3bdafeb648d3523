#include "ui/call_tip.h"
#include "ui/main_window_rules.h"
#include "ui/notice_rules.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace halvane {
namespace {

TEST(FormatTrayTip, WrapsTheHandleAndAlwaysFitsTheRecord) {
  EXPECT_EQ(FormatTrayTip(""), "Halvane()");
  EXPECT_EQ(FormatTrayTip("echo123"), "Halvane(echo123)");
  // 63 characters of tip: "Halvane(" and ")" leave 54 for the handle.
  const std::string fits(54, 'a');
  EXPECT_EQ(FormatTrayTip(fits), "Halvane(" + fits + ")");
  EXPECT_EQ(FormatTrayTip(std::string(55, 'a')), "Halvane(" + fits + ")");
  // The longest handle the call board holds must still leave the closing parenthesis in place.
  EXPECT_EQ(FormatTrayTip(std::string(255, 'b')), "Halvane(" + std::string(54, 'b') + ")");
  EXPECT_EQ(FormatTrayTip(std::string_view("ab\0cd", 5)), "Halvane(ab)");
  // In a double-byte code page the cut falls between characters: 53 single bytes and a two-byte
  // character would end in half of it, so the character goes whole.
  const auto leadByte = [](unsigned char byte) { return byte >= 0x81 && byte <= 0x9F; };
  const std::string wide = std::string(53, 'c') + "\x82\xA0" + "d";
  EXPECT_EQ(FormatTrayTip(wide, leadByte), "Halvane(" + std::string(53, 'c') + ")");
  EXPECT_EQ(FormatTrayTip(std::string(52, 'c') + "\x82\xA0", leadByte), "Halvane(" + std::string(52, 'c') + "\x82\xA0)");
  EXPECT_EQ(FormatTrayTip("ab\x82", leadByte), "Halvane(ab)") << "a lead byte with no trail byte";
}

TEST(HoldReminder, EverySixtySecondsOnHoldUntilTheJoinTheReturnOrTheHangUp) {
  const struct {
    const char* name;
    CallPhase ends;
  } stops[] = {{"join", CallPhase::kJoined}, {"return", CallPhase::kCallActive}, {"hang-up", CallPhase::kAtRest}};
  for (const auto& stop : stops) {
    SCOPED_TRACE(stop.name);
    HoldReminder reminder(60000);
    EXPECT_FALSE(reminder.Tick(1000, false)) << "not on hold";
    reminder.PhaseChanged(CallPhase::kCallerOnHold, 1000);
    EXPECT_FALSE(reminder.Tick(60999, false));
    EXPECT_TRUE(reminder.Tick(61000, false));
    EXPECT_FALSE(reminder.Tick(61500, false)) << "once per reminder";
    EXPECT_TRUE(reminder.Tick(121000, false)) << "repeated every further 60 s";
    // The second party talking holds it back; the count starts again when the talk ends.
    EXPECT_FALSE(reminder.Tick(150000, true));
    EXPECT_FALSE(reminder.Tick(209999, false));
    EXPECT_TRUE(reminder.Tick(210000, false));
    reminder.PhaseChanged(stop.ends, 211000);
    EXPECT_FALSE(reminder.Tick(999000, false));
  }
  HoldReminder off(0);
  off.PhaseChanged(CallPhase::kCallerOnHold, 0);
  EXPECT_FALSE(off.Tick(600000, false)) << "0 turns it off";
}

TEST(FormatNotice, FitsTheBalloonAndCarriesTheProblem) {
  EXPECT_EQ(FormatNotice(Notice::kDialUnanswered, nullptr).text,
            "The second call ended without an answer: dial again, or press Return.");
  EXPECT_EQ(FormatNotice(Notice::kSetupProblem, "Halvane.ini: Hold=F1 needs Ctrl, Alt or Win; keeping Ctrl+Alt+H").text,
            "Halvane.ini: Hold=F1 needs Ctrl, Alt or Win; keeping Ctrl+Alt+H");
  EXPECT_EQ(FormatNotice(Notice::kSetupProblem, std::string(300, 'x').c_str()).text, std::string(255, 'x'));
}

TEST(CallTipText, SaysWhereTheCallStandsWithNamesAndHoldTime) {
  const CallParties anna{"Anna Berg", "", 65000, false}, both{"Anna Berg", "Bob Lee", 3723000, true};
  EXPECT_EQ(CallTipText(CallPhase::kAtRest, anna), "");
  EXPECT_EQ(CallTipText(CallPhase::kCallActive, anna), "Anna Berg on the line");
  EXPECT_EQ(CallTipText(CallPhase::kCallerOnHold, anna), "Anna Berg on hold 1:05, dialling");
  EXPECT_EQ(CallTipText(CallPhase::kCallerOnHold, {"call 1234", "call 1240", 9000, false}), "call 1234 on hold 0:09, dialling call 1240");
  EXPECT_EQ(CallTipText(CallPhase::kCallerOnHold, both), "Anna Berg on hold 1:02:03, talking to Bob Lee");
  EXPECT_EQ(CallTipText(CallPhase::kJoined, both), "Anna Berg and Bob Lee joined");
  EXPECT_EQ(CallTipText(CallPhase::kCallActive, {std::string(60, 'x'), "", 0, false}), std::string(60, 'x') + " on");
  EXPECT_EQ(PartyName("", "1234", "The caller") + "|" + PartyName("", "", "The caller"), "call 1234|The caller");
  EXPECT_EQ(FormatNotice(Notice::kHeldCallerHungUp, "Anna Berg").text, "Anna Berg hung up while on hold.");
}

TEST(CopyBounded, NeverWritesPastTheBuffer) {
  char buffer[8];
  std::memset(buffer, 'x', sizeof buffer);
  CopyBounded(buffer, 5, "Halvane");
  EXPECT_STREQ(buffer, "Halv");
  EXPECT_EQ(buffer[5], 'x');
  CopyBounded(buffer, sizeof buffer, "");
  EXPECT_STREQ(buffer, "");
  buffer[0] = 'y';
  CopyBounded(buffer, 0, "abc");
  EXPECT_EQ(buffer[0], 'y');
}

TEST(ClassifyIconNotify, DispatchesTheFivePointerEventsOfIconOneOnly) {
  const struct {
    std::uintptr_t wParam;
    std::intptr_t lParam;
    TrayReaction reaction;
  } cases[] = {
      {1, 0x0201, TrayReaction::kLeftDown},    {1, 0x0203, TrayReaction::kLeftDouble},
      {1, 0x007B, TrayReaction::kRightDown},   {1, 0x0204, TrayReaction::kRightDown},
      {1, 0x0206, TrayReaction::kRightDouble}, {1, 0x0200, TrayReaction::kPointerMove},
      {1, 0x0202, TrayReaction::kNone},        {1, 0x0205, TrayReaction::kNone},
      {1, 0x0207, TrayReaction::kNone},        {1, 0x0400, TrayReaction::kNone},
      {0, 0x0201, TrayReaction::kNone},        {2, 0x0204, TrayReaction::kNone},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ClassifyIconNotify(c.wParam, c.lParam), c.reaction) << c.wParam << " " << c.lParam;
  }
}

TEST(SystemCommands, OnlyTheHighBitsAreCompared) {
  for (std::uintptr_t id = 0x10; id <= 0x1F; ++id) EXPECT_TRUE(IsAboutCommand(id)) << id;
  EXPECT_FALSE(IsAboutCommand(0x0F));
  EXPECT_FALSE(IsAboutCommand(0x20));
  EXPECT_FALSE(IsAboutCommand(0xF020));
  EXPECT_TRUE(IsMinimizeCommand(0xF020));
  EXPECT_TRUE(IsMinimizeCommand(0xF022));
  EXPECT_FALSE(IsMinimizeCommand(0xF060));  // close
  EXPECT_FALSE(IsMinimizeCommand(0xF030));  // maximise
}

TEST(CenteredIconOrigin, PutsTheOddPixelRightAndDown) {
  EXPECT_EQ(CenteredIconOrigin(100, 50, 32, 32).x, 34);
  EXPECT_EQ(CenteredIconOrigin(100, 50, 32, 32).y, 9);
  EXPECT_EQ(CenteredIconOrigin(33, 33, 32, 32).x, 1);
  // Smaller than the icon: truncation toward zero, as the division of a negative number does.
  EXPECT_EQ(CenteredIconOrigin(20, 0, 32, 32).x, -5);
  EXPECT_EQ(CenteredIconOrigin(20, 0, 32, 32).y, -15);
}

TEST(CentredWindowOrigin, CentresOverTheReferenceAndStaysInTheWorkArea) {
  const Rect work{0, 0, 1024, 738};
  const struct {
    Rect over;
    int width, height;
    int x, y;
  } rows[] = {
      {work, 336, 196, 344, 271},                   // the main window on the work area
      {{100, 50, 436, 246}, 406, 122, 65, 87},      // the About box over the main window
      {{900, 600, 1236, 796}, 406, 122, 618, 616},  // over a window partly off screen: pulled back in
      {{-300, -90, 36, 106}, 406, 122, 0, 0},       // off the other edges
      {work, 1200, 900, 0, 0},                      // larger than the area: its corner stays in
  };
  for (const auto& row : rows) {
    const Point at = CentredWindowOrigin(row.over, row.width, row.height, work);
    EXPECT_EQ(at.x, row.x) << row.over.left;
    EXPECT_EQ(at.y, row.y) << row.over.left;
  }
}

TEST(IconRetryDelayMs, DoublesFromHalfASecondUpToThirtySeconds) {
  const unsigned expected[] = {500, 500, 1000, 2000, 4000, 8000, 16000, 30000, 30000};
  for (unsigned tries = 0; tries < 9; ++tries) EXPECT_EQ(IconRetryDelayMs(tries), expected[tries]) << tries;
  EXPECT_EQ(IconRetryDelayMs(1000000), 30000U);
}

TEST(InstructionLines, NameTheStepsAndEndWithTheWebAddress) {
  ASSERT_EQ(kInstructionLines.size(), 11U);
  EXPECT_STREQ(kInstructionLines[0], "Halvane Instructions");
  EXPECT_STREQ(kInstructionLines[3], "2.) Press Halvane 'Hold' button.");
  EXPECT_STREQ(kInstructionLines[10], "https://halvane.invalid/");
  for (std::size_t blank : {1U, 7U, 9U}) EXPECT_STREQ(kInstructionLines[blank], "") << blank;
}

}  // namespace
}  // namespace halvane
