#include "fault_support_win32.h"

#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/call_board.h"
#include "wait.h"

namespace halvane::e2e {
namespace {

constexpr UINT kAnswerTimeoutMs = 2000;

void ListTree(const std::wstring& root, const std::wstring& relative, std::vector<std::string>& out) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((root + L"\\" + relative + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      out.push_back(Narrow(relative + name + L"\\"));
      ListTree(root, relative + name + L"\\", out);
    } else {
      out.push_back(Narrow(relative + name));
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

void RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = path + L"\\" + name;
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        RemoveTree(child);
      } else {
        DeleteFileW(child.c_str());
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(path.c_str());
}

}  // namespace

// --- ScratchFolder ---------------------------------------------------------------------------------

ScratchFolder::ScratchFolder() {
  static std::atomic<int> counter{0};
  wchar_t temp[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathW(MAX_PATH, temp);
  if (length == 0 || length > MAX_PATH) return;
  wchar_t name[64];
  std::swprintf(name, 64, L"halvane-faults-%lu-%d", static_cast<unsigned long>(GetCurrentProcessId()),
                counter.fetch_add(1));
  std::wstring base = temp;
  if (!base.empty() && base.back() == L'\\') base.pop_back();
  path_ = base + L"\\" + name;
  output_ = path_ + L".out";
  ok_ = CreateDirectoryW(path_.c_str(), nullptr) != 0 && CreateDirectoryW((path_ + L"\\log").c_str(), nullptr) != 0;
}

ScratchFolder::~ScratchFolder() {
  if (path_.empty()) return;
  RemoveTree(path_);
  DeleteFileW(output_.c_str());
}

std::vector<std::string> ScratchFolder::Tree() const {
  std::vector<std::string> tree;
  ListTree(path_, L"", tree);
  std::sort(tree.begin(), tree.end());
  return tree;
}

std::vector<std::string> OutsideLogFolder(const std::vector<std::string>& tree) {
  std::vector<std::string> outside;
  for (const std::string& entry : tree) {
    if (entry.rfind("log\\", 0) != 0) outside.push_back(entry);
  }
  return outside;
}

// --- The program -----------------------------------------------------------------------------------

::testing::AssertionResult Answers(const HalvaneProcess& halvane, sim::Hwnd linkWindow) {
  if (!halvane.Running()) return ::testing::AssertionFailure() << "Halvane.exe is no longer running";
  DWORD_PTR result = 0;
  if (SendMessageTimeoutW(halvane.MainWindow(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kAnswerTimeoutMs, &result) == 0) {
    return ::testing::AssertionFailure() << "the main window did not answer WM_NULL within " << kAnswerTimeoutMs
                                         << " ms";
  }
  if (linkWindow != 0 && SendMessageTimeoutW(reinterpret_cast<HWND>(linkWindow), WM_NULL, 0, 0, SMTO_ABORTIFHUNG,
                                             kAnswerTimeoutMs, &result) == 0) {
    return ::testing::AssertionFailure() << "the link window did not answer WM_NULL within " << kAnswerTimeoutMs
                                         << " ms";
  }
  return ::testing::AssertionSuccess();
}

std::string OutputOf(const ScratchFolder& folder) { return WithoutCr(ReadWholeFile(folder.OutputFile())); }

// --- Resources and the client's announcement ---------------------------------------------------------

namespace {

// The process's kernel handles counted in the system's handle table (SystemHandleInformation), which
// Wine's server keeps although GetProcessHandleCount reads 0 there; 0 when the table cannot be read.
DWORD HandlesInSystemTable(DWORD processId) {
  struct Entry {
    USHORT process, creatorBackTrace;
    UCHAR type, attributes;
    USHORT handle;
    PVOID object;
    ULONG access;
  };
  using Query = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
  const auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  if (query == nullptr) return 0;
  std::vector<unsigned char> table(1 << 20);
  for (int tries = 0; tries < 8; ++tries, table.resize(table.size() * 2)) {
    ULONG needed = 0;
    const LONG status = query(16, table.data(), static_cast<ULONG>(table.size()), &needed);
    if (status == static_cast<LONG>(0xC0000004)) continue;  // the table grew: a larger buffer
    if (status < 0) return 0;
    ULONG count = 0;
    std::memcpy(&count, table.data(), sizeof count);
    const std::size_t first = sizeof(ULONG_PTR);  // the count, padded to the entries' alignment
    if (first + std::size_t{count} * sizeof(Entry) > table.size()) return 0;
    DWORD mine = 0;
    for (ULONG i = 0; i < count; ++i) {
      Entry entry;
      std::memcpy(&entry, table.data() + first + i * sizeof(Entry), sizeof entry);
      mine += entry.process == static_cast<USHORT>(processId) ? 1 : 0;
    }
    return mine;
  }
  return 0;
}

// The process's live GDI objects counted in its GDI handle table, which Wine keeps inside the process
// (the PEB's GdiSharedHandleTable) although GetGuiResources reads 0 there. An entry is 24 bytes on
// either word size; its type byte, at offset 14, is 0 when the entry is free; its owner at offset 8 is
// the process or 0. Entries are taken in order, so the reading stops at the first block never used:
// reading the whole table would bring its untouched pages into the process's memory. 0 when the table
// cannot be read.
DWORD GdiObjectsInHandleTable(HANDLE process, DWORD processId) {
  struct BasicInformation {
    PVOID exitStatus, peb, affinity, priority;
    ULONG_PTR id, parentId;
  };
  using Query = LONG(WINAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
  const auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
  BasicInformation basic{};
  if (query == nullptr || query(process, 0, &basic, sizeof basic, nullptr) < 0) return 0;
  constexpr std::size_t kTableInPeb = sizeof(void*) == 8 ? 0xF8 : 0x94;
  constexpr std::size_t kEntries = 0x10000;
  constexpr std::size_t kEntrySize = 24;
  constexpr std::size_t kBlock = 128;  // entries read at a time
  unsigned char* table = nullptr;
  if (ReadProcessMemory(process, static_cast<unsigned char*>(basic.peb) + kTableInPeb, &table, sizeof table,
                        nullptr) == 0 ||
      table == nullptr) {
    return 0;
  }
  DWORD live = 0;
  std::vector<unsigned char> block(kBlock * kEntrySize);
  for (std::size_t first = 0; first < kEntries; first += kBlock) {
    if (ReadProcessMemory(process, table + first * kEntrySize, block.data(), block.size(), nullptr) == 0) return 0;
    if (std::all_of(block.begin(), block.end(), [](unsigned char byte) { return byte == 0; }) && first > 0) break;
    for (std::size_t at = 0; at < block.size(); at += kEntrySize) {
      USHORT owner = 0;
      std::memcpy(&owner, &block[at + 8], sizeof owner);
      live += block[at + 14] != 0 && (owner == 0 || owner == static_cast<USHORT>(processId)) ? 1 : 0;
    }
  }
  return live;
}

// The process's windows, top-level, message-only and their children: the USER objects that Wine lets
// another process count.
DWORD WindowsOf(DWORD processId) {
  struct Count {
    DWORD processId;
    DWORD windows;
    static BOOL CALLBACK One(HWND window, LPARAM param) {
      auto* count = reinterpret_cast<Count*>(param);
      DWORD owner = 0;
      GetWindowThreadProcessId(window, &owner);
      if (owner == count->processId) ++count->windows;
      return TRUE;
    }
    static BOOL CALLBACK WithChildren(HWND window, LPARAM param) {
      One(window, param);
      EnumChildWindows(window, One, param);
      return TRUE;
    }
  } count{processId, 0};
  EnumWindows(Count::WithChildren, reinterpret_cast<LPARAM>(&count));
  for (HWND window = FindWindowExW(HWND_MESSAGE, nullptr, nullptr, nullptr); window != nullptr;
       window = FindWindowExW(HWND_MESSAGE, window, nullptr, nullptr)) {
    Count::WithChildren(window, reinterpret_cast<LPARAM>(&count));
  }
  return count.windows;
}

}  // namespace

ResourceSample SampleResources(DWORD processId) {
  ResourceSample sample;
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
  if (process == nullptr) return sample;
  PROCESS_MEMORY_COUNTERS_EX memory{};
  memory.cb = sizeof memory;
  const bool handles = GetProcessHandleCount(process, &sample.handles) != 0;
  if (handles && sample.handles == 0) sample.handles = HandlesInSystemTable(processId);
  const bool counted =
      GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory) != 0;
  sample.gdiObjects = GetGuiResources(process, GR_GDIOBJECTS);
  sample.userObjects = GetGuiResources(process, GR_USEROBJECTS);
  if (sample.gdiObjects == 0) sample.gdiObjects = GdiObjectsInHandleTable(process, processId);
  if (sample.userObjects == 0) {
    sample.userObjects = WindowsOf(processId);
    sample.windowsOnly = true;
  }
  sample.privateBytes = memory.PrivateUsage != 0 ? memory.PrivateUsage : memory.PagefileUsage;
  sample.workingSet = memory.WorkingSetSize;
  sample.ok = handles && counted;
  CloseHandle(process);
  return sample;
}

namespace {

// A /proc file reads as empty to a size query: read until the end.
std::string ReadProcFile(const std::wstring& path) { return ReadWholeFile(L"Z:\\proc\\" + path); }

// The value of NAME in a /proc environ text (NUL-separated NAME=value entries); empty when absent.
std::string EnvironValue(const std::string& block, const std::string& name) {
  const std::string key = name + "=";
  for (std::size_t at = 0; at < block.size();) {
    const std::size_t end = std::min(block.find('\0', at), block.size());
    if (block.compare(at, key.size(), key) == 0) return block.substr(at + key.size(), end - at - key.size());
    at = end + 1;
  }
  return std::string();
}

// The file name of a /proc cmdline's first argument, lower case: Wine shows a Windows or a Unix path.
std::string ProgramName(const std::string& cmdline) {
  std::string first = cmdline.substr(0, cmdline.find('\0'));
  first = first.substr(first.find_last_of("/\\") == std::string::npos ? 0 : first.find_last_of("/\\") + 1);
  for (char& c : first) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return first;
}

std::size_t CountEntries(const std::wstring& folder) {
  std::vector<std::string> entries;
  ListTree(folder, L"", entries);
  return entries.size();
}

}  // namespace

HostSample SampleHostProcess(const std::string& program) {
  HostSample sample;
  const std::string prefix = EnvironValue(ReadProcFile(L"self\\environ"), "WINEPREFIX");
  if (prefix.empty()) {
    sample.error = "no WINEPREFIX in /proc/self/environ (not under Wine, or no /proc)";
    return sample;
  }
  std::string wanted = program;
  for (char& c : wanted) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::vector<long long> found;
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileW(L"Z:\\proc\\*", &entry);
  if (search == INVALID_HANDLE_VALUE) {
    sample.error = "Z:\\proc cannot be listed";
    return sample;
  }
  do {
    const std::wstring name = entry.cFileName;
    if (name.empty() || name.find_first_not_of(L"0123456789") != std::wstring::npos) continue;
    if (ProgramName(ReadProcFile(name + L"\\cmdline")) != wanted) continue;
    if (EnvironValue(ReadProcFile(name + L"\\environ"), "WINEPREFIX") != prefix) continue;
    found.push_back(std::stoll(std::string(name.begin(), name.end())));
  } while (FindNextFileW(search, &entry));
  FindClose(search);
  if (found.size() != 1) {
    sample.error = std::to_string(found.size()) + " processes named " + program + " in the prefix " + prefix;
    return sample;
  }
  sample.pid = found[0];
  const std::wstring pid = std::to_wstring(sample.pid);
  // One fdinfo entry per open descriptor; fdinfo entries are plain files, where fd entries are links.
  sample.descriptors = CountEntries(L"Z:\\proc\\" + pid + L"\\fdinfo");
  const std::string status = ReadProcFile(pid + L"\\status");
  const std::size_t rss = status.find("RssAnon:");
  if (sample.descriptors == 0 || rss == std::string::npos) {
    sample.error = "/proc/" + std::to_string(sample.pid) + " gave no descriptors or no RssAnon";
    return sample;
  }
  sample.anonymousBytes = static_cast<std::size_t>(std::strtoull(status.c_str() + rss + 8, nullptr, 10)) * 1024;
  sample.ok = true;
  return sample;
}

bool AnnounceClient(sim::Hwnd apiWindow) {
  const UINT attach = RegisterWindowMessageW(L"SkypeControlAPIAttach");
  DWORD_PTR result = 0;
  return attach != 0 && SendMessageTimeoutW(HWND_BROADCAST, attach, static_cast<WPARAM>(apiWindow),
                                            static_cast<LPARAM>(sim::kAttachAvailable), SMTO_ABORTIFHUNG, 2000,
                                            &result) != 0;
}

}  // namespace halvane::e2e
