#pragma once
// Time for the polling loops: the real clock sleeps, the test clock advances virtual time at once.

#include <cstdint>

namespace halvane {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual void Sleep(std::uint32_t milliseconds) = 0;
  // Milliseconds from an arbitrary origin; only differences mean anything.
  virtual std::uint64_t NowMs() = 0;
};

// Sleeps for real (std::this_thread::sleep_for) and reads the steady clock.
Clock& SystemClock();

}  // namespace halvane
