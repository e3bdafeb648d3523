#include "app/process_table_win32.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>

#include "ui/halvane_dlg_win32.h"

namespace halvane {
namespace {

// Room for the system's message text, as the report has always had.
constexpr DWORD kMessageTextSize = 256;

void Print(const std::string& text) { std::fputs(text.c_str(), stdout); }

// How long an older copy gets to put the sound back and end before it is terminated.
constexpr DWORD kCloseWaitMs = 5000;

struct CloseRequest {
  DWORD processId;
  UINT message;
  DWORD start;
  int asked;
  bool declined;
};

// The part of the close wait not spent yet.
DWORD LeftOf(DWORD start) {
  const DWORD spent = GetTickCount() - start;
  return spent < kCloseWaitMs ? kCloseWaitMs - spent : 0;
}

// BOOL EnumWindowsProc(HWND, LPARAM): sends the close request to each top-level window of the process,
// bounded by what is left of the wait; only its main window knows the message, the others answer 0.
BOOL CALLBACK SendCloseRequest(HWND window, LPARAM context) {
  auto& request = *reinterpret_cast<CloseRequest*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != request.processId) return TRUE;
  const DWORD left = LeftOf(request.start);
  if (left == 0) return FALSE;
  DWORD_PTR answer = 0;
  if (SendMessageTimeoutA(window, request.message, 0, 0, SMTO_ABORTIFHUNG, left, &answer) != 0) {
    ++request.asked;
    if (answer == static_cast<DWORD_PTR>(kCloseDeclined)) request.declined = true;
  }
  return request.declined ? FALSE : TRUE;
}

class ToolhelpProcessTable final : public ProcessTable {
 public:
  bool TakeSnapshot() override {
    snapshot_ = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    return snapshot_ != INVALID_HANDLE_VALUE;
  }

  bool First(ProcessEntry& entry) override {
    PROCESSENTRY32 record{};
    record.dwSize = sizeof record;
    if (!Process32First(snapshot_, &record)) return false;
    Copy(record, entry);
    return true;
  }

  bool Next(ProcessEntry& entry) override {
    PROCESSENTRY32 record{};
    record.dwSize = sizeof record;
    if (!Process32Next(snapshot_, &record)) return false;
    Copy(record, entry);
    return true;
  }

  void CloseSnapshot() override {
    if (snapshot_ != INVALID_HANDLE_VALUE) CloseHandle(snapshot_);
    snapshot_ = INVALID_HANDLE_VALUE;
  }

  bool InThisSession(std::uint32_t processId) override {
    DWORD mine = 0;
    DWORD theirs = 0;
    return ProcessIdToSessionId(GetCurrentProcessId(), &mine) && ProcessIdToSessionId(processId, &theirs) &&
           mine == theirs;
  }

  bool Open(std::uint32_t processId) override {
    // Enough to read the priority class and to wait for the end; termination asks for its own right.
    static_assert(kOlderCopyAccess == (PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE), "the least access");
    process_ = OpenProcess(kOlderCopyAccess, FALSE, processId);
    processId_ = processId;
    return process_ != nullptr;
  }

  CloseAnswer RequestClose() override {
    CloseRequest request{processId_, RegisterWindowMessageA(kCloseRequestMessageName), GetTickCount(), 0, false};
    if (request.message == 0) return CloseAnswer::kNotEnded;
    EnumWindows(&SendCloseRequest, reinterpret_cast<LPARAM>(&request));
    if (request.declined) return CloseAnswer::kDeclined;
    if (request.asked == 0) return CloseAnswer::kNotEnded;
    return WaitForSingleObject(process_, LeftOf(request.start)) == WAIT_OBJECT_0 ? CloseAnswer::kEnded
                                                                                  : CloseAnswer::kNotEnded;
  }

  std::uint32_t PriorityClass() override { return GetPriorityClass(process_); }

  void Terminate() override {
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, processId_);
    if (process == nullptr) {
      PrintWarning("OpenProcess (to terminate)");
      return;
    }
    TerminateProcess(process, 0);
    CloseHandle(process);
  }

  void CloseProcess() override {
    if (process_ != nullptr) CloseHandle(process_);
    process_ = nullptr;
  }

  std::uint32_t CurrentProcessId() override { return GetCurrentProcessId(); }

  void Warn(const char* operation) override { PrintWarning(operation); }

  void Print(const std::string& text) override { halvane::Print(text); }

 private:
  static void Copy(const PROCESSENTRY32& record, ProcessEntry& entry) {
    entry.processId = record.th32ProcessID;
    entry.threadCount = record.cntThreads;
    entry.parentProcessId = record.th32ParentProcessID;
    entry.basePriority = record.pcPriClassBase;
    // The name is bounded by its field, terminated or not.
    std::size_t length = 0;
    while (length < sizeof record.szExeFile && record.szExeFile[length] != '\0') ++length;
    entry.exeFile.assign(record.szExeFile, length);
  }

  HANDLE snapshot_ = INVALID_HANDLE_VALUE;
  HANDLE process_ = nullptr;
  DWORD processId_ = 0;
};

}  // namespace

void PrintWarning(const char* operation) {
  const DWORD error = GetLastError();
  char text[kMessageTextSize] = "";
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                                      MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, kMessageTextSize, nullptr);
  const std::size_t used = length < kMessageTextSize ? length : kMessageTextSize - 1;
  Print(FormatWarning(operation != nullptr ? operation : "", error, std::string_view(text, used)));
}

ProcessTable& Win32ProcessTable() {
  static ToolhelpProcessTable table;
  return table;
}

}  // namespace halvane
