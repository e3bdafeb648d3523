// The main of every GoogleTest program here: a test that skips itself, or that is disabled, fails
// unless tests/allowed-skips.txt lists it with its reason. Without this both count as passed.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

// The names in tests/allowed-skips.txt, read into the build (under Wine the source tree is not at hand).
const char* const kAllowedSkips[] = {
#include "allowed_skips.inc"
    nullptr};

bool Allowed(const std::string& name) {
  for (const char* const* allowed = kAllowedSkips; *allowed != nullptr; ++allowed) {
    if (name == *allowed) return true;
  }
  return false;
}

std::string FullName(const testing::TestInfo& test) { return std::string(test.test_suite_name()) + "." + test.name(); }

// A skip that is not allowed becomes a failure of the same test, so no runner sees it as skipped. End
// events reach the listeners last to first: this one, added after the printer, comes before it.
class SkipsFail : public testing::EmptyTestEventListener {
  void OnTestEnd(const testing::TestInfo& test) override {
    if (test.result()->Skipped() && !Allowed(FullName(test))) {
      ADD_FAILURE() << FullName(test) << " skipped itself and is not in tests/allowed-skips.txt";
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  testing::UnitTest& unit = *testing::UnitTest::GetInstance();
  unit.listeners().Append(new SkipsFail);  // owned by GoogleTest
  int result = RUN_ALL_TESTS();
  if (testing::GTEST_FLAG(list_tests)) return result;  // listing runs nothing
  // A disabled test never runs: every run of the program fails while one is not allowed.
  for (int s = 0; s < unit.total_test_suite_count(); ++s) {
    for (int t = 0; t < unit.GetTestSuite(s)->total_test_count(); ++t) {
      const std::string name = FullName(*unit.GetTestSuite(s)->GetTestInfo(t));
      if ((name.rfind("DISABLED_", 0) == 0 || name.find(".DISABLED_") != std::string::npos) && !Allowed(name)) {
        std::printf("[  FAILED  ] %s is disabled and not in tests/allowed-skips.txt\n", name.c_str());
        result = 1;
      }
    }
  }
  return result;
}
