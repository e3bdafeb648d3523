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
    ASSERT_TRUE(script_.WaitingForCall());
  }

  std::string Log() const { return WithoutCr(halvane_.LogText()); }

  // The answered caller held, the second party dialled and answering, the two joined.
  void HoldDialAndJoin() {
    ASSERT_TRUE(script_.Hold());
    ASSERT_TRUE(script_.DialSecond());
    ASSERT_TRUE(script_.SecondAnswers());
    ASSERT_TRUE(script_.Transfer(false));
  }
};

// Two callers ring at once; the operator answers the later one in the client and the earlier gives
// up. The answered caller is the one Halvane follows, holds and transfers.
TEST_F(SwitchboardE2eTest, TwoCallersRingTheLaterIsAnsweredAndTransferred) {
  const std::size_t start = client_.UnnumberedCommands().size();
  const std::string earlier = client_.IncomingCall("caller1");
  script_.Options().caller = "caller2";
  ASSERT_TRUE(script_.RingAndAnswer());
  const std::string later = script_.FirstCall();
  ASSERT_TRUE(client_.Missed(earlier));
  // Two of the engine's looks at the calls: the missed call must not start a cycle over.
  ASSERT_FALSE(WaitUntil([&] { return CountOf(Log(), logline::kAnswer) > 1; }, std::chrono::milliseconds(2500),
                         "a second answer"))
      << Log();
  ASSERT_NO_FATAL_FAILURE(HoldDialAndJoin());
  ASSERT_TRUE(script_.ConferenceEnds());
  EXPECT_EQ(CommandsFrom(client_, start), CycleCommands(later, script_.SecondCall()));
}

// The client restarts during the conference and forgets both calls: Halvane asks after them, ends the
// conference as if both had ended, gives the operator the sound back, and follows the next caller.
TEST_F(SwitchboardE2eTest, ClientRestartDuringAConferenceThenTheNextCallerIsFollowed) {
  ASSERT_TRUE(script_.RingAndAnswer());
  ASSERT_NO_FATAL_FAILURE(HoldDialAndJoin());
  const std::string caller = script_.FirstCall();
  const std::string second = script_.SecondCall();
  const std::size_t before = client_.UnnumberedCommands().size();

  ASSERT_TRUE(client_.Restart());
  ASSERT_TRUE(log_.Expect(logline::kReconnect));
  ASSERT_TRUE(log_.Expect(logline::kFinished));
  ASSERT_TRUE(ClientReceives("#KALDU minimize"));
  const std::vector<std::string> after = CommandsFrom(client_, before);
  const auto sent = [&](const std::string& c) { return std::find(after.begin(), after.end(), c) != after.end(); };
  EXPECT_TRUE(sent("#KALDU get call " + caller + " status")) << ::testing::PrintToString(after);
  EXPECT_TRUE(sent("#KALDU get call " + second + " status")) << ::testing::PrintToString(after);
  EXPECT_TRUE(sent("#KALDU set AGC on")) << ::testing::PrintToString(after);
  EXPECT_FALSE(sent("#KALDU set call " + second + " status finished")) << "a hang-up of a call the client forgot";

  ASSERT_TRUE(log_.Expect(logline::kWaitIncoming));
  const std::size_t nextStart = client_.UnnumberedCommands().size();
  script_.Options().caller = "caller3";
  ASSERT_TRUE(script_.RingAndAnswer());
  EXPECT_EQ(CommandsFrom(client_, nextStart),
            (std::vector<std::string>{"#KALDU set AGC on", "#KALDU get call " + script_.FirstCall() + " partner_dispname"}));
}

}  // namespace
}  // namespace halvane::e2e
