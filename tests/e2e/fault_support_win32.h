#pragma once
// What the fault and soak tests need around the operator's driver of the real Halvane.exe (CallScript,
// operator_win32.h): a scratch working folder listed before and after, a file beside it for the
// program's output, and the few measures of the process's resources that tell a leak.

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "operator_win32.h"
#include "sim/client_emulator_win32.h"

namespace halvane::e2e {

// A new empty folder under the temporary folder with a "log" folder in it (Halvane never makes that
// one), and the name of a file beside it for the program's output. Both go with the object.
// Start Halvane with HalvaneProcess::Start(folder.Path(), true, folder.OutputFile()).
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  bool Ok() const { return ok_; }
  const std::wstring& Path() const { return path_; }
  const std::wstring& OutputFile() const { return output_; }
  // Everything under the folder, relative to it and sorted; folders end in a backslash.
  std::vector<std::string> Tree() const;

 private:
  std::wstring path_;
  std::wstring output_;
  bool ok_ = false;
};

// The entries of a tree listing that lie outside the "log" folder.
std::vector<std::string> OutsideLogFolder(const std::vector<std::string>& tree);

// Halvane still runs and its main window and the link window (when given) each answer WM_NULL within
// two seconds.
::testing::AssertionResult Answers(const HalvaneProcess& halvane, sim::Hwnd linkWindow);

// What Halvane wrote to its standard output and error, started with the folder's output file.
std::string OutputOf(const ScratchFolder& folder);

// Handle count, GUI objects and private memory of a process. Wine 8's own counters read 0 for handles
// and GUI objects: there the handles come from the system's handle table, the GDI objects from the
// process's GDI handle table and the USER objects are its windows. Wine leaves PrivateUsage at 0; its
// PagefileUsage is the process's anonymous memory (resident and swapped), and on Windows PagefileUsage
// is the private commit: privateBytes takes it when PrivateUsage is 0.
struct ResourceSample {
  bool ok = false;
  DWORD handles = 0;
  DWORD gdiObjects = 0;
  DWORD userObjects = 0;
  bool windowsOnly = false;  // userObjects counts windows only (menus and icons unseen)
  std::size_t privateBytes = 0;
  std::size_t workingSet = 0;
};
ResourceSample SampleResources(DWORD processId);

// The Linux process behind a program run by Wine, read from /proc (drive Z:): where Wine counts neither
// handles nor GUI objects, the process's open file descriptors and anonymous memory still show a leak.
// It is the one process whose program name is `program` and whose Wine prefix is this process's own
// (several test runs may share the machine). Elsewhere than under Wine ok stays false.
struct HostSample {
  bool ok = false;
  std::string error;  // why not, when !ok
  long long pid = 0;
  std::size_t descriptors = 0;
  std::size_t anonymousBytes = 0;
};
HostSample SampleHostProcess(const std::string& program);

// The client's announcement after a start or a sign-in: attach status "available" broadcast to every
// top-level window, with the client's API window as the sender.
bool AnnounceClient(sim::Hwnd apiWindow);

}  // namespace halvane::e2e
