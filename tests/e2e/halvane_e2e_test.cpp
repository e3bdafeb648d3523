// The real Halvane.exe under Wine, driven as its operator drives it (buttons, tray menu, the icon's
// callback, the system menu, the close box) while the client emulator plays the client: what the
// client receives, the buttons' states, the session log file, the icon and the window, the end of the
// program and the single-copy rule. Each test starts as few copies as it can: Wine is slow to take
// windows down.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/call_board.h"
#include "operator_win32.h"
#include "sim/client_emulator_win32.h"
#include "wait.h"

namespace halvane::e2e {
namespace {

::testing::AssertionResult Completed(const TransferResult& result) {
  if (result.completed) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "the transfer stopped at \"" << result.failedStep << "\": " << result.detail;
}

// The commands one attended transfer sends, in order.
std::vector<std::string> CycleCommands(const std::string& first, const std::string& second) {
  return {
      "#KALDU set AGC on",
      "#KALDU set call " + first + " status onhold",
      "#KALDU open contacts",
      "#KALDU set call " + first + " join_conference " + second,
      "#KALDU set AGC off",
      "#KALDU set call " + second + " status finished",
      "#KALDU set AGC on",
      "#KALDU minimize",
  };
}

std::vector<std::string> CommandsFrom(const sim::ClientEmulator& client, std::size_t first) {
  const std::vector<std::string> all = client.Commands();
  return std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(first < all.size() ? first : all.size()),
                                  all.end());
}

class HalvaneE2eTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(client_.Start()) << "the emulator's API window could not be made"; }
  void TearDown() override {
    halvane_.Terminate();
    client_.Stop();
  }

  // Starts Halvane in a fresh folder and waits until it has hidden its window and attached.
  void StartHalvane(bool withLogFolder) {
    const std::wstring folder = MakeWorkFolder(L"halvane-e2e");
    ASSERT_FALSE(folder.empty()) << "no working folder";
    ASSERT_TRUE(halvane_.Start(folder, withLogFolder)) << halvane_.Error();
    ASSERT_TRUE(WaitUntil([&] { return client_.AttachedLink() != 0; }, kStartDeadline, "Halvane to attach"));
  }

  sim::ClientEmulator client_;
  HalvaneProcess halvane_;
};

TEST_F(HalvaneE2eTest, TransferWithTheButtonsThenWithTheTrayMenu) {
  ASSERT_NO_FATAL_FAILURE(StartHalvane(true));

  const TransferResult buttons = PlayAttendedTransfer(halvane_, client_);
  ASSERT_TRUE(Completed(buttons));
  EXPECT_EQ(CommandsFrom(client_, buttons.firstCommand), CycleCommands(buttons.firstCall, buttons.secondCall));

  TransferOptions menu;
  menu.trayMenu = true;
  menu.caller = "caller3";
  menu.secondParty = "party4";
  const TransferResult tray = PlayAttendedTransfer(halvane_, client_, menu);
  ASSERT_TRUE(Completed(tray));
  EXPECT_EQ(CommandsFrom(client_, tray.firstCommand), CycleCommands(tray.firstCall, tray.secondCall));
}

}  // namespace
}  // namespace halvane::e2e
