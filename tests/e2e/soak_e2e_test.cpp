// One Halvane.exe through many call cycles in a row (transfers, blind transfers, returns, refusals),
// every one of which must complete, while its handles, GUI objects and private memory stay flat.
//   HALVANE_SOAK_CYCLES  the number of cycles (default 50; at least 10)

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
constexpr int kBaselineCycle = 5;
// Allowed growth from the baseline to the last cycle.
constexpr long long kHandleTolerance = 8;
constexpr long long kGuiObjectTolerance = 8;
constexpr long long kPrivateBytesTolerance = 512 * 1024;

int CycleCount() {
  const char* text = std::getenv("HALVANE_SOAK_CYCLES");
  const int count = text != nullptr ? std::atoi(text) : kDefaultCycles;
  return count >= 2 * kBaselineCycle ? count : kDefaultCycles;
}

struct Planned {
  Cycle cycle;
  bool trayMenu;
};

// Every kind once in each five cycles, the Hold sometimes from the tray menu.
Planned PlanFor(int n) {
  static const Planned plan[] = {
      {Cycle::kTransfer, false},
      {Cycle::kReturn, false},
      {Cycle::kRefusedReturn, false},
      {Cycle::kBlindTransfer, true},
      {Cycle::kReturn, true},
  };
  return plan[n % 5];
}

void Print(int cycle, const ResourceSample& s) {
  std::printf(
      "[ soak     ] after cycle %2d: handles %lu, GDI objects %lu, USER objects %lu, private %zu KiB, working set "
      "%zu KiB\n",
      cycle, static_cast<unsigned long>(s.handles), static_cast<unsigned long>(s.gdiObjects),
      static_cast<unsigned long>(s.userObjects), s.privateBytes / 1024, s.workingSet / 1024);
}

// Checks one count's growth, or says that this system does not measure it (it answers 0 throughout).
void ExpectFlat(const char* what, long long baseline, long long last, long long tolerance) {
  if (baseline == 0 && last == 0) {
    std::printf("[ soak     ] %s: this system answers 0, not checked\n", what);
    return;
  }
  EXPECT_GT(baseline, 0) << what << " read 0 at the baseline but not later";
  EXPECT_LE(last - baseline, tolerance) << what << " grew from " << baseline << " to " << last;
}

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
  const auto start = std::chrono::steady_clock::now();
  ResourceSample baseline;
  ResourceSample last;
  for (int n = 1; n <= cycles; ++n) {
    const Planned planned = PlanFor(n - 1);
    const auto result = script.Play(planned.cycle, planned.trayMenu);
    ASSERT_TRUE(result) << "cycle " << n << " (" << CycleName(planned.cycle) << ")\n"
                        << "--- Halvane's output:\n" << OutputOf(folder);
    ASSERT_TRUE(Answers(halvane, link)) << "after cycle " << n;
    if (n == kBaselineCycle || n == cycles || n % 10 == 0) {
      const ResourceSample sample = SampleResources(halvane.Pid());
      ASSERT_TRUE(sample.ok) << "the process's counts could not be read after cycle " << n;
      Print(n, sample);
      if (n == kBaselineCycle) baseline = sample;
      last = sample;
    }
  }
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
  std::printf("[ soak     ] %d cycles in %lld s\n", cycles, static_cast<long long>(seconds));

  ExpectFlat("handles", baseline.handles, last.handles, kHandleTolerance);
  ExpectFlat("GDI objects", baseline.gdiObjects, last.gdiObjects, kGuiObjectTolerance);
  ExpectFlat("USER objects", baseline.userObjects, last.userObjects, kGuiObjectTolerance);
  ExpectFlat("private bytes", static_cast<long long>(baseline.privateBytes), static_cast<long long>(last.privateBytes),
             kPrivateBytesTolerance);

  // Nothing was written outside the "log" folder.
  const std::vector<std::string> outside = OutsideLogFolder(folder.Tree());
  EXPECT_TRUE(outside.empty()) << outside.size() << " files outside the log folder";
  EXPECT_EQ(OutputOf(folder).find("!!! Disconnected"), std::string::npos);
}

}  // namespace
}  // namespace halvane::e2e
