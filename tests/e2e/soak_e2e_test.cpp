// One Halvane.exe through many call cycles in a row (transfers, blind transfers, returns, refusals),
// every one of which must complete, while its handles, GUI objects and private memory stay flat. Under
// Wine, where handles and GUI objects read 0, the Linux process's descriptors and anonymous memory
// stand in; the output names the counters checked and those this platform cannot give.
//   HALVANE_SOAK_CYCLES  the number of cycles (default 50; at least 16: the warm-up's eight, then every
//                        kind again), refused with a failure when smaller or not a number

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fault_support_win32.h"
#include "sim/client_emulator_win32.h"
#include "wait.h"

namespace halvane::e2e {
namespace {

constexpr int kDefaultCycles = 50;
// The cycle after which the program counts as warmed up: every kind of cycle has run once.
constexpr int kBaselineCycle = 8;
// Allowed growth from the baseline to the last cycle.
constexpr long long kHandleTolerance = 8;
constexpr long long kGuiObjectTolerance = 8;
constexpr long long kPrivateBytesTolerance = 512 * 1024;
constexpr long long kDescriptorTolerance = 8;
constexpr long long kAnonymousBytesTolerance = 1024 * 1024;

// The cycles asked for; 0 when the environment asks for a count the soak cannot honour.
int CycleCount() {
  const char* text = std::getenv("HALVANE_SOAK_CYCLES");
  if (text == nullptr) return kDefaultCycles;
  char* end = nullptr;
  const long count = std::strtol(text, &end, 10);
  return *end == '\0' && count >= 2 * kBaselineCycle && count <= 100000 ? static_cast<int>(count) : 0;
}

struct Planned {
  Cycle cycle;
  bool trayMenu;
};

// Every kind once in each eight cycles, the Hold sometimes from the tray menu.
Planned PlanFor(int n) {
  static const Planned plan[] = {
      {Cycle::kTransfer, false},      {Cycle::kReturn, false},       {Cycle::kRefusedReturn, false},
      {Cycle::kBlindTransfer, true},  {Cycle::kReturn, true},        {Cycle::kMissed, false},
      {Cycle::kRefusedJoin, false},   {Cycle::kCallerLeavesDial, true},
  };
  static_assert(sizeof plan / sizeof plan[0] == kBaselineCycle, "every kind once before the baseline");
  return plan[n % kBaselineCycle];
}

struct Samples {
  ResourceSample process;
  HostSample host;
};

void Print(int cycle, const Samples& s) {
  std::printf(
      "[ soak     ] after cycle %2d: handles %lu, GDI objects %lu, USER objects %lu, private %zu KiB, working set "
      "%zu KiB",
      cycle, static_cast<unsigned long>(s.process.handles), static_cast<unsigned long>(s.process.gdiObjects),
      static_cast<unsigned long>(s.process.userObjects), s.process.privateBytes / 1024, s.process.workingSet / 1024);
  if (s.host.ok) {
    std::printf("; Linux process %lld: %zu descriptors, %zu KiB anonymous", s.host.pid, s.host.descriptors,
                s.host.anonymousBytes / 1024);
  }
  std::printf("\n");
}

// Each counter is checked for growth when this platform gives it, and otherwise named as not given.
class Counters {
 public:
  void Check(const std::string& what, bool given, long long baseline, long long last, long long tolerance) {
    if (!given) {
      missing_.push_back(what);
      return;
    }
    checked_.push_back(what);
    EXPECT_LE(last - baseline, tolerance) << what << " grew from " << baseline << " to " << last;
  }
  // A count that reads 0 throughout is one this platform does not keep; 0 at one end only is a fault.
  void CheckCount(const std::string& what, long long baseline, long long last, long long tolerance) {
    EXPECT_FALSE((baseline == 0) != (last == 0)) << what << " read " << baseline << " then " << last;
    Check(what, baseline != 0 || last != 0, baseline, last, tolerance);
  }
  void Report() const {
    std::printf("[ soak     ] checked: %s\n", Join(checked_).c_str());
    std::printf("[ soak     ] not given by this platform, not checked: %s\n", Join(missing_).c_str());
    EXPECT_FALSE(checked_.empty()) << "no resource counter could be read";
  }

 private:
  static std::string Join(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& name : names) out += (out.empty() ? "" : ", ") + name;
    return out.empty() ? "none" : out;
  }
  std::vector<std::string> checked_;
  std::vector<std::string> missing_;
};

TEST(SoakTest, ManyCyclesCompleteWithFlatResources) {
  ScratchFolder folder;
  ASSERT_TRUE(folder.Ok());
  sim::ClientEmulator client;
  ASSERT_TRUE(client.Start());
  HalvaneProcess halvane;
  ASSERT_TRUE(halvane.Start(folder.Path(), true, folder.OutputFile())) << halvane.Error();
  ASSERT_TRUE(WaitUntil([&] { return client.AttachedLink() != 0; }, std::chrono::seconds(20), "Halvane to attach"));
  const sim::Hwnd link = client.AttachedLink();
  LogCursor log(halvane);
  ASSERT_TRUE(log.Expect(logline::kWaitIncoming));
  CallScript script(halvane, client, log);

  const int cycles = CycleCount();
  ASSERT_GT(cycles, 0) << "HALVANE_SOAK_CYCLES=" << std::getenv("HALVANE_SOAK_CYCLES")  // NOLINT(concurrency-mt-unsafe)
                       << " cannot be honoured: the soak needs a whole number of at least " << 2 * kBaselineCycle
                       << " cycles (a warm-up with every kind of cycle, then every kind again)";
  const auto start = std::chrono::steady_clock::now();
  Samples baseline;
  Samples last;
  for (int n = 1; n <= cycles; ++n) {
    const Planned planned = PlanFor(n - 1);
    const auto result = script.Play(planned.cycle, planned.trayMenu);
    ASSERT_TRUE(result) << "cycle " << n << " (" << CycleName(planned.cycle) << ")\n"
                        << "--- Halvane's output:\n" << OutputOf(folder);
    ASSERT_TRUE(Answers(halvane, link)) << "after cycle " << n;
    if (n == kBaselineCycle || n == cycles || n % 10 == 0) {
      const Samples sample{SampleResources(halvane.Pid()), SampleHostProcess("Halvane.exe")};
      ASSERT_TRUE(sample.process.ok) << "the process's counts could not be read after cycle " << n;
      if (n == kBaselineCycle && !sample.host.ok) std::printf("[ soak     ] no Linux process: %s\n", sample.host.error.c_str());
      Print(n, sample);
      if (n == kBaselineCycle) baseline = sample;
      last = sample;
    }
  }
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
  std::printf("[ soak     ] %d cycles in %lld s\n", cycles, static_cast<long long>(seconds));

  Counters counters;
  counters.CheckCount("handles", baseline.process.handles, last.process.handles, kHandleTolerance);
  counters.CheckCount("GDI objects", baseline.process.gdiObjects, last.process.gdiObjects, kGuiObjectTolerance);
  counters.CheckCount("USER objects", baseline.process.userObjects, last.process.userObjects, kGuiObjectTolerance);
  counters.CheckCount("private bytes", static_cast<long long>(baseline.process.privateBytes),
                      static_cast<long long>(last.process.privateBytes), kPrivateBytesTolerance);
  // Found at both ends, or not at all: a process found once only is a fault of the search.
  EXPECT_EQ(baseline.host.ok, last.host.ok) << baseline.host.error << last.host.error;
  const bool host = baseline.host.ok && last.host.ok;
  counters.Check("Linux descriptors", host, static_cast<long long>(baseline.host.descriptors),
                 static_cast<long long>(last.host.descriptors), kDescriptorTolerance);
  counters.Check("Linux anonymous memory", host, static_cast<long long>(baseline.host.anonymousBytes),
                 static_cast<long long>(last.host.anonymousBytes), kAnonymousBytesTolerance);
  counters.Report();

  // Nothing was written outside the "log" folder.
  const std::vector<std::string> outside = OutsideLogFolder(folder.Tree());
  EXPECT_TRUE(outside.empty()) << outside.size() << " files outside the log folder";
  EXPECT_EQ(OutputOf(folder).find("!!! Disconnected"), std::string::npos);
}

}  // namespace
}  // namespace halvane::e2e
