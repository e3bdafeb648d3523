#pragma once
// Drives the real Halvane.exe as its operator would: starts it in a working folder of its own, presses
// its buttons, picks its tray menu's commands, sends the icon's callback as the shell would, reads
// the buttons' states and the session log, and closes it. Plus the one scripted driver of call cycles
// against the client emulator, step by step, each step with a deadline.
// The demo and measuring programs use it too (they link GoogleTest only for the waits' results). Last,
// what the fault and soak tests add: a scratch folder, and the measures of the process's resources.

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "log_lines.h"
#include "process_win32.h"
#include "sim/client_emulator_win32.h"
#include "wait.h"

namespace halvane::e2e {

inline constexpr std::chrono::milliseconds kStartDeadline{30000};
inline constexpr std::chrono::milliseconds kStepDeadline{20000};

// The engine empties the status it last saw as it enters some of its states, right after writing the
// state's log line; a person never acts within this time of the line, and neither do the drivers here.
inline constexpr std::chrono::milliseconds kOperatorReaction{300};

// The main window's title and the dialog manager's window class.
inline constexpr wchar_t kMainTitle[] = L"Halvane";
inline constexpr wchar_t kAboutTitle[] = L"About Halvane";
inline constexpr wchar_t kDialogClass[] = L"#32770";

// The icon's callback message and the icon's id, as the program registers them with the shell.
inline constexpr UINT kIconCallbackMessage = WM_USER + 1;
inline constexpr WPARAM kIconId = 1;

// The operator's (or the far end's) reaction to a log line: kOperatorReaction, this thread's messages
// handled meanwhile.
void AwaitReaction();

// How often `needle` occurs in `text` (non-overlapping).
std::size_t CountOf(const std::string& text, const std::string& needle);

// The text with every CR LF pair turned into LF (the session log is a text-mode file).
std::string WithoutCr(const std::string& text);

// The performance counter's reading now.
std::int64_t PerformanceCounter();

// Halvane.exe of this build.
std::wstring HalvaneExePath();

// A new, empty folder under the temporary folder; empty when it could not be made.
std::wstring MakeWorkFolder(const std::wstring& prefix);

// A key chord typed system-wide through SendInput: the keys pressed in order, released in reverse.
bool PressChord(std::initializer_list<WORD> keys);

// The notification-area icons shown right now, as far as the shell lets another program see them: under
// Wine without a desktop tray, each icon is a visible child window of Wine's own tray window. Elsewhere
// this counts nothing and stays 0.
int VisibleTrayIcons();

class HalvaneProcess {
 public:
  // Ends the program, if it still runs, with the object.
  HalvaneProcess() = default;
  HalvaneProcess(const HalvaneProcess&) = delete;
  HalvaneProcess& operator=(const HalvaneProcess&) = delete;

  // Starts Halvane.exe with `workDir` (made when missing) as its working folder, with or without a
  // "log" folder in it, and waits (bounded) for its main window. With `stdoutFile`, the program's
  // standard output goes to that file. False when it did not start or no main window came; Error()
  // says which.
  bool Start(const std::wstring& workDir, bool withLogFolder, const std::wstring& stdoutFile = std::wstring(),
             const std::wstring& program = HalvaneExePath());
  const std::string& Error() const { return error_; }

  // --- As the operator ----------------------------------------------------------------------------
  // A click on a dialog item: WM_COMMAND with BN_CLICKED from that button; handled when this returns.
  bool Press(int id) const;
  // A tray menu choice (32771 Hold, 32772 Return, 32773 Transfer); handled when this returns.
  bool MenuCommand(int id) const;
  // The icon's callback as the shell sends it for a mouse message (WM_LBUTTONDOWN, ...). Posted: a
  // right press opens a menu that holds the window's thread, so the caller waits for the effect.
  bool TrayNotify(UINT mouseMessage, WPARAM iconId = kIconId) const;
  // The tray menu's popup as the operator uses it: a right press on the icon opens it (a menu window,
  // class "#32768", of the program shows), then `downs` presses of the down key and Enter choose an
  // item, or Esc closes it when `downs` is 0. Empty when done, else what did not happen.
  std::string UsePopupMenu(int downs) const;
  // A key pressed and released on the window's focused control (the instructions list when none).
  bool PressKey(UINT virtualKey) const;
  // A system command (SC_MINIMIZE, the About entry 16, ...), posted for the same reason.
  bool SysCommand(UINT command) const;
  // WM_CLOSE, then waits (bounded) for the process to end.
  bool Close(std::chrono::milliseconds deadline = kStepDeadline);

  // --- What the operator sees --------------------------------------------------------------------
  HWND MainWindow() const { return main_; }
  bool ItemEnabled(int id) const;
  bool ItemVisible(int id) const;
  bool Visible() const;
  // The four buttons' states for messages, "Hold+ Return- Transfer- Blind-": + enabled, - disabled.
  std::string ButtonPattern() const;
  // The icon resource the tray icon shows (the main window's "Halvane.TrayIcon" property); 0 before the
  // engine's first phase.
  UINT_PTR TrayIconPicture() const;
  // A top-level window of the program with this title (the About box, a message box); null if none.
  HWND FindWindowTitled(const std::wstring& title) const;
  // The session log "log\log(<handle>).txt" in the working folder, as stored (CR LF line ends); empty
  // when there is none.
  std::string LogText(const std::string& handle = "operator1") const;
  std::wstring LogPath(const std::string& handle = "operator1") const;

  DWORD Pid() const { return process_.Id(); }
  bool Running() const { return process_.Running(); }
  bool WaitForExit(std::chrono::milliseconds deadline) const { return process_.WaitForExit(deadline); }
  DWORD ExitCode() const { return process_.ExitCode(); }
  // Ends the program at once, if it runs, and waits (bounded) for its end.
  void Terminate();
  // Lets the program run on after this object is gone.
  void Detach();

 private:
  Process process_;
  HWND main_ = nullptr;
  std::wstring workDir_;
  std::string error_;
};

// Waits until the client has received `command`.
::testing::AssertionResult ClientReceives(const sim::ClientEmulator& client, const std::string& command);
// Waits until Halvane's session log holds `line` more than `before` times.
::testing::AssertionResult LogGrows(const HalvaneProcess& halvane, const std::string& line, std::size_t before);
// The client's commands from the `first`th on; how many times it received `command`; whether its
// transcript holds an entry of `kind` with `text`.
std::vector<std::string> CommandsFrom(const sim::ClientEmulator& client, std::size_t first);
std::size_t CommandCount(const sim::ClientEmulator& client, const std::string& command);
bool HasEntry(const sim::ClientEmulator& client, sim::TranscriptEntry::Kind kind, const std::string& text);
// The commands one attended transfer sends, in order, from the answer to the conference's end.
std::vector<std::string> CycleCommands(const std::string& first, const std::string& second);

// --- The one scripted driver ------------------------------------------------------------------------

// Follows the session log: each expected text must come after the previous one.
class LogCursor {
 public:
  explicit LogCursor(const HalvaneProcess& halvane, std::string handle = "operator1")
      : halvane_(halvane), handle_(std::move(handle)) {}
  // Waits until `text` appears past the cursor and moves the cursor past it.
  ::testing::AssertionResult Expect(const std::string& text, std::chrono::milliseconds deadline = kStepDeadline);
  // True when `text` appears past the cursor now (the cursor stays).
  bool Seen(const std::string& text) const;
  // Moves the cursor to the log's end: what was written so far is taken as read.
  void SkipToEnd() { at_ = Text().size(); }
  std::string Text() const { return WithoutCr(halvane_.LogText(handle_)); }

 private:
  const HalvaneProcess& halvane_;
  std::string handle_;
  std::size_t at_ = 0;
};

enum class Cycle {
  kTransfer,         // caller held, second party answers, the two are joined, the caller hangs up later
  kBlindTransfer,    // the same through the Blind Transfer button
  kReturn,           // caller held, the operator returns to the caller, the caller hangs up
  kRefusedReturn,    // the second party refuses, then the operator returns to the caller
  kMissed,           // the call rings out unanswered
  kRefusedJoin,      // the client refuses the join; the second party hangs up, the operator returns
  kCallerLeavesDial, // the held caller hangs up while the dial rings: Halvane ends the dial
  kReturnWhileRings, // the operator returns to the caller while the dial rings: Halvane ends the dial
  kDialWithoutHold,  // the operator dials in the client without Hold (the client holds the caller), joins
};
const char* CycleName(Cycle cycle);

// How the operator gives Hold, Return and Transfer: the buttons, the tray menu's commands, the real
// popup menu, or the default system-wide keys (Ctrl+Alt+H, R, T).
enum class Via { kButtons, kTrayMenu, kPopupMenu, kKeys };

// The moves the script makes after a log line; the pause before each may be chosen.
enum class Move { kRing, kAnswer, kHold, kDial, kFarEndAnswers, kFarEndRefuses, kTransfer, kReturn, kHangUp };

struct ScriptOptions {
  Via via = Via::kButtons;
  std::string caller = "caller1";
  std::string secondParty = "party2";
  // Before each move; unset, the operator's reaction (AwaitReaction) before every move of the operator
  // and the far end after Halvane's log line, none before the ring, the answer and a hang-up.
  std::function<void(Move)> beforeMove;
  // Told each step as it begins (the demo prints them).
  std::function<void(const std::string&)> onStep;
  // Steps of the caller's own in a transfer (kTransfer, kBlindTransfer, kDialWithoutHold): once Halvane
  // waits for the second call ("before the dial"), while the second call rings ("while the second call
  // rings") and once the conference runs ("during the conference"). A failure text ends the cycle there.
  std::function<std::string()> beforeDial;
  std::function<std::string()> whileSecondRings;
  std::function<std::string()> duringConference;
};

// Plays the client and the operator through call cycles against a Halvane that waits for a call: the
// e2e, fault and soak tests, the demo and the measuring program all drive Halvane through it. Each step
// waits (bounded) for the session log's lines, the commands the client receives and the buttons' states
// that the step must bring, and says which step failed, what it waited for and what it saw instead.
class CallScript {
 public:
  CallScript(HalvaneProcess& halvane, sim::ClientEmulator& client, LogCursor& log,
             ScriptOptions options = ScriptOptions())
      : halvane_(halvane), client_(&client), log_(log), options_(std::move(options)) {}
  void SetClient(sim::ClientEmulator& client) { client_ = &client; }
  ScriptOptions& Options() { return options_; }

  // One whole cycle, from the ring to the log's next wait for a call; the client must have no call left.
  ::testing::AssertionResult Play(Cycle cycle, bool useTrayMenu = false);

  // The steps, each from the state the one before leaves.
  ::testing::AssertionResult WaitingForCall();          // attached and waiting; the cursor at the log's end
  ::testing::AssertionResult RingAndAnswer();           // -> waits for Hold
  ::testing::AssertionResult Hold();                    // -> waits for the second call
  ::testing::AssertionResult DialSecond();              // -> waits for its response
  ::testing::AssertionResult SecondAnswers();           // -> waits for Transfer
  ::testing::AssertionResult SecondRefuses();           // -> waits for the second call again
  ::testing::AssertionResult Transfer(bool blind);      // -> joined
  ::testing::AssertionResult BlindBeforeAnswer();       // from the dial: Blind Transfer, then the answer -> joined
  ::testing::AssertionResult ConferenceEnds(bool callerLeaves = true);  // -> finished, waits for a call
  ::testing::AssertionResult ReturnToCaller();          // -> waits for Hold
  ::testing::AssertionResult CallerHangsUp();           // from waiting for Hold -> waits for a call
  ::testing::AssertionResult NoCallsLeft() const;

  const std::string& FirstCall() const { return first_; }
  const std::string& SecondCall() const { return second_; }
  // Where the client's transcript stood, and the performance counter, just before the last move.
  std::size_t MoveMark() const { return moveMark_; }
  std::int64_t MoveTicks() const { return moveTicks_; }

 private:
  void Step(const std::string& name);
  void Before(Move move);
  // The operator's Hold, Return or Transfer (Blind Transfer on its button only) the options' way; empty
  // when done, else what failed.
  std::string Operate(int button);
  // One step: the move `act` (its failure text, if any, fails the step), then the commands the client must
  // receive after it (without the tag) and the session log's lines, in order.
  ::testing::AssertionResult Act(const std::string& name, Move move, const std::function<std::string()>& act,
                                 const std::vector<std::string>& commands, std::initializer_list<const char*> lines);
  ::testing::AssertionResult Ring();
  // A step of the caller's own (none when `hook` is empty); what it makes Halvane log is taken as read.
  ::testing::AssertionResult Hook(const std::string& step, const std::function<std::string()>& hook);
  ::testing::AssertionResult HangsUp(const std::string& name, const std::string& call,
                                     const std::vector<std::string>& commands, std::initializer_list<const char*> lines);
  std::string Presses(const std::string& item) const;  // the step's name, the way included
  ::testing::AssertionResult Joined(std::size_t commandMark);
  template <typename Predicate>
  ::testing::AssertionResult Until(Predicate&& predicate, const std::string& what);
  ::testing::AssertionResult CommandSince(const std::string& words, std::size_t mark);
  ::testing::AssertionResult Logs(std::initializer_list<const char*> lines);
  std::size_t Commands() const { return client_->UnnumberedCommands().size(); }

  HalvaneProcess& halvane_;
  sim::ClientEmulator* client_;
  LogCursor& log_;
  ScriptOptions options_;
  std::string step_;
  std::string first_;
  std::string second_;
  std::size_t moveMark_ = 0;
  std::int64_t moveTicks_ = 0;
};

// The fixture of the tests that drive one Halvane against the emulator. Both end with the test, Halvane
// closed in order where possible so that no icon is left behind for the next test.
class OperatorTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (halvane_.Running() && !halvane_.Close()) halvane_.Terminate();
    halvane_.Terminate();
    client_.Stop();
  }
  ::testing::AssertionResult LogGrows(const std::string& line, std::size_t before) {
    return e2e::LogGrows(halvane_, line, before);
  }
  ::testing::AssertionResult ClientReceives(const std::string& command) { return e2e::ClientReceives(client_, command); }

  sim::ClientEmulator client_;
  HalvaneProcess halvane_;
  LogCursor log_{halvane_};
  CallScript script_{halvane_, client_, log_};
};

// --- For the fault and soak tests and the measuring program: a scratch working folder listed before
// and after, a file beside it for the program's output, and the measures of the process's resources.

// A new empty folder under the temporary folder with a "log" folder in it (Halvane never makes that
// one), and the name of a file beside it for the program's output. Both go with the object.
// Start Halvane with HalvaneProcess::Start(folder.Path(), true, folder.OutputFile()).
class ScratchFolder {
 public:
  explicit ScratchFolder(const wchar_t* prefix = L"halvane-faults");
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
  std::string status;  // /proc/<pid>/status
};
HostSample SampleHostProcess(const std::string& program);

// The client's announcement after a start or a sign-in: attach status "available" broadcast to every
// top-level window, with the client's API window as the sender.
bool AnnounceClient(sim::Hwnd apiWindow);

}  // namespace halvane::e2e
