#include "base/call_table.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace halvane {
namespace {

std::string Joined(const std::vector<CallStatusLine>& lines) {
  std::string text;
  for (const CallStatusLine& line : lines) text += line.id + " " + line.status + ";";
  return text;
}

// However many other calls' lines come between two looks, the followed call's lines are all there,
// in order; the table stays bounded and lets go of a call once its end has been taken.
TEST(CallTable, ABurstLosesNoLineOfAFollowedCallAndStaysBounded) {
  CallTable table;
  table.Report("1234", "LOCALHOLD");
  table.Keep({"1234"});
  for (int i = 0; i < 100; ++i) table.Report(std::to_string(5000 + i), "RINGING");
  table.Report("1234", "FINISHED");
  for (int i = 0; i < 20; ++i) table.Report("5099", i % 2 == 0 ? "RINGING" : "EARLYMEDIA");
  EXPECT_EQ(table.Size(), 32U);
  const std::vector<CallStatusLine> news = table.TakeNews();
  EXPECT_EQ(Joined({news.front(), news[1], news[31], news[32], news.back()}),
            "1234 LOCALHOLD;5069 RINGING;1234 FINISHED;5099 RINGING;5099 EARLYMEDIA;");  // the oldest made room
  EXPECT_EQ(news.size(), 2U + 30U + 16U);  // 30 other calls' one line each, the last 16 of 5099's
  EXPECT_EQ(table.StatusOf("1234"), "");
  EXPECT_EQ(table.StatusOf("5099"), "EARLYMEDIA");
  EXPECT_FALSE(table.HasNews("5099"));
  table.Forget("5099");
  EXPECT_EQ(table.Size(), 30U);
}

// The link thread reports while the engine takes: nothing is lost or torn (run under TSan too).
TEST(CallTable, ReportAndTakeFromTwoThreads) {
  CallTable table;
  table.Keep({"7"});
  std::thread link([&] {
    for (int i = 0; i < 2000; ++i) table.Report("7", i == 1999 ? "FINISHED" : "RINGING");
  });
  std::size_t taken = 0;
  std::string last;
  while (last != "FINISHED") {
    for (const CallStatusLine& line : table.TakeNews()) taken += 1, last = line.status;
  }
  link.join();
  EXPECT_GE(taken, 16U);
  EXPECT_EQ(table.Size(), 0U);
}

}  // namespace
}  // namespace halvane
