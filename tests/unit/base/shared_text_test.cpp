#include "base/shared_text.h"

#include "base/call_status_feed.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace halvane {
namespace {

TEST(SharedText, CutsToCapacityAndAtAnEmbeddedZero) {
  SharedText<16> text;
  text.Store(std::string(10000, '7'));
  EXPECT_EQ(text.Load(), std::string(15, '7'));
  text.Store(std::string_view("12\0" "34", 5));
  EXPECT_EQ(text.Load(), "12");
  text.Clear();
  EXPECT_TRUE(text.Empty());
}

TEST(SharedText, ShorterTextReplacesLongerWhole) {
  SharedText<16> text;
  text.Store("1234");
  text.Store("77");
  EXPECT_EQ(text.Load(), "77");
}

// One thread writes two texts of different lengths over and over while another reads: every read
// must be one of the two whole texts.
TEST(SharedText, ReaderNeverSeesHalfAText) {
  SharedText<24> text;
  const std::string a(23, 'a');
  const std::string b = "RINGING";
  text.Store(a);
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; i < 20000; ++i) text.Store(i % 2 == 0 ? b : a);
    done.store(true);
  });
  std::thread clearer([&] {
    while (!done.load()) text.Clear();
  });
  int torn = 0;
  while (!done.load()) {
    const std::string seen = text.Load();
    if (seen != a && seen != b && !seen.empty()) ++torn;
  }
  writer.join();
  clearer.join();
  EXPECT_EQ(torn, 0);
}

}  // namespace
}  // namespace halvane

namespace halvane {
namespace {

// A burst longer than the feed keeps: the last sixteen lines in order, the rest counted as lost;
// lines without an id or a status are no lines; values are cut to the board's widths.
TEST(CallStatusFeed, KeepsTheLastLinesInOrderAndCountsTheLost) {
  CallStatusFeed feed;
  for (int i = 0; i < 20; ++i) feed.Publish(std::to_string(i), i % 2 == 0 ? "RINGING" : "MISSED");
  feed.Publish("", "RINGING");
  feed.Publish("21", "");
  feed.Publish(std::string(40, '9'), std::string(40, 'S'));
  std::string seen;
  std::uint64_t lost = 0;
  EXPECT_EQ(feed.ReadSince(1, [&](const CallStatusLine& line) { seen += line.id + "=" + line.status + " "; }, &lost),
            21U);
  EXPECT_EQ(seen, "5=MISSED 6=RINGING 7=MISSED 8=RINGING 9=MISSED 10=RINGING 11=MISSED 12=RINGING 13=MISSED "
                  "14=RINGING 15=MISSED 16=RINGING 17=MISSED 18=RINGING 19=MISSED 999999999999999=SSSSSSSSSSSSSSSSSSSSSSS ");
  EXPECT_EQ(lost, 4U);
}

}  // namespace
}  // namespace halvane
