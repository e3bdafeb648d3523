#pragma once
// What every Windows test program here needs: a started process kept on a short leash (whatever the
// test's outcome, the process does not outlive the object), its windows, a whole file read while its
// writer may still be at it, and the plain-ASCII text conversions for messages and paths.

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

  // Starts the program in the working folder (the current one when empty); with `outputFile`, its
  // standard output and error go to that file (made new). False when it did not start; Error() says why.
  bool Start(const std::wstring& program, const std::wstring& workingFolder = std::wstring(),
             const std::wstring& outputFile = std::wstring());
  const std::string& Error() const { return error_; }
  bool Running() const;
  // True when it ended within the deadline (or was never started).
  bool WaitForExit(std::chrono::milliseconds deadline) const;
  // Ends it if still running and waits (bounded) for the end.
  void Terminate();
  // Lets the program run on after this object is gone.
  void Detach();
  DWORD Id() const { return info_.dwProcessId; }
  // The exit code, or STILL_ACTIVE.
  DWORD ExitCode() const;

 private:
  PROCESS_INFORMATION info_{};
  std::string error_;
};

// The first visible-or-not top-level window of the process with this class name (any when empty)
// and this title (any when empty); null when there is none.
HWND FindProcessWindow(DWORD processId, const std::wstring& className, const std::wstring& title);

// The whole file, read with every kind of sharing allowed (its writer may be at work) and cut at 16 MiB;
// empty when it cannot be opened. A /proc file, whose size reads as 0, is read to its end too.
std::string ReadWholeFile(const std::wstring& path);

// ASCII as is, every other character as '?': for messages and the ASCII paths of the tests.
std::string Narrow(const std::wstring& text);
// Each byte as one character: for ASCII texts and paths.
std::wstring Widen(const std::string& text);

// The Windows form of a path as CMake gives it: a Unix path under Wine is reached through drive Z:.
std::wstring WindowsPath(const std::string& path);

}  // namespace halvane::e2e
