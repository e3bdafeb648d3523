#pragma once
// Waiting in end-to-end tests: on a condition, with a deadline, naming what was waited for. The
// calling thread's messages are pumped meanwhile, so windows it owns keep answering (a message
// sent to one of them is only handled while its thread waits for messages).

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>

namespace halvane::e2e {

inline constexpr std::chrono::milliseconds kDefaultDeadline{10000};

// Handles whatever is queued for this thread's windows, without blocking.
inline void PumpMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

// Use as ASSERT_TRUE(WaitUntil([&] { ... }, deadline, "what")).
template <typename Predicate>
::testing::AssertionResult WaitUntil(Predicate&& predicate, std::chrono::milliseconds deadline,
                                     const std::string& what) {
  const auto start = std::chrono::steady_clock::now();
  const auto end = start + deadline;
  for (;;) {
    PumpMessages();
    if (predicate()) return ::testing::AssertionSuccess();
    const auto now = std::chrono::steady_clock::now();
    if (now >= end) {
      return ::testing::AssertionFailure()
             << "gave up after " << deadline.count() << " ms waiting for: " << what;
    }
    // Wakes on any message for this thread, or after a short while to test the condition again
    // (other threads' progress does not post to us).
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left < 10 ? left : 10), QS_ALLINPUT);
  }
}

template <typename Predicate>
::testing::AssertionResult WaitUntil(Predicate&& predicate, const std::string& what) {
  return WaitUntil(std::forward<Predicate>(predicate), kDefaultDeadline, what);
}

// A pause of `length` (a person's reaction, a settling time) with this thread's messages handled meanwhile.
inline void Pause(std::chrono::milliseconds length) { (void)WaitUntil([] { return false; }, length, "a pause"); }

}  // namespace halvane::e2e
