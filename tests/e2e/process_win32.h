#pragma once
// Starts a program (Halvane.exe in the end-to-end tests) and keeps it on a short leash: whatever the
// test's outcome, the process does not outlive the object.

#include <windows.h>

#include <chrono>
#include <string>

namespace halvane::e2e {

class Process {
 public:
  Process() = default;
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // Starts the program in the working folder (the current one when empty). False when it did not start.
  bool Start(const std::wstring& program, const std::wstring& workingFolder = std::wstring());
  bool Running() const;
  // True when it ended within the deadline.
  bool WaitForExit(std::chrono::milliseconds deadline) const;
  // Ends it if still running and waits (bounded) for the end.
  void Terminate();
  DWORD Id() const { return info_.dwProcessId; }
  // The exit code, or STILL_ACTIVE.
  DWORD ExitCode() const;

 private:
  PROCESS_INFORMATION info_{};
};

// The first visible-or-not top-level window of the process with this class name (any when empty)
// and this title (any when empty); null when there is none.
HWND FindProcessWindow(DWORD processId, const std::wstring& className, const std::wstring& title);

}  // namespace halvane::e2e
