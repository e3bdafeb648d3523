#include "process_win32.h"

#include <vector>

namespace halvane::e2e {

Process::~Process() { Terminate(); }

bool Process::Start(const std::wstring& program, const std::wstring& workingFolder) {
  if (info_.hProcess != nullptr) return false;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  // CreateProcessW may write into the command line, so it gets a copy of its own.
  std::wstring commandLine = L"\"" + program + L"\"";
  std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
  buffer.push_back(L'\0');
  if (!CreateProcessW(program.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      workingFolder.empty() ? nullptr : workingFolder.c_str(), &startup, &info_)) {
    info_ = PROCESS_INFORMATION{};
    return false;
  }
  return true;
}

bool Process::Running() const {
  return info_.hProcess != nullptr && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

bool Process::WaitForExit(std::chrono::milliseconds deadline) const {
  if (info_.hProcess == nullptr) return true;
  return WaitForSingleObject(info_.hProcess, static_cast<DWORD>(deadline.count())) == WAIT_OBJECT_0;
}

void Process::Terminate() {
  if (info_.hProcess == nullptr) return;
  if (Running()) {
    TerminateProcess(info_.hProcess, 1);
    WaitForSingleObject(info_.hProcess, 5000);
  }
  CloseHandle(info_.hThread);
  CloseHandle(info_.hProcess);
  info_ = PROCESS_INFORMATION{};
}

DWORD Process::ExitCode() const {
  DWORD code = STILL_ACTIVE;
  if (info_.hProcess != nullptr) GetExitCodeProcess(info_.hProcess, &code);
  return code;
}

namespace {

struct Search {
  DWORD processId;
  const std::wstring* className;
  const std::wstring* title;
  HWND found;
};

BOOL CALLBACK Visit(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->processId) return TRUE;
  wchar_t text[256];
  if (!search->className->empty()) {
    if (GetClassNameW(window, text, 256) == 0 || *search->className != text) return TRUE;
  }
  if (!search->title->empty()) {
    if (GetWindowTextW(window, text, 256) == 0 || *search->title != text) return TRUE;
  }
  search->found = window;
  return FALSE;
}

}  // namespace

HWND FindProcessWindow(DWORD processId, const std::wstring& className, const std::wstring& title) {
  Search search{processId, &className, &title, nullptr};
  EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace halvane::e2e
