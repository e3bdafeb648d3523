#pragma once
// What the fault and soak tests need around the operator's driver of the real Halvane.exe: a scratch
// working folder listed before and after, a file beside it for the program's output, the session log
// followed as it grows, a client script for every kind of call cycle, and the few measures of the
// process's resources that tell a leak.

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

// Follows the session log: each expected text must come after the previous one.
class LogCursor {
 public:
  explicit LogCursor(const HalvaneProcess& halvane) : halvane_(halvane) {}
  // Waits until `text` appears past the cursor and moves the cursor past it.
  ::testing::AssertionResult Expect(const std::string& text,
                                    std::chrono::milliseconds deadline = std::chrono::seconds(15));
  // True when `text` appears past the cursor now (the cursor stays).
  bool Seen(const std::string& text) const;

 private:
  std::string Text() const { return WithoutCr(halvane_.LogText()); }

  const HalvaneProcess& halvane_;
  std::size_t at_ = 0;
};

// Session log lines the scripts follow.
namespace logline {
inline constexpr char kWaitIncoming[] = "\n\n=>wait for incoming call";
inline constexpr char kRings[] = "\n=>incoming call rings";
inline constexpr char kAnswer[] = "\n=>answer incoming call";
inline constexpr char kWaitHold[] = "\n=>wait for hold button pressing";
inline constexpr char kHold[] = "\n=>hold incoming call";
inline constexpr char kWaitSecondCall[] = "\n=>wait for placing 2nd call";
inline constexpr char kResume[] = "\n=>1st call resume";
inline constexpr char kFirstHangUp[] = "\n=>1st call hangup";
inline constexpr char kReturn[] = "\n=>Return to caller";
inline constexpr char kWaitSecondResponse[] = "\n=>wait for 2nd call response";
inline constexpr char kWaitTransfer[] = "\n=>wait for transfer button pressing";
inline constexpr char kTransferred[] = "\n=>call transfered";
inline constexpr char kFinished[] = "\n=>finished";
inline constexpr char kNoReply[] = "\n=>no reply from Skype, going on";
inline constexpr char kReLogin[] = "\nSkype re-start/re-login\n";
inline constexpr char kReconnect[] = "re-connect Skype\n";
inline constexpr char kAccess[] = "\n\naccess Skype successfully... ";
inline constexpr char kJoinRefused[] = "\n=>join refused by Skype";
}  // namespace logline

enum class Cycle {
  kTransfer,         // caller held, second party answers, the two are joined, the caller hangs up later
  kBlindTransfer,    // the same through the Blind Transfer button
  kReturn,           // caller held, the operator returns to the caller, the caller hangs up
  kRefusedReturn,    // the second party refuses, then the operator returns to the caller
  kMissed,           // the call rings out unanswered
  kRefusedJoin,      // the client refuses the join; the second party hangs up, the operator returns
  kCallerLeavesDial, // the held caller hangs up while the dial rings: Halvane ends the dial
};
const char* CycleName(Cycle cycle);

// Plays the client and the operator through call cycles against a Halvane that waits for a call. Each
// step returns which step failed and what was waited for. The operator's presses, the dial and the far
// end's answer come a reaction time (AwaitReaction) after the log line they follow, as in
// PlayAttendedTransfer.
class CallScript {
 public:
  CallScript(HalvaneProcess& halvane, sim::ClientEmulator& client, LogCursor& log)
      : halvane_(halvane), client_(&client), log_(log) {}
  void SetClient(sim::ClientEmulator& client) { client_ = &client; }

  // One whole cycle, from the ring to the log's next wait for a call; the client must have no call left.
  ::testing::AssertionResult Play(Cycle cycle, bool useTrayMenu = false);

  // The steps, each from the state the one before leaves.
  ::testing::AssertionResult RingAndAnswer();          // -> waits for Hold
  ::testing::AssertionResult Hold(bool useTrayMenu);   // -> waits for the second call
  ::testing::AssertionResult DialSecond();             // -> waits for its response
  ::testing::AssertionResult SecondAnswers();          // -> waits for Transfer
  ::testing::AssertionResult SecondRefuses();          // -> waits for the second call again
  ::testing::AssertionResult Transfer(bool blind);     // -> joined
  ::testing::AssertionResult CallerLeavesConference(); // -> finished, waits for a call
  ::testing::AssertionResult ReturnToCaller();         // -> waits for Hold
  ::testing::AssertionResult CallerHangsUp();          // from waiting for Hold -> waits for a call
  ::testing::AssertionResult NoCallsLeft() const;

  const std::string& FirstCall() const { return first_; }

 private:
  HalvaneProcess& halvane_;
  sim::ClientEmulator* client_;
  LogCursor& log_;
  std::string first_;
  std::string second_;
};

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
