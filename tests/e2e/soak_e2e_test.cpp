// One Halvane.exe through many call cycles in a row (transfers, blind transfers, returns, refusals),
// every one of which must complete, while its handles, GUI objects and private memory stay flat. The
// counts are taken after each round of every kind of cycle, and each may grow by no more than a bound
// per cycle (a small allowance for the first rounds' caches aside): a leak in one kind of cycle grows a
// count by one a round at least. Under Wine the Linux process's descriptors and anonymous memory are
// checked too; the output names the counters checked and those this platform cannot give.
//   HALVANE_SOAK_CYCLES  the number of cycles (default 50; at least 20: the warm-up round, then every
//                        kind again), refused with a failure when smaller or not a number

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "operator_win32.h"
#include "sim/client_emulator_win32.h"
#include "wait.h"

namespace halvane::e2e {
namespace {

constexpr int kDefaultCycles = 50;
// A round plays every kind of cycle once; after the first the program counts as warmed up.
constexpr int kRound = 10;
constexpr int kBaselineCycle = kRound;
// Allowed growth from the baseline to the last whole round: a constant allowance, and a bound per cycle
// of half an object a round.
struct Bound {
  long long allowance;
  double perCycle;
};
constexpr Bound kObjectBound{1, 0.05};
constexpr Bound kPrivateBytesBound{256 * 1024, 4096};
constexpr Bound kAnonymousBytesBound{512 * 1024, 8192};

// The cycles asked for; 0 when the environment asks for a count the soak cannot honour.
int CycleCount() {
  const char* text = std::getenv("HALVANE_SOAK_CYCLES");
  if (text == nullptr) return kDefaultCycles;
  char* end = nullptr;
  const long count = std::strtol(text, &end, 10);
  return *end == '\0' && count >= 2 * kRound && count <= 100000 ? static_cast<int>(count) : 0;
}

struct Planned {
  Cycle cycle;
  bool trayMenu;
};

// Every kind once a round, the Hold sometimes from the tray menu.
Planned PlanFor(int n) {
  static const Planned plan[] = {
      {Cycle::kTransfer, false},      {Cycle::kReturn, false},          {Cycle::kRefusedReturn, false},
      {Cycle::kBlindTransfer, true},  {Cycle::kReturn, true},           {Cycle::kMissed, false},
      {Cycle::kRefusedJoin, false},   {Cycle::kCallerLeavesDial, true}, {Cycle::kReturnWhileRings, false},
      {Cycle::kDialWithoutHold, false},
  };
  static_assert(sizeof plan / sizeof plan[0] == kRound, "every kind once a round");
  return plan[n % kRound];
}

struct Samples {
  ResourceSample process;
  HostSample host;
};

void Print(int cycle, const Samples& s) {
  std::printf(
      "[ soak     ] after cycle %2d: handles %lu, GDI objects %lu, USER objects %lu%s, private %zu KiB, working "
      "set %zu KiB",
      cycle, static_cast<unsigned long>(s.process.handles), static_cast<unsigned long>(s.process.gdiObjects),
      static_cast<unsigned long>(s.process.userObjects), s.process.windowsOnly ? " (windows)" : "",
      s.process.privateBytes / 1024, s.process.workingSet / 1024);
  if (s.host.ok) {
    std::printf("; Linux process %lld: %zu descriptors, %zu KiB anonymous", s.host.pid, s.host.descriptors,
                s.host.anonymousBytes / 1024);
  }
  std::printf("\n");
}

// Each counter is checked for growth over `cycles` cycles when this platform gives it, and otherwise
// named as not given.
struct Counters {
  int cycles;
  std::string checked;
  std::string missing;
  void Check(const std::string& what, bool given, long long baseline, long long last, Bound bound) {
    std::string& names = given ? checked : missing;
    names += (names.empty() ? "" : ", ") + what;
    const double limit = static_cast<double>(bound.allowance) + bound.perCycle * cycles;
    EXPECT_TRUE(!given || static_cast<double>(last - baseline) <= limit)
        << what << " grew from " << baseline << " to " << last << " in " << cycles << " cycles, "
        << static_cast<double>(last - baseline) / cycles << " a cycle (at most " << limit << ")";
  }
  // A count that reads 0 throughout is one this platform does not keep; 0 at one end only is a fault.
  void CheckCount(const std::string& what, long long baseline, long long last, Bound bound) {
    EXPECT_FALSE((baseline == 0) != (last == 0)) << what << " read " << baseline << " then " << last;
    Check(what, baseline != 0 || last != 0, baseline, last, bound);
  }
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
                       << " cannot be honoured: the soak needs a whole number of at least " << 2 * kRound
                       << " cycles (a warm-up with every kind of cycle, then every kind again)";
  const auto start = std::chrono::steady_clock::now();
  Samples baseline;
  Samples last;
  int lastRound = 0;
  for (int n = 1; n <= cycles; ++n) {
    const Planned planned = PlanFor(n - 1);
    const auto result = script.Play(planned.cycle, planned.trayMenu);
    ASSERT_TRUE(result) << "cycle " << n << " (" << CycleName(planned.cycle) << ")\n"
                        << "--- Halvane's output:\n" << OutputOf(folder);
    ASSERT_TRUE(Answers(halvane, link)) << "after cycle " << n;
    if (n % kRound == 0) {
      const Samples sample{SampleResources(halvane.Pid()), SampleHostProcess("Halvane.exe")};
      ASSERT_TRUE(sample.process.ok) << "the process's counts could not be read after cycle " << n;
      if (n == kBaselineCycle && !sample.host.ok) std::printf("[ soak     ] no Linux process: %s\n", sample.host.error.c_str());
      Print(n, sample);
      if (n == kBaselineCycle) baseline = sample;
      last = sample;
      lastRound = n;
    }
  }
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
  std::printf("[ soak     ] %d cycles in %lld s\n", cycles, static_cast<long long>(seconds));

  Counters counters{lastRound - kBaselineCycle, "", ""};
  counters.CheckCount("handles", baseline.process.handles, last.process.handles, kObjectBound);
  counters.CheckCount("GDI objects", baseline.process.gdiObjects, last.process.gdiObjects, kObjectBound);
  counters.CheckCount(last.process.windowsOnly ? "USER objects (windows)" : "USER objects",
                      baseline.process.userObjects, last.process.userObjects, kObjectBound);
  counters.CheckCount("private bytes", static_cast<long long>(baseline.process.privateBytes),
                      static_cast<long long>(last.process.privateBytes), kPrivateBytesBound);
  // Found at both ends, or not at all: a process found once only is a fault of the search.
  EXPECT_EQ(baseline.host.ok, last.host.ok) << baseline.host.error << last.host.error;
  const bool host = baseline.host.ok && last.host.ok;
  counters.Check("Linux descriptors", host, static_cast<long long>(baseline.host.descriptors),
                 static_cast<long long>(last.host.descriptors), kObjectBound);
  counters.Check("Linux anonymous memory", host, static_cast<long long>(baseline.host.anonymousBytes),
                 static_cast<long long>(last.host.anonymousBytes), kAnonymousBytesBound);
  std::printf("[ soak     ] checked: %s\n", counters.checked.empty() ? "none" : counters.checked.c_str());
  std::printf("[ soak     ] not given by this platform, not checked: %s\n",
              counters.missing.empty() ? "none" : counters.missing.c_str());
  EXPECT_FALSE(counters.checked.empty()) << "no resource counter could be read";

  // Nothing was written outside the "log" folder.
  const std::vector<std::string> outside = OutsideLogFolder(folder.Tree());
  EXPECT_TRUE(outside.empty()) << outside.size() << " files outside the log folder";
  EXPECT_EQ(OutputOf(folder).find("!!! Disconnected"), std::string::npos);
}

}  // namespace
}  // namespace halvane::e2e
