// The program's real link (link window, attach handshake, WM_COPYDATA both ways, text conversion and
// line parsing) against the client emulator, in one process: what the client says must land on the
// call board, and what the link sends must reach the client.

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "base/call_board.h"
#include "base/log_writer.h"
#include "link/api_link.h"
#include "link/codepage.h"
#include "link/protocol.h"
#include "log_lines.h"
#include "recording_fakes.h"
#include "sim/client_emulator_win32.h"
#include "wait.h"

namespace halvane::e2e {
namespace {

using sim::TranscriptEntry;

using test::RecordingLog;

class ApiLinkE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(emulator_.Start()) << "the emulator's API window could not be made";
    ASSERT_TRUE(link_.Start()) << "the link thread did not start";
    ASSERT_TRUE(WaitUntil([&] { return board_.apiWindow.load() == emulator_.ApiWindow(); },
                          "the link to attach to the emulator"));
    ASSERT_EQ(emulator_.AttachedLink(), link_.LinkWindow());
  }

  void TearDown() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      finish_ = true;
    }
    finished_.notify_all();
    EXPECT_TRUE(WaitUntil([&] { return link_.Stopped(); }, "the link thread to stop after the engine returned"));
    emulator_.Stop();
  }

  // The engine's stand-in: keeps the worker until the test is over (bounded), then returns so that the
  // link closes in order.
  void Engine() {
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait_for(lock, std::chrono::seconds(60), [&] { return finish_; });
  }

  // Lines the emulator has finished handing to the link (taken or refused).
  std::size_t Handed() const {
    std::size_t count = 0;
    for (const TranscriptEntry& e : emulator_.Transcript()) {
      if (e.kind == TranscriptEntry::Kind::Sent || e.kind == TranscriptEntry::Kind::SendFailed) ++count;
    }
    return count;
  }

  ::testing::AssertionResult WaitForCall(const std::string& id, const std::string& status) {
    return WaitUntil([&] { return board_.Latest().id == id && board_.Latest().status == status; },
                     "call " + id + " " + status + " on the call board");
  }

  // Sends as the engine does, numbered ("#KALDU7 ..."), and waits for the reply with that tag.
  ::testing::AssertionResult SendAndWait(const std::string& command) {
    static unsigned tag = 0;
    const std::string numbered = "#KALDU" + std::to_string(++tag) + command.substr(6);
    if (!commands_.SendCommand(numbered.c_str())) {
      return ::testing::AssertionFailure() << "the client did not take: " << numbered;
    }
    return WaitUntil([&] { return board_.ReplyReceived(); }, "the reply to " + numbered);
  }

  sim::ClientEmulator emulator_;
  test::WatchedBoard board_;
  RecordingLog log_;
  CommandLink commands_{board_, PlatformDelivery(), SystemCodePage()};
  std::mutex mutex_;
  std::condition_variable finished_;
  bool finish_ = false;
  ApiLink link_{board_, log_, SystemCodePage(), PlatformWindowSystem(), commands_, [this] { Engine(); }};
};

TEST_F(ApiLinkE2eTest, FollowsATransferCycle) {
  ASSERT_TRUE(SendAndWait("#KALDU get currentuserhandle"));
  EXPECT_EQ(board_.userHandle.Load(), "operator1");

  ASSERT_EQ(emulator_.IncomingCall("caller"), "1234");
  ASSERT_TRUE(WaitForCall("1234", "RINGING"));
  ASSERT_TRUE(emulator_.OperatorAnswers("1234"));
  ASSERT_TRUE(WaitForCall("1234", "INPROGRESS"));
  ASSERT_TRUE(SendAndWait("#KALDU set AGC on"));
  ASSERT_TRUE(SendAndWait("#KALDU set call 1234 status onhold"));
  ASSERT_TRUE(WaitForCall("1234", "LOCALHOLD"));
  ASSERT_TRUE(SendAndWait("#KALDU open contacts"));
  ASSERT_EQ(emulator_.OperatorDials("target"), "1240");
  ASSERT_TRUE(WaitForCall("1240", "RINGING"));
  ASSERT_TRUE(emulator_.FarEndAnswers("1240"));
  ASSERT_TRUE(WaitForCall("1240", "INPROGRESS"));
  ASSERT_TRUE(SendAndWait("#KALDU set call 1234 join_conference 1240"));
  ASSERT_TRUE(WaitForCall("1234", "INPROGRESS"));
  ASSERT_TRUE(SendAndWait("#KALDU set AGC off"));
  ASSERT_TRUE(emulator_.FarEndHangsUp("1240"));
  ASSERT_TRUE(WaitForCall("1240", "FINISHED"));
  ASSERT_TRUE(SendAndWait("#KALDU set call 1234 status finished"));
  ASSERT_TRUE(WaitForCall("1234", "FINISHED"));

  EXPECT_EQ(emulator_.UnnumberedCommands(),
            (std::vector<std::string>{"#KALDU get currentuserhandle", "#KALDU set AGC on",
                                      "#KALDU set call 1234 status onhold", "#KALDU open contacts",
                                      "#KALDU set call 1234 join_conference 1240", "#KALDU set AGC off",
                                      "#KALDU set call 1234 status finished"}));
  EXPECT_TRUE(emulator_.LiveCalls().empty());
}

struct HostileCase {
  const char* what;
  std::string bytes;
  std::uint32_t cbData;
  bool foreign;
  const char* id;  // the call board afterwards
  const char* status;
};

// Whatever the client sends, the link reads nothing past cbData, drops what it cannot decode or what
// comes from another window, and keeps the board's fields within their widths.
TEST_F(ApiLinkE2eTest, StaysSoundUnderHostileLines) {
  ASSERT_TRUE(emulator_.SendLine("CALL 1 STATUS RINGING"));
  ASSERT_TRUE(WaitForCall("1", "RINGING"));
  const std::string longId(100, '7');
  const std::vector<HostileCase> cases = {
      {"UTF-8 cut short by the zero", std::string("CALL 66 STATUS X\xE2\x82") + '\0', 19, false, "1", "RINGING"},
      {"UTF-8 cut short by cbData", "CALL 66 STATUS X\xE2\x82\xAC", 18, false, "1", "RINGING"},
      {"no zero within cbData", "CALL 67 STATUS ROUTING", 22, false, "67", "ROUTING"},
      {"cbData ends the text", "CALL 68 STATUS RINGINGXXXX", 22, false, "68", "RINGING"},
      {"from a foreign window", std::string("CALL 69 STATUS FINISHED") + '\0', 24, true, "68", "RINGING"},
      {"huge line", std::string(70000, 'X') + '\0', 70001, false, "68", "RINGING"},
      {"overlong call id", "CALL " + longId + " STATUS INPROGRESS" + '\0', 124, false, "68", "RINGING"},
      {"keywords out of order", std::string(" STATUS CALL 70") + '\0', 16, false, "68", "RINGING"},
  };
  for (const HostileCase& c : cases) {
    const std::size_t before = Handed();
    const bool queued = c.foreign ? emulator_.SendFromForeignWindow(c.bytes.substr(0, c.bytes.size() - 1))
                                  : emulator_.SendBytes(c.bytes, c.cbData);
    ASSERT_TRUE(queued) << c.what;
    ASSERT_TRUE(WaitUntil([&] { return Handed() > before; }, std::string("the link to handle: ") + c.what));
    EXPECT_EQ(board_.Latest().id, c.id) << c.what;
    EXPECT_EQ(board_.Latest().status, c.status) << c.what;
  }
  // The link is still attached and working.
  EXPECT_EQ(board_.apiWindow.load(), emulator_.ApiWindow());
  ASSERT_TRUE(SendAndWait("#KALDU minimize"));
}

TEST_F(ApiLinkE2eTest, ReattachesAfterReLoginAndForgetsARefusingClient) {
  ASSERT_TRUE(emulator_.ReLogin());
  ASSERT_TRUE(WaitUntil([&] { return board_.reconnectNeeded.load(); }, "the reconnect-needed flag"));
  ASSERT_TRUE(WaitUntil([&] { return board_.apiWindow.load() == emulator_.ApiWindow(); },
                        "the link to attach again after the re-login"));
  EXPECT_NE(log_.Text().find(logline::kReLogin), std::string::npos) << log_.Text();
  ASSERT_TRUE(SendAndWait("#KALDU get currentuserhandle"));

  emulator_.SetRefuseDeliveries(true);
  EXPECT_FALSE(commands_.SendCommand("#KALDU90 open contacts"));
  EXPECT_EQ(board_.apiWindow.load(), 0u);
  EXPECT_FALSE(board_.ReplyReceived());
  // Not attached now: the next command is not even delivered.
  const auto transcriptBefore = emulator_.Transcript().size();
  EXPECT_FALSE(commands_.SendCommand("#KALDU minimize"));
  EXPECT_EQ(emulator_.Transcript().size(), transcriptBefore);
}

}  // namespace
}  // namespace halvane::e2e
