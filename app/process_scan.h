#pragma once
// Ending older copies of the program at start, written against a small port over the process list so
// the rule (which processes end, what the report says) runs without the platform.

#include <cstdint>
#include <string>
#include <string_view>

namespace halvane {

struct ProcessEntry {
  std::uint32_t processId = 0;
  std::uint32_t threadCount = 0;
  std::uint32_t parentProcessId = 0;
  std::int32_t basePriority = 0;
  std::string exeFile;
};

// The rights an older copy is opened with: PROCESS_QUERY_LIMITED_INFORMATION (its priority class)
// and SYNCHRONIZE (the wait for its end), nothing more; terminating asks for its own right.
inline constexpr std::uint32_t kOlderCopyAccess = 0x00001000 | 0x00100000;

// The platform's process list and the calls made on one process of it. Each failing call leaves its
// error code where Warn() will read it (the calling thread's last error on Windows).
class ProcessTable {
 public:
  virtual ~ProcessTable() = default;
  virtual bool TakeSnapshot() = 0;
  virtual bool First(ProcessEntry& entry) = 0;
  virtual bool Next(ProcessEntry& entry) = 0;
  virtual void CloseSnapshot() = 0;
  // Whether the process runs in the current process's Windows session; false when that cannot be told.
  virtual bool InThisSession(std::uint32_t processId) = 0;
  // Opens one process with the least access the steps below need; Priority/Terminate/Close act on it.
  virtual bool Open(std::uint32_t processId) = 0;
  // 0 when it cannot be read.
  virtual std::uint32_t PriorityClass() = 0;
  enum class CloseAnswer { kEnded, kDeclined, kNotEnded };
  // Asks the opened process to end in order (its windows get the close request) and waits a bounded
  // time: it ended, it declined (a call is in progress there), or it has not ended in time.
  virtual CloseAnswer RequestClose() = 0;
  // Ends the opened process with exit code 0; does not wait for it.
  virtual void Terminate() = 0;
  virtual void CloseProcess() = 0;
  virtual std::uint32_t CurrentProcessId() = 0;
  // Prints the warning line for a failed operation with the last error and its system text.
  virtual void Warn(const char* operation) = 0;
  // Standard output.
  virtual void Print(const std::string& text) = 0;
};

struct EndOthersOutcome {
  // A copy in the middle of a call declined to close: the current process should end instead.
  std::uint32_t decliningProcess = 0;
  // A copy did not end when asked and was terminated, so it could not put the sound back.
  bool terminatedOne = false;
};

// Ends every process in this Windows session whose executable name equals `exeName` (ASCII letters
// compared without case), except the current one, and prints a report block for every match there,
// the current process included; copies in other sessions (another operator's) are left alone. Each is
// first asked to close, so it can put the sound back; one that does not end in time is terminated.
// Once a copy declines, the rest are no longer asked. 1 when the list was walked, 0 when it could not
// be read at all.
int EndOtherInstances(ProcessTable& table, const char* exeName, EndOthersOutcome* outcome = nullptr);

// "\nHalvane is in a call in the copy already running (process 0x000004D2); this copy ends\n"
std::string FormatDeclinedReport(std::uint32_t processId);

// The report block of one matching process comes in two pieces, with any warnings between them: the
// name header, then the figures (priorityClass 0 leaves out its line).
std::string FormatProcessHeader(const ProcessEntry& entry);
std::string FormatProcessDetails(const ProcessEntry& entry, std::uint32_t priorityClass);

// Cuts a system message to its first line, then drops trailing full stops and blanks.
std::string TrimSystemMessage(std::string_view text);

// "\n  WARNING: <operation> failed with error <code> (<trimmed text>)".
std::string FormatWarning(std::string_view operation, std::uint32_t errorCode, std::string_view systemText);

}  // namespace halvane
