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
constexpr long kHandleTolerance = 8;
constexpr long kGuiObjectTolerance = 8;
constexpr long long kPrivateBytesTolerance = 1024 * 1024;

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
  std::printf("[ soak     ] after cycle %2d: handles %lu, GDI objects %lu, USER objects %lu, private %zu KiB\n",
              cycle, static_cast<unsigned long>(s.handles), static_cast<unsigned long>(s.gdiObjects),
              static_cast<unsigned long>(s.userObjects), s.privateBytes / 1024);
}

TEST(SoakTest, ManyCyclesCompleteWithFlatResources) {
  ScratchFolder folder;
  ASSERT_TRUE(folder.Ok());
  sim::ClientEmulator client;
  ASSERT_TRUE(client.Start());
  HalvaneUnderTest halvane;
  ASSERT_TRUE(halvane.Start(folder));
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
                        << "--- Halvane's output:\n" << halvane.Output();
    ASSERT_TRUE(halvane.Answers(link)) << "after cycle " << n;
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

  EXPECT_LE(static_cast<long>(last.handles) - static_cast<long>(baseline.handles), kHandleTolerance)
      << "handles grew from " << baseline.handles << " to " << last.handles;
  EXPECT_LE(static_cast<long long>(last.privateBytes) - static_cast<long long>(baseline.privateBytes),
            kPrivateBytesTolerance)
      << "private memory grew from " << baseline.privateBytes << " to " << last.privateBytes << " bytes";
  if (baseline.gdiObjects == 0 && last.gdiObjects == 0 && baseline.userObjects == 0 && last.userObjects == 0) {
    std::printf("[ soak     ] GetGuiResources answers 0 here (Wine does not count GUI objects): not checked\n");
  } else {
    EXPECT_LE(static_cast<long>(last.gdiObjects) - static_cast<long>(baseline.gdiObjects), kGuiObjectTolerance);
    EXPECT_LE(static_cast<long>(last.userObjects) - static_cast<long>(baseline.userObjects), kGuiObjectTolerance);
  }

  // The session log holds every cycle's end, and nothing was written outside the "log" folder.
  const std::vector<std::string> outside = OutsideLogFolder(folder.Tree());
  EXPECT_TRUE(outside.empty()) << outside.size() << " files outside the log folder";
  EXPECT_EQ(halvane.Output().find("!!! Disconnected"), std::string::npos);
}

}  // namespace
}  // namespace halvane::e2e
