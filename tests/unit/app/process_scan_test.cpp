#include "app/process_scan.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace halvane {
namespace {

// A scripted process list that records what was asked of it, in order.
class FakeProcessTable final : public ProcessTable {
 public:
  std::vector<ProcessEntry> processes;
  std::set<std::uint32_t> cannotOpen, closesOnRequest, declines, otherSession;
  std::uint32_t self = 100, priorityClass = 32;
  bool snapshotFails = false, firstFails = false;

  std::vector<std::uint32_t> askedToClose, terminated;
  std::string output;  // printed text, warnings shown as <W:operation>
  int openHandles = 0;
  bool snapshotOpen = false;

  bool TakeSnapshot() override { return snapshotOpen = !snapshotFails; }
  bool First(ProcessEntry& entry) override {
    next_ = 0;
    return !firstFails && Next(entry);
  }
  bool Next(ProcessEntry& entry) override {
    if (next_ >= processes.size()) return false;
    entry = processes[next_++];
    return true;
  }
  void CloseSnapshot() override { snapshotOpen = false; }
  bool InThisSession(std::uint32_t processId) override { return otherSession.count(processId) == 0; }
  bool Open(std::uint32_t processId) override {
    if (cannotOpen.count(processId) != 0) return false;
    opened_ = processId;
    ++openHandles;
    return true;
  }
  std::uint32_t PriorityClass() override { return priorityClass; }
  CloseAnswer RequestClose() override {
    askedToClose.push_back(opened_);
    if (declines.count(opened_) != 0) return CloseAnswer::kDeclined;
    return closesOnRequest.count(opened_) != 0 ? CloseAnswer::kEnded : CloseAnswer::kNotEnded;
  }
  void Terminate() override { terminated.push_back(opened_); }
  void CloseProcess() override { --openHandles; }
  std::uint32_t CurrentProcessId() override { return self; }
  void Warn(const char* operation) override { output += std::string("<W:") + operation + ">"; }
  void Print(const std::string& text) override { output += text; }

 private:
  std::size_t next_ = 0;
  std::uint32_t opened_ = 0;
};

ProcessEntry Entry(std::uint32_t id, const char* name) { return {id, 3, 0x20, 8, name}; }

std::size_t CountBlocks(const std::string& output) {
  std::size_t blocks = 0;
  for (std::size_t at = output.find("PROCESS NAME:"); at != std::string::npos; at = output.find("PROCESS NAME:", at + 1)) ++blocks;
  return blocks;
}

TEST(EndOtherInstances, EndsEveryOtherCopyWhateverTheCaseButNeverItself) {
  FakeProcessTable table;
  table.processes = {Entry(7, "explorer.exe"), Entry(8, "HALVANE.EXE"), Entry(100, "Halvane.exe"),
                     Entry(9, "halvane.exe"), Entry(10, "Halvane.exe.bak"), Entry(11, "Halvane")};
  EXPECT_EQ(EndOtherInstances(table, "Halvane.exe"), 1);
  EXPECT_EQ(table.terminated, (std::vector<std::uint32_t>{8, 9}));
  EXPECT_EQ(table.askedToClose, (std::vector<std::uint32_t>{8, 9}));
  EXPECT_EQ(table.openHandles, 0);
  EXPECT_FALSE(table.snapshotOpen);
  // One block per match, the program's own included.
  EXPECT_EQ(CountBlocks(table.output), 3U);
  // Each is opened to read its priority and wait for its end only (limited query, synchronize).
  EXPECT_EQ(kOlderCopyAccess, 0x00101000U);
}

// Only this session's copies are asked; a copy in a call declines and nothing more is asked; a copy
// that does not answer is terminated and said so, so the new copy can put the sound back. The printed
// report is the same whether the copies closed when asked or were terminated.
TEST(EndOtherInstances, LeavesOtherSessionsAndStopsAtACopyInACall) {
  const struct {
    const char* what;
    std::set<std::uint32_t> otherSession, declines, closes;
    std::vector<std::uint32_t> asked, terminated;
    std::uint32_t declining;
    bool terminatedOne;
    std::size_t blocks;
  } rows[] = {
      {"idle copies close", {}, {}, {7, 8}, {7, 8}, {}, 0, false, 3},
      {"another session's copy", {7}, {}, {8}, {8}, {}, 0, false, 2},
      {"a copy in a call declines", {}, {7}, {8}, {7}, {}, 7, false, 3},
      {"a copy that does not answer", {}, {}, {7}, {7, 8}, {8}, 0, true, 3},
  };
  std::string report;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    FakeProcessTable table;
    table.processes = {Entry(7, "Halvane.exe"), Entry(100, "Halvane.exe"), Entry(8, "Halvane.exe")};
    table.otherSession = row.otherSession;
    table.declines = row.declines;
    table.closesOnRequest = row.closes;
    EndOthersOutcome outcome;
    outcome.terminatedOne = !row.terminatedOne;
    EXPECT_EQ(EndOtherInstances(table, "Halvane.exe", &outcome), 1);
    EXPECT_EQ(table.askedToClose, row.asked);
    EXPECT_EQ(table.terminated, row.terminated);
    EXPECT_EQ(outcome.decliningProcess, row.declining);
    EXPECT_EQ(outcome.terminatedOne, row.terminatedOne);
    EXPECT_EQ(CountBlocks(table.output), row.blocks) << table.output;
    if (report.empty()) report = table.output;  // the first row's: both copies closed when asked
    EXPECT_EQ(row.declining == 0 && row.blocks == 3 ? table.output : report, report);
  }
  EXPECT_EQ(FormatDeclinedReport(0x4D2),
            "\nHalvane is in a call in the copy already running (process 0x000004D2); this copy ends\n");
}

// A copy's block to the character; a warning comes between its header and its figures.
TEST(EndOtherInstances, ReportBlockIsExact) {
  const char* const kHeader = "\n\n====================================================="
                              "\nPROCESS NAME:  Halvane.exe"
                              "\n-----------------------------------------------------";
  for (const bool opens : {true, false}) {
    FakeProcessTable table;
    ProcessEntry other = Entry(0x1A2B, "Halvane.exe");
    other.threadCount = 12;
    other.parentProcessId = 0xFF;
    table.processes = {other};
    if (!opens) table.cannotOpen.insert(0x1A2B);
    EndOtherInstances(table, "Halvane.exe");
    EXPECT_EQ(table.output, std::string(kHeader) + (opens ? "" : "<W:OpenProcess>") +
                                "\n  process ID        = 0x00001A2B"
                                "\n  thread count      = 12"
                                "\n  parent process ID = 0x000000FF"
                                "\n  Priority Base     = 8" +
                                (opens ? "\n  Priority Class    = 32\n" : ""));
  }
}

TEST(EndOtherInstances, FailuresAreReportedAndTheWalkGoesOn) {
  struct Case {
    const char* what;
    bool snapshotFails, firstFails, cannotOpenFirst;
    std::uint32_t priorityClass;
    int result;
    std::vector<std::uint32_t> terminated;
    const char* warning;
    bool priorityLine;
  };
  const Case cases[] = {
      {"no snapshot", true, false, false, 32, 0, {}, "<W:CreateToolhelp32Snapshot (of processes)>", false},
      {"no first entry", false, true, false, 32, 0, {}, "<W:Process32First>", false},
      {"cannot open", false, false, true, 32, 1, {6}, "<W:OpenProcess>", true},
      {"no priority class", false, false, false, 0, 1, {5, 6}, "<W:GetPriorityClass>", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeProcessTable table;
    table.processes = {Entry(5, "Halvane.exe"), Entry(6, "Halvane.exe")};
    table.snapshotFails = c.snapshotFails;
    table.firstFails = c.firstFails;
    if (c.cannotOpenFirst) table.cannotOpen.insert(5);
    table.priorityClass = c.priorityClass;
    EXPECT_EQ(EndOtherInstances(table, "Halvane.exe"), c.result);
    EXPECT_EQ(table.terminated, c.terminated);
    EXPECT_NE(table.output.find(c.warning), std::string::npos) << table.output;
    EXPECT_EQ(table.output.find("Priority Class") != std::string::npos, c.priorityLine) << table.output;
    EXPECT_FALSE(table.snapshotOpen);
    EXPECT_EQ(table.openHandles, 0);
  }
}

TEST(TrimSystemMessage, KeepsTheFirstLineWithoutTrailingStopsAndBlanks) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"Access is denied.\r\n", "Access is denied"},
      {"The handle is invalid. \r\nSecond line.", "The handle is invalid"},
      {"Tabs\tstay inside.", "Tabs\tstay inside"},
      {"Ends in dots... . \t", "Ends in dots"},
      {"...", ""},
      {"", ""},
      {"\r\nnothing on the first line", ""},
      {"Stops at a control\x01 character", "Stops at a control"},
      {"Caf\xE9.", "Caf\xE9"},
      {"No stop at all", "No stop at all"},
  };
  for (const auto& c : cases) EXPECT_EQ(TrimSystemMessage(c.in), c.out) << c.in;
  // The warning names the operation, the code and the trimmed text.
  EXPECT_EQ(FormatWarning("OpenProcess", 5, "Access is denied.\r\n"),
            "\n  WARNING: OpenProcess failed with error 5 (Access is denied)");
  EXPECT_EQ(FormatWarning("Process32First", 18, ""), "\n  WARNING: Process32First failed with error 18 ()");
}

}  // namespace
}  // namespace halvane
