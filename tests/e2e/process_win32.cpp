#include "process_win32.h"

#include <vector>

namespace halvane::e2e {

Process::~Process() { Terminate(); }

bool Process::Start(const std::wstring& program, const std::wstring& workingFolder, const std::wstring& outputFile) {
  if (info_.hProcess != nullptr) {
    error_ = "already started";
    return false;
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  HANDLE output = INVALID_HANDLE_VALUE;
  if (!outputFile.empty()) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    output = CreateFileW(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output == INVALID_HANDLE_VALUE) {
      error_ = "the output file could not be made: " + Narrow(outputFile);
      return false;
    }
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output;
    startup.hStdError = output;
  }
  // CreateProcessW may write into the command line, so it gets a copy of its own.
  const std::wstring commandLine = L"\"" + program + L"\"";
  std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
  buffer.push_back(L'\0');
  const BOOL started =
      CreateProcessW(program.c_str(), buffer.data(), nullptr, nullptr, output != INVALID_HANDLE_VALUE, 0, nullptr,
                     workingFolder.empty() ? nullptr : workingFolder.c_str(), &startup, &info_);
  const DWORD error = GetLastError();
  if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
  if (!started) {
    info_ = PROCESS_INFORMATION{};
    error_ = "CreateProcess failed with error " + std::to_string(error) + " for " + Narrow(program);
    return false;
  }
  error_.clear();
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
    WaitForSingleObject(info_.hProcess, 10000);
  }
  Detach();
}

void Process::Detach() {
  if (info_.hProcess == nullptr) return;
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

std::string ReadWholeFile(const std::wstring& path) {
  constexpr std::size_t kLimit = std::size_t{1} << 24;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  std::string text;
  char chunk[4096];
  DWORD got = 0;
  while (text.size() < kLimit && ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) {
    text.append(chunk, got);
  }
  CloseHandle(file);
  return text;
}

std::string Narrow(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

std::wstring Widen(const std::string& text) {
  std::wstring out;
  out.reserve(text.size());
  for (char c : text) out.push_back(static_cast<unsigned char>(c));
  return out;
}

std::wstring WindowsPath(const std::string& path) {
  std::wstring out = Widen(path);
  for (wchar_t& c : out) {
    if (c == L'/') c = L'\\';
  }
  if (!path.empty() && path[0] == '/') out = L"Z:" + out;
  return out;
}

}  // namespace halvane::e2e
