// The switchboard against the real Halvane.exe under Wine: more than one caller at once, and a client
// that restarts in the middle of a conference. The client emulator plays the client; the operator's
// driver presses the buttons.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/call_board.h"
#include "operator_win32.h"
#include "sim/client_emulator_win32.h"
#include "wait.h"

namespace halvane::e2e {
namespace {

class SwitchboardE2eTest : public OperatorTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(client_.Start()) << "the emulator's API window could not be made";
    const std::wstring folder = MakeWorkFolder(L"halvane-switchboard");
    ASSERT_FALSE(folder.empty()) << "no working folder";
    ASSERT_TRUE(halvane_.Start(folder, true)) << halvane_.Error();
    ASSERT_TRUE(WaitUntil([&] { return client_.AttachedLink() != 0; }, kStartDeadline, "Halvane to attach"));
    ASSERT_TRUE(LogGrows("\n\n=>wait for incoming call", 0));
  }

  std::string Log() const { return WithoutCr(halvane_.LogText()); }

  // The answered caller held with the Hold button, the second party dialled and answering, joined
  // with the Transfer button. Returns the second call's id.
  std::string HoldDialAndJoin(const std::string& caller) {
    AwaitReaction();
    EXPECT_TRUE(halvane_.Press(kIdHold));
    EXPECT_TRUE(ClientReceives("#KALDU set call " + caller + " status onhold"));
    EXPECT_TRUE(LogGrows("\n=>wait for placing 2nd call", 0));
    AwaitReaction();
    const std::string second = client_.OperatorDials("party2");
    EXPECT_TRUE(LogGrows("\n=>wait for 2nd call response", 0));
    EXPECT_TRUE(client_.FarEndAnswers(second));
    EXPECT_TRUE(LogGrows("\n=>wait for transfer button pressing", 0));
    AwaitReaction();
    EXPECT_TRUE(halvane_.Press(kIdTransfer));
    EXPECT_TRUE(ClientReceives("#KALDU set call " + caller + " join_conference " + second));
    EXPECT_TRUE(ClientReceives("#KALDU set AGC off"));
    return second;
  }
};

// Two callers ring at once; the operator answers the later one in the client and the earlier gives
// up. The answered caller is the one Halvane follows, holds and transfers.
TEST_F(SwitchboardE2eTest, TwoCallersRingTheLaterIsAnsweredAndTransferred) {
  const std::size_t start = client_.UnnumberedCommands().size();
  const std::string earlier = client_.IncomingCall("caller1");
  const std::string later = client_.IncomingCall("caller2");
  ASSERT_TRUE(LogGrows("\n=>incoming call rings", 0));
  ASSERT_TRUE(client_.OperatorAnswers(later));
  ASSERT_TRUE(LogGrows("\n=>wait for hold button pressing", 0));
  ASSERT_TRUE(client_.Missed(earlier));
  // Two of the engine's looks at the calls: the missed call must not start a cycle over.
  ASSERT_FALSE(WaitUntil([&] { return CountOf(Log(), "\n=>answer incoming call") > 1; }, std::chrono::milliseconds(2500),
                         "a second answer"))
      << Log();
  const std::string second = HoldDialAndJoin(later);
  ASSERT_TRUE(client_.FarEndHangsUp(later));
  ASSERT_TRUE(LogGrows("\n=>finished", 0));
  ASSERT_TRUE(ClientReceives("#KALDU minimize"));
  EXPECT_EQ(CommandsFrom(client_, start),
            (std::vector<std::string>{"#KALDU set AGC on", "#KALDU get call " + later + " partner_dispname",
                                      "#KALDU set call " + later + " status onhold", "#KALDU open contacts",
                                      "#KALDU get call " + second + " partner_dispname",
                                      "#KALDU set call " + later + " join_conference " + second,
                                      "#KALDU set AGC off", "#KALDU set call " + second + " status finished",
                                      "#KALDU set AGC on", "#KALDU minimize"}));
}

// The client restarts during the conference and forgets both calls: Halvane asks after them, ends the
// conference as if both had ended, gives the operator the sound back, and follows the next caller.
TEST_F(SwitchboardE2eTest, ClientRestartDuringAConferenceThenTheNextCallerIsFollowed) {
  const std::string caller = client_.IncomingCall("caller1");
  ASSERT_TRUE(LogGrows("\n=>incoming call rings", 0));
  ASSERT_TRUE(client_.OperatorAnswers(caller));
  ASSERT_TRUE(LogGrows("\n=>wait for hold button pressing", 0));
  const std::string second = HoldDialAndJoin(caller);
  ASSERT_TRUE(LogGrows("\n=>call transfered", 0));
  const std::size_t before = client_.UnnumberedCommands().size();

  ASSERT_TRUE(client_.Restart());
  ASSERT_TRUE(LogGrows("re-connect Skype\n", 0));
  ASSERT_TRUE(LogGrows("\n=>finished", 0));
  ASSERT_TRUE(ClientReceives("#KALDU minimize"));
  const std::vector<std::string> after = CommandsFrom(client_, before);
  const auto sent = [&](const std::string& c) { return std::find(after.begin(), after.end(), c) != after.end(); };
  EXPECT_TRUE(sent("#KALDU get call " + caller + " status")) << ::testing::PrintToString(after);
  EXPECT_TRUE(sent("#KALDU get call " + second + " status")) << ::testing::PrintToString(after);
  EXPECT_TRUE(sent("#KALDU set AGC on")) << ::testing::PrintToString(after);
  EXPECT_FALSE(sent("#KALDU set call " + second + " status finished")) << "a hang-up of a call the client forgot";

  ASSERT_TRUE(LogGrows("\n\n=>wait for incoming call", 1));
  const std::size_t nextStart = client_.UnnumberedCommands().size();
  const std::string next = client_.IncomingCall("caller3");
  ASSERT_TRUE(LogGrows("\n=>incoming call rings", 1));
  ASSERT_TRUE(client_.OperatorAnswers(next));
  ASSERT_TRUE(LogGrows("\n=>wait for hold button pressing", 1));
  EXPECT_EQ(CommandsFrom(client_, nextStart),
            (std::vector<std::string>{"#KALDU set AGC on", "#KALDU get call " + next + " partner_dispname"}));
}

}  // namespace
}  // namespace halvane::e2e
