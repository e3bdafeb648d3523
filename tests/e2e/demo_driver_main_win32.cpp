// halvane_demo.exe: plays one attended transfer through the real Halvane.exe against the client
// emulator, hosted here, and says what happens at each step.
//   halvane_demo [--keep-running] [--status FILE] [WORKDIR]
//   halvane_demo --windows FILE | --tray-slot FILE
// WORKDIR (made when missing, with a "log" folder) is Halvane's working folder; a new temporary one
// when not given. --keep-running leaves Halvane up, resting in the notification area, after the
// transfer. --status writes "0" or "1" to FILE at the end, for callers that cannot see the exit code.
// Exits 0 only when the transfer completed.
// --windows writes the top-level windows of the desktop it runs in to FILE, one a line:
// "<visible 0|1> <class>|<title>", and exits; scripts/demo looks there for the programs it started.
// --tray-slot writes where the first icon of the desktop's notification area sits, "x y", and exits.

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "operator_win32.h"
#include "sim/client_emulator_win32.h"

namespace {

using halvane::e2e::HalvaneProcess;
using halvane::e2e::Narrow;
using halvane::e2e::Widen;

void Say(const std::string& text) {
  std::printf("demo: %s\n", text.c_str());
  std::fflush(stdout);
}

void WriteStatus(const std::wstring& file, int status) {
  if (file.empty()) return;
  FILE* out = _wfopen(file.c_str(), L"w");
  if (out == nullptr) return;
  std::fprintf(out, "%d\n", status);
  std::fclose(out);
}

BOOL CALLBACK ListWindow(HWND window, LPARAM param) {
  wchar_t className[128] = L"";
  wchar_t title[256] = L"";
  GetClassNameW(window, className, 128);
  GetWindowTextW(window, title, 256);
  std::fprintf(reinterpret_cast<FILE*>(param), "%d %s|%s\n", IsWindowVisible(window) ? 1 : 0,
               Narrow(className).c_str(), Narrow(title).c_str());
  return TRUE;
}

// Writes FILE whole under another name first, so a reader never sees half of it; 0 when done.
template <typename Write>
int WriteWhole(const std::wstring& file, Write&& write) {
  const std::wstring partial = file + L".part";
  FILE* out = _wfopen(partial.c_str(), L"wb");
  if (out == nullptr) return 1;
  write(out);
  std::fclose(out);
  return MoveFileExW(partial.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}

// Wine's taskbar draws the notification area's icons itself, right-aligned, one small-icon square with a
// two-pixel margin each: the first icon added sits at the taskbar's right end. Its centre goes to FILE as
// "x y" in the desktop's coordinates.
int WriteTraySlot(const std::wstring& file) {
  HWND taskbar = FindWindowW(L"Shell_TrayWnd", nullptr);
  RECT bar{};
  if (taskbar == nullptr || !IsWindowVisible(taskbar) || !GetWindowRect(taskbar, &bar)) return 1;
  const int slot = GetSystemMetrics(SM_CXSMICON) + 4;
  return WriteWhole(file, [&](FILE* out) {
    std::fprintf(out, "%ld %ld\n", static_cast<long>(bar.right - slot / 2), static_cast<long>((bar.top + bar.bottom) / 2));
  });
}

int Play(bool keepRunning, std::wstring workDir) {
  if (workDir.empty()) workDir = halvane::e2e::MakeWorkFolder(L"halvane-demo");
  if (workDir.empty()) {
    Say("no working folder could be made");
    return 1;
  }

  halvane::sim::ClientEmulator client;
  if (!client.Start()) {
    Say("the client emulator could not start");
    return 1;
  }
  Say("client emulator up; starting " + Narrow(halvane::e2e::HalvaneExePath()) + " in " + Narrow(workDir));

  HalvaneProcess halvane;
  if (!halvane.Start(workDir, true)) {
    Say("Halvane did not start: " + halvane.Error());
    return 1;
  }
  Say("Halvane runs (process id " + std::to_string(halvane.Pid()) + ")");

  halvane::e2e::ScriptOptions options;
  int step = 0;
  options.onStep = [&step](const std::string& name) { Say("step " + std::to_string(++step) + ": " + name); };
  halvane::e2e::LogCursor log(halvane);
  halvane::e2e::CallScript script(halvane, client, log, options);
  ::testing::AssertionResult played = script.WaitingForCall();
  if (played) played = script.Play(halvane::e2e::Cycle::kTransfer);

  Say("commands the client received:");
  for (const std::string& command : client.Commands()) std::printf("  %s\n", command.c_str());
  Say("session log: " + Narrow(halvane.LogPath()));
  if (!played) {
    Say("transfer FAILED: " + std::string(played.message()));
    return 1;
  }
  Say("transfer completed: call " + script.FirstCall() + " joined with call " + script.SecondCall() +
      ", conference ended");

  if (keepRunning) {
    halvane.Detach();
    Say("Halvane keeps running in the notification area");
  } else if (!halvane.Close()) {
    Say("Halvane did not end when its window closed");
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool keepRunning = false;
  std::wstring statusFile;
  std::wstring workDir;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--keep-running") == 0) {
      keepRunning = true;
    } else if (std::strcmp(argv[i], "--windows") == 0 && i + 1 < argc) {
      return WriteWhole(Widen(argv[i + 1]), [](FILE* out) { EnumWindows(ListWindow, reinterpret_cast<LPARAM>(out)); });
    } else if (std::strcmp(argv[i], "--tray-slot") == 0 && i + 1 < argc) {
      return WriteTraySlot(Widen(argv[i + 1]));
    } else if (std::strcmp(argv[i], "--status") == 0 && i + 1 < argc) {
      statusFile = Widen(argv[++i]);
    } else if (argv[i][0] != '-' && workDir.empty()) {
      workDir = Widen(argv[i]);
    } else {
      std::fprintf(stderr, "usage: halvane_demo [--keep-running] [--status FILE] [WORKDIR] | --windows FILE | --tray-slot FILE\n");
      WriteStatus(statusFile, 2);
      return 2;
    }
  }
  const int status = Play(keepRunning, workDir);
  WriteStatus(statusFile, status);
  return status;
}
