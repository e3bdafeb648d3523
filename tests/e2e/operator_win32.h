#pragma once
// Drives the real Halvane.exe as its operator would: starts it in a working folder of its own, presses
// its buttons, picks its tray menu's commands, sends the icon's callback as the shell would, reads
// the buttons' states and the session log, and closes it. Plus one whole attended transfer played
// against the client emulator, step by step, each step with a deadline.
// The demo and measuring programs use it too (they link GoogleTest only for the waits' results).

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

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
  const std::wstring& WorkDir() const { return workDir_; }

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
};

// --- One attended transfer ------------------------------------------------------------------------

struct TransferOptions {
  // Use the tray menu's commands instead of the buttons.
  bool trayMenu = false;
  // Choose Hold and Transfer from the real popup menu instead of the buttons.
  bool popupMenu = false;
  // Use the default system-wide keys (Ctrl+Alt+H, Ctrl+Alt+T) instead of the buttons.
  bool keys = false;
  std::string caller = "caller1";
  std::string secondParty = "party2";
  std::string userHandle = "operator1";
  std::chrono::milliseconds stepDeadline = kStepDeadline;
  // Told each step as it begins (the demo prints them).
  std::function<void(const std::string&)> onStep;
  // Called once the conference runs, before the first call ends (a test may add events there). A
  // failure it reports ends the transfer as failed at the step "during the conference".
  std::function<std::string()> duringConference;
  // Likewise once Halvane waits for the second call, before the dial ("before the dial"), and while
  // the second call rings, before its far end answers ("while the second call rings").
  std::function<std::string()> beforeDial;
  std::function<std::string()> whileSecondRings;
};

struct TransferResult {
  bool completed = false;
  std::string failedStep;  // the step that did not happen in time; empty when completed
  std::string detail;      // what was seen instead
  std::string firstCall;
  std::string secondCall;
  // Where the emulator's command list stood when the transfer began.
  std::size_t firstCommand = 0;
};

// Plays one attended transfer: the incoming call rings, the operator answers it in the client,
// presses Hold (the client sees the hold), dials the second party in the client, the far end answers,
// the operator presses Transfer (the client sees the join), then the caller hangs up and Halvane ends
// the conference (it hangs up the second call and minimises the client). Halvane must be waiting for
// a call, with a log folder: its session log tells when it is ready for the operator's next move.
TransferResult PlayAttendedTransfer(HalvaneProcess& halvane, sim::ClientEmulator& client,
                                    const TransferOptions& options = TransferOptions());

}  // namespace halvane::e2e
