#include "base/shared_text.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace halvane {
namespace {

// A shorter text replaces a longer one whole (no tail of the longer one is left).
TEST(SharedText, CutsToCapacityAndAtAnEmbeddedZero) {
  SharedText<16> text;
  text.Store(std::string(10000, '7'));
  EXPECT_EQ(text.Load(), std::string(15, '7'));
  text.Store(std::string_view("12\0" "34", 5));
  EXPECT_EQ(text.Load(), "12");
  text.Clear();
  EXPECT_TRUE(text.Empty());
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
