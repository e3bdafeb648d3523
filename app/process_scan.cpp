#include "app/process_scan.h"

#include <cinttypes>
#include <cstdio>

namespace halvane {
namespace {

char FoldAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

}  // namespace

std::string FormatProcessHeader(const ProcessEntry& entry) {
  std::string header = "\n\n=====================================================";
  header += "\nPROCESS NAME:  ";
  header += entry.exeFile;
  header += "\n-----------------------------------------------------";
  return header;
}

std::string FormatProcessDetails(const ProcessEntry& entry, std::uint32_t priorityClass) {
  std::string report;
  char line[96];
  std::snprintf(line, sizeof line, "\n  process ID        = 0x%08" PRIX32, entry.processId);
  report += line;
  std::snprintf(line, sizeof line, "\n  thread count      = %" PRId32, static_cast<std::int32_t>(entry.threadCount));
  report += line;
  std::snprintf(line, sizeof line, "\n  parent process ID = 0x%08" PRIX32, entry.parentProcessId);
  report += line;
  std::snprintf(line, sizeof line, "\n  Priority Base     = %" PRId32, entry.basePriority);
  report += line;
  if (priorityClass != 0) {
    std::snprintf(line, sizeof line, "\n  Priority Class    = %" PRId32 "\n", static_cast<std::int32_t>(priorityClass));
    report += line;
  }
  return report;
}

int EndOtherInstances(ProcessTable& table, const char* exeName, EndOthersOutcome* outcome) {
  EndOthersOutcome ignored;
  EndOthersOutcome& result = outcome != nullptr ? *outcome : ignored;
  result = EndOthersOutcome{};
  const std::string_view name = exeName != nullptr ? exeName : "";
  if (!table.TakeSnapshot()) {
    table.Warn("CreateToolhelp32Snapshot (of processes)");
    return 0;
  }
  ProcessEntry entry;
  if (!table.First(entry)) {
    table.Warn("Process32First");
    table.CloseSnapshot();
    return 0;
  }
  const std::uint32_t self = table.CurrentProcessId();
  do {
    if (!SameNameIgnoringCase(entry.exeFile, name)) continue;
    // On a shared terminal server another operator's copy is theirs.
    if (entry.processId != self && !table.InThisSession(entry.processId)) continue;
    table.Print(FormatProcessHeader(entry));
    std::uint32_t priorityClass = 0;
    if (table.Open(entry.processId)) {
      priorityClass = table.PriorityClass();
      if (priorityClass == 0) table.Warn("GetPriorityClass");
      if (entry.processId != self && result.decliningProcess == 0) {
        switch (table.RequestClose()) {
          case ProcessTable::CloseAnswer::kEnded: break;
          case ProcessTable::CloseAnswer::kDeclined: result.decliningProcess = entry.processId; break;
          case ProcessTable::CloseAnswer::kNotEnded:
            table.Terminate();
            result.terminatedOne = true;
            break;
        }
      }
      table.CloseProcess();
    } else {
      table.Warn("OpenProcess");
    }
    table.Print(FormatProcessDetails(entry, priorityClass));
  } while (table.Next(entry));
  table.CloseSnapshot();
  return 1;
}

std::string FormatDeclinedReport(std::uint32_t processId) {
  char line[128];
  std::snprintf(line, sizeof line,
                "\nHalvane is in a call in the copy already running (process 0x%08" PRIX32 "); this copy ends\n",
                processId);
  return line;
}

std::string TrimSystemMessage(std::string_view text) {
  std::size_t end = 0;
  while (end < text.size()) {
    const auto code = static_cast<unsigned char>(text[end]);
    if (code < 32 && code != '\t') break;
    ++end;
  }
  while (end > 0) {
    const auto code = static_cast<unsigned char>(text[end - 1]);
    if (code != '.' && code > 32) break;
    --end;
  }
  return std::string(text.substr(0, end));
}

std::string FormatWarning(std::string_view operation, std::uint32_t errorCode, std::string_view systemText) {
  std::string line = "\n  WARNING: ";
  line.append(operation);
  char code[32];
  // Printed as the signed decimal the platform's own reports use.
  std::snprintf(code, sizeof code, " failed with error %" PRId32 " (", static_cast<std::int32_t>(errorCode));
  line += code;
  line += TrimSystemMessage(systemText);
  line += ")";
  return line;
}

}  // namespace halvane
