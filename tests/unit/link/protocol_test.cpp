#include "link/protocol.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "fake_code_page.h"
#include "recording_fakes.h"

namespace halvane {
namespace {

// Parses line from a heap block of exactly its size, so that a read past the zero shows under ASan.
void Parse(CallBoard& board, const std::string& line) {
  auto block = std::make_unique<char[]>(line.size() + 1);
  line.copy(block.get(), line.size());
  block[line.size()] = '\0';
  ParseNotification(board, block.get());
}

// Whether the awaited reply came, the latest call line's id and status, the user handle.
using BoardView = std::tuple<bool, std::string, std::string, std::string>;

BoardView View(test::WatchedBoard& board) {
  const CallStatusLine latest = board.Latest();
  return {board.ReplyReceived(), latest.id, latest.status, board.userHandle.Load()};
}

// Each row starts from the board the row above left, awaiting the reply to command 7, so the flag shows
// whether the row's line ended that wait. Words are read only where the client puts them: a line about
// a call at the start of a notification or right after a reply's tag, a handle or protocol right after
// a reply's tag; texts other people write (mood, full name, chat topic) say nothing, however they read.
// A status is cut to 23 characters, a handle to 255; bytes of the local code page stay as they are.
TEST(ParseNotification, WalksTheClientsLinesRowByRow) {
  struct Row {
    std::string line;
    BoardView after;
  };
  const Row rows[] = {
      {"#KALDU7 CURRENTUSERHANDLE operator1", {true, "", "", "operator1"}},
      {"CALL 1234 STATUS RINGING", {false, "1234", "RINGING", "operator1"}},
      {"CALL 1234 STATUS INPROGRESS", {false, "1234", "INPROGRESS", "operator1"}},
      {"#KALDU7 CALL 1234 STATUS ONHOLD", {true, "1234", "ONHOLD", "operator1"}},
      {"CALL 1240 STATUS ROUTING", {false, "1240", "ROUTING", "operator1"}},
      {"CALL 77 STATUS RINGING", {false, "77", "RINGING", "operator1"}},
      {"CALL 1240 DURATION 12", {false, "77", "RINGING", "operator1"}},
      {"USERSTATUS ONLINE", {false, "77", "RINGING", "operator1"}},
      {"CURRENTUSERHANDLE someone", {false, "77", "RINGING", "operator1"}},
      {"#KALDU7 CURRENTUSERHANDLE ", {true, "77", "RINGING", "operator1"}},
      {"#kaldu7 OPEN CONTACTS", {true, "77", "RINGING", "operator1"}},
      {"#KALDU6 OPEN CONTACTS", {false, "77", "RINGING", "operator1"}},
      {"#KALDU CALL 1240 STATUS INPROGRESS", {false, "1240", "INPROGRESS", "operator1"}},
      {"#KALDU17 CALL 1234 STATUS FINISHED", {false, "1234", "FINISHED", "operator1"}},
      {"#KALDU7 call 1240 status finished", {true, "1234", "FINISHED", "operator1"}},
      {"USER bob MOOD_TEXT CALL 1240 STATUS FINISHED", {false, "1234", "FINISHED", "operator1"}},
      {"USER bob FULLNAME CALL 1240 STATUS FINISHED", {false, "1234", "FINISHED", "operator1"}},
      {"CHAT #bob/$op;1 TOPIC CALL 1240 STATUS FINISHED", {false, "1234", "FINISHED", "operator1"}},
      {"CALL 1240 PARTNER_DISPNAME CALL 1240 STATUS FINISHED", {false, "1234", "FINISHED", "operator1"}},
      {"#KALDU7 OPEN CONTACTS CALL 1240 STATUS FINISHED", {true, "1234", "FINISHED", "operator1"}},
      {" CALL 1240 STATUS FINISHED", {false, "1234", "FINISHED", "operator1"}},
      {"USER bob MOOD_TEXT #KALDU7 CURRENTUSERHANDLE mallory", {false, "1234", "FINISHED", "operator1"}},
      {"#KALDU7 USER bob MOOD_TEXT CURRENTUSERHANDLE mallory", {true, "1234", "FINISHED", "operator1"}},
      {"CALL 1240 STATUS FINISHED", {false, "1240", "FINISHED", "operator1"}},
      {"#KaLdU7 CURRENTUSERHANDLE second.user", {true, "1240", "FINISHED", "second.user"}},
      {"CALL 12\xE9 STATUS \xFF\x80", {false, "12\xE9", "\xFF\x80", "second.user"}},
      {"CALL 5 STATUS " + std::string(10240, 'X'), {false, "5", std::string(23, 'X'), "second.user"}},
      {"#KALDU7 CURRENTUSERHANDLE " + std::string(10240, 'h'), {true, "5", std::string(23, 'X'), std::string(255, 'h')}},
  };
  test::WatchedBoard board;
  for (const Row& row : rows) {
    board.awaitedTag.store(7);
    board.repliedTag.store(0);
    Parse(board, row.line);
    EXPECT_EQ(View(board), row.after) << row.line;
  }
  // Every call's latest status is in the call table, but a call whose end was taken has left it.
  EXPECT_EQ(board.calls.StatusOf("1234") + board.calls.StatusOf("77") + board.calls.StatusOf("1240"),
            "RINGING");
  board.awaitedTag.store(12);  // the awaited reply tells an error and leaves its number; a protocol only after a tag
  Parse(board, "#KALDU12 ERROR 72 Cannot create conference");
  Parse(board, "USER bob MOOD_TEXT PROTOCOL 3");
  EXPECT_TRUE(board.replyError.load() && board.errorTag.load() == 12U && board.clientProtocol.load() == 1);
}

// Lines the cut cannot apply to: nothing but the flag of a tagged line may change.
TEST(ParseNotification, DropsMalformedStatusLines) {
  const struct {
    const char* name;
    std::string line;
    bool tagged;
  } rows[] = {
      {"keywords adjacent", "CALL STATUS RINGING", false},
      {"only the separator between the keywords", "CALL  STATUS RINGING", false},
      {"empty status", "CALL 5 STATUS", false},
      {"separator but no status", "CALL 5 STATUS ", false},
      {"tagged, empty status", "#KALDU7 CALL 5 STATUS", true},
      {"tagged, keywords adjacent", "#KALDU7 CALL STATUS X", true},
      {"tag cut short", "#KALD", false},
      {"empty line", "", false},
      {"handle keyword without its blank", "#KALDU7 CURRENTUSERHANDLE", true},
      {"call id one longer than its field", "CALL 1234567890123456 STATUS FINISHED", false},
      {"tagged, call id longer than its field", "#KALDU7 CALL 12345678901234567890 STATUS ONHOLD", true},
  };
  for (const auto& row : rows) {
    test::WatchedBoard board;
    board.calls.Report("1234", "RINGING");
    board.userHandle.Store("operator1");
    board.awaitedTag.store(7);
    Parse(board, row.line);
    EXPECT_EQ(View(board), BoardView(row.tagged, "1234", "RINGING", "operator1")) << row.name;
  }
}

// Seeded ids of 1 to 40 characters, many alike in their first 15: the board names a call only by an id
// the client sent whole, so a command can never name a call through a cut id.
TEST(ParseNotification, NeverMakesTwoIdsOneByCuttingThem) {
  std::mt19937 random(20261207);
  std::uniform_int_distribution<int> length(1, 40);
  std::uniform_int_distribution<int> digit('0', '9');
  test::WatchedBoard board;
  std::string lastWhole;
  for (int i = 0; i < 2000; ++i) {
    std::string id = "123456789012345";
    id.resize(static_cast<std::size_t>(length(random)), '0');
    // The last three characters vary: past the 15th for the longer ids.
    for (std::size_t k = id.size() > 3 ? id.size() - 3 : 0; k < id.size(); ++k) {
      id[k] = static_cast<char>(digit(random));
    }
    Parse(board, "CALL " + id + " STATUS RINGING");
    if (id.size() <= 15) lastWhole = id;
    ASSERT_EQ(board.Latest().id, lastWhole) << "after id " << id;
  }
}

// Each command with its tag; a call command without its ids, a text that does not fit and a format
// that is not one of ours are refused with an empty buffer.
TEST(FormatCommand, RefusesACallCommandWithoutItsIds) {
  const struct {
    const char* format;
    const char* id1;
    const char* id2;
    const char* text;  // empty: refused
    std::size_t size = kCommandBufferSize;
  } rows[] = {
      {command::kProtocol, nullptr, nullptr, "#KALDU17 protocol 5"},
      {command::kGetCurrentUserHandle, nullptr, nullptr, "#KALDU17 get currentuserhandle"},
      {command::kOpenContacts, nullptr, nullptr, "#KALDU17 open contacts"},
      {command::kAgcOn, nullptr, nullptr, "#KALDU17 set AGC on"},
      {command::kAgcOff, nullptr, nullptr, "#KALDU17 set AGC off"},
      {command::kHold, "1234", nullptr, "#KALDU17 set call 1234 status onhold"},
      {command::kResume, "1234", nullptr, "#KALDU17 set call 1234 status inprogress"},
      {command::kHangUp, "1240", nullptr, "#KALDU17 set call 1240 status finished"},
      {command::kJoin, "1234", "1240", "#KALDU17 set call 1234 join_conference 1240"},
      {command::kNoReleased, nullptr, nullptr, "#KALDU17 btn_released no"},
      {command::kMinimize, nullptr, nullptr, "#KALDU17 minimize"},
      {command::kGetCallStatus, "1234", nullptr, "#KALDU17 get call 1234 status"},
      {command::kHold, nullptr, nullptr, ""},
      {command::kHold, "", nullptr, ""},
      {command::kHangUp, "", "1240", ""},
      {command::kJoin, "1234", "", ""},
      {command::kJoin, nullptr, "1240", ""},
      {command::kJoin, "1234", "1240", "", 20},
      {"%s set call %d", "1", nullptr, ""},
      {"minimize", nullptr, nullptr, ""},
      {nullptr, nullptr, nullptr, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << "row " << &row - rows);
    char buffer[kCommandBufferSize];
    buffer[0] = 'x';
    EXPECT_EQ(FormatCommand(buffer, row.size, row.format, row.id1, row.id2, 17), *row.text != '\0');
    EXPECT_STREQ(buffer, row.text);
  }
  // Two ids at their full width fit the buffer.
  const std::string longest(15, '7');
  char buffer[kCommandBufferSize];
  EXPECT_TRUE(FormatCommand(buffer, sizeof buffer, command::kJoin, longest.c_str(), longest.c_str(), 4294967295U));
}

using test::RecordingDelivery;
using test::RecordingLog;

struct LinkFixture : testing::Test {
  test::WatchedBoard board;
  RecordingDelivery delivery;
  test::FakeCodePage codePage;
  RecordingLog log;
  CommandLink link{board, delivery, codePage, &log};

  bool Send(const char* text) {
    testing::internal::CaptureStdout();
    const bool delivered = link.SendCommand(text);
    printed = testing::internal::GetCapturedStdout();
    return delivered;
  }

  std::string printed;
};

TEST_F(LinkFixture, DeliversTheTextInUtf8WithItsTerminator) {
  board.apiWindow.store(0x51);
  link.SetLinkWindow(0x77);
  EXPECT_TRUE(Send("#KALDU set call 1234 join_conference caf\xE9"));
  EXPECT_EQ(board.awaitedTag.load(), 0U) << "no numbered tag: no reply can be told as its own";
  ASSERT_EQ(delivery.sent.size(), 1U);
  EXPECT_EQ(delivery.sent[0].target, 0x51U);
  EXPECT_EQ(delivery.sent[0].sender, 0x77U);
  EXPECT_EQ(delivery.sent[0].bytes, std::string("#KALDU set call 1234 join_conference caf\xC3\xA9") + '\0');
  EXPECT_EQ(printed, "");
}

TEST_F(LinkFixture, RefusalKeepsAnAttachMadeDuringTheDelivery) {
  board.apiWindow.store(0x51);
  delivery.answer = DeliveryResult::kRefused;
  delivery.during = [this] { board.apiWindow.store(0x99); };
  EXPECT_FALSE(Send("#KALDU minimize"));
  EXPECT_EQ(board.apiWindow.load(), 0x99U);
}

// Only the client's explicit 0 lets go of it; a client too busy to take a command in time is kept.
TEST_F(LinkFixture, EachDeliveryOutcomeKeepsOrForgetsTheClient) {
  const struct {
    DeliveryResult answer;
    bool sent;
    WindowHandle apiWindowAfter;
    const char* printed;
    const char* logged;
    bool lost;
  } rows[] = {
      {DeliveryResult::kAccepted, true, 0x51, "", "", false},
      {DeliveryResult::kTimedOut, true, 0x51, "", "!!! Skype did not take a command in time\n", false},
      {DeliveryResult::kRefused, false, 0, "!!! Disconnected\n", "", true},
      {DeliveryResult::kGone, false, 0, "!!! Disconnected\n", "", true},
      {DeliveryResult::kNotDelivered, false, 0x51, "", "!!! Skype did not take a command in time\n", false},
  };
  for (const auto& row : rows) {
    CallBoard rowBoard;
    RecordingLog rowLog;
    CommandLink rowLink(rowBoard, delivery, codePage, &rowLog);
    rowBoard.apiWindow.store(0x51);
    delivery.answer = row.answer;
    testing::internal::CaptureStdout();
    EXPECT_EQ(rowLink.SendCommand("#KALDU set AGC on"), row.sent) << row.printed << row.logged;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), row.printed);
    EXPECT_EQ(rowBoard.apiWindow.load(), row.apiWindowAfter);
    EXPECT_EQ(rowLog.Text(), row.logged);
    EXPECT_EQ(rowLink.TakeClientLost(), row.lost);
    EXPECT_FALSE(rowLink.TakeClientLost()) << "taken once";
  }
}

// A stall is logged as it begins; the commands the platform gave up at once (not sent) are counted and
// their number logged as it ends.
TEST_F(LinkFixture, AStallIsLoggedOncePerRunOfTimedOutDeliveries) {
  board.apiWindow.store(0x51);
  using R = DeliveryResult;
  const struct {
    R answer;
    bool sent;
  } steps[] = {{R::kTimedOut, true},     {R::kTimedOut, true},     {R::kAccepted, true},
               {R::kTimedOut, true},     {R::kNotDelivered, false}, {R::kNotDelivered, false},
               {R::kAccepted, true},     {R::kNotDelivered, false}, {R::kRefused, false}};
  for (const auto& step : steps) {
    delivery.answer = step.answer;
    EXPECT_EQ(Send("#KALDU open contacts"), step.sent);
  }
  EXPECT_EQ(log.Text(),
            "!!! Skype did not take a command in time\n!!! Skype did not take a command in time\n"
            "!!! Skype was not responding; commands not delivered: 2\n"
            "!!! Skype did not take a command in time\n!!! Skype was not responding; commands not delivered: 1\n");
  EXPECT_EQ(delivery.sent.size(), 9U) << "the stalled client stays the target";
}

TEST_F(LinkFixture, ReplyParsedDuringTheDeliveryStaysSeen) {
  board.apiWindow.store(0x51);
  delivery.during = [this] { ParseNotification(board, "#KALDU9 AGC ON"); };
  EXPECT_TRUE(Send("#KALDU9 set AGC on"));
  EXPECT_TRUE(board.ReplyReceived());
  EXPECT_TRUE(Send("#KALDU10 set AGC on"));  // the same reply again: an earlier command's
  EXPECT_FALSE(board.ReplyReceived());
}

// Not sent while not attached, or when the conversion refuses the text; either way the reply flag is
// cleared first and the client kept.
TEST_F(LinkFixture, UnattachedOrUnconvertibleTextIsNotSent) {
  ASSERT_TRUE(board.ReplyReceived());
  EXPECT_FALSE(Send("#KALDU3 open contacts"));
  EXPECT_FALSE(board.ReplyReceived());
  EXPECT_EQ(printed, "");
  board.apiWindow.store(0x51);
  board.repliedTag.store(board.awaitedTag.load());
  codePage.measureAnswer = 0;
  EXPECT_FALSE(Send(""));
  EXPECT_FALSE(Send("#KALDU4 open contacts"));
  EXPECT_TRUE(delivery.sent.empty());
  EXPECT_FALSE(board.ReplyReceived());
  EXPECT_EQ(board.apiWindow.load(), 0x51U);
}

}  // namespace
}  // namespace halvane
