// The real Halvane.exe under Wine, driven as its operator drives it (buttons, tray menu, the icon's
// callback, the system menu, the close box) while the client emulator plays the client: what the
// client receives, the buttons' states, the session log file, the icon and the window, the end of the
// program and the single-copy rule. Each test starts as few copies as it can: Wine is slow to take
// windows down.

#include <windows.h>

#include <mmsystem.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "base/call_board.h"
#include "operator_win32.h"
#include "sim/client_emulator_win32.h"
#include "wait.h"

namespace halvane::e2e {
namespace {

// What the session log shows after each audio preset on this machine. Wine's recording mixer has no
// microphone line, so selecting it fails; without any mixer the recording mixer cannot be opened.
std::string PresetDiagnostic() { return mixerGetNumDevs() == 0 ? logline::kInMixerFailed : logline::kSelectMicFailed; }

// The session log's lines for one attended transfer, from the wait for the call to the next wait.
std::string CycleLog(bool refusedCall) {
  const std::string preset = PresetDiagnostic();
  return std::string(logline::kRings) + logline::kAnswer + preset + logline::kWaitHold + logline::kHold +
         logline::kWaitSecondCall + logline::kWaitSecondResponse + logline::kWaitTransfer + logline::kTransferred +
         preset + (refusedCall ? logline::kRefuseAnother : "") + logline::kFinished + preset + logline::kWaitIncoming;
}

std::string WithCrLf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

constexpr std::chrono::milliseconds kQuietWindow{3000};

// True when nobody holds the chord: this process could take it (and lets it go again at once).
bool ChordIsFree(UINT modifiers, UINT key) {
  constexpr int kProbeId = 0xB000;
  if (!RegisterHotKey(nullptr, kProbeId, modifiers, key)) return false;
  UnregisterHotKey(nullptr, kProbeId);
  return true;
}

class HalvaneE2eTest : public OperatorTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(client_.Start()) << "the emulator's API window could not be made";
    iconsBefore_ = VisibleTrayIcons();
  }

  // Starts Halvane in a fresh folder and waits until it has attached and hidden its window.
  void StartHalvane(bool withLogFolder) {
    folder_ = MakeWorkFolder(L"halvane-e2e");
    ASSERT_FALSE(folder_.empty()) << "no working folder";
    ASSERT_TRUE(halvane_.Start(folder_, withLogFolder)) << halvane_.Error();
    ASSERT_TRUE(WaitUntil([&] { return client_.AttachedLink() != 0; }, kStartDeadline, "Halvane to attach"));
    ASSERT_TRUE(WaitUntil([&] { return !halvane_.Visible(); }, "the main window to hide itself at start"));
  }

  // Ends this round's Halvane and client and starts a fresh client for the next.
  void Restart() {
    halvane_.Terminate();
    client_.Stop();
    ASSERT_TRUE(client_.Start());
  }

  // One attended transfer with these options, from Halvane's wait for a call to the next.
  ::testing::AssertionResult Transfer(ScriptOptions options) {
    script_.Options() = std::move(options);
    ::testing::AssertionResult waiting = script_.WaitingForCall();
    mark_ = client_.UnnumberedCommands().size();
    return waiting ? script_.Play(Cycle::kTransfer) : waiting;
  }
  // The commands the client received since the last transfer began; those one transfer of its calls sends.
  std::vector<std::string> Sent() const { return CommandsFrom(client_, mark_); }
  std::vector<std::string> Expected() const { return CycleCommands(script_.FirstCall(), script_.SecondCall()); }

  // A call rings and the operator answers it in the client; Halvane then waits for Hold.
  std::string AnswerACall(const std::string& caller) {
    script_.Options().caller = caller;
    EXPECT_TRUE(script_.WaitingForCall());
    EXPECT_TRUE(script_.RingAndAnswer());
    return script_.FirstCall();
  }

  ::testing::AssertionResult IconsShown(int count) {
    return WaitUntil([&] { return VisibleTrayIcons() == iconsBefore_ + count; },
                     std::to_string(count) + " Halvane icon(s) in the notification area");
  }

  std::wstring folder_;
  int iconsBefore_ = 0;
  std::size_t mark_ = 0;
};

TEST_F(HalvaneE2eTest, WindowAndIconTakeTurnsRequestsWithoutACallAboutBoxAndClose) {
  ASSERT_NO_FATAL_FAILURE(StartHalvane(false));
  EXPECT_TRUE(IconsShown(1)) << "at start only the icon shows";

  // The window's items as created, and every request while no call is active: nothing changes.
  EXPECT_TRUE(halvane_.ItemVisible(kIdInstructions));
  EXPECT_FALSE(halvane_.ItemVisible(kIdBlindTransfer)) << "Blind Transfer is never shown";
  EXPECT_FALSE(halvane_.ItemVisible(IDOK));
  EXPECT_FALSE(halvane_.ItemVisible(IDCANCEL));
  const std::string idle = "Hold+ Return- Transfer- Blind-";
  ASSERT_TRUE(WaitUntil([&] { return halvane_.ButtonPattern() == idle; }, "the idle buttons"));
  const struct {
    const char* what;
    bool menu;
    int id;
  } requests[] = {
      {"Hold button", false, kIdHold},       {"Return button", false, kIdReturn},
      {"Transfer button", false, kIdTransfer}, {"Blind Transfer button", false, kIdBlindTransfer},
      {"tray Hold", true, kIdMenuHold},      {"tray Return", true, kIdMenuReturn},
      {"tray Transfer", true, kIdMenuTransfer},
  };
  for (const auto& request : requests) {
    ASSERT_TRUE(request.menu ? halvane_.MenuCommand(request.id) : halvane_.Press(request.id)) << request.what;
    EXPECT_EQ(halvane_.ButtonPattern(), idle) << request.what << " without a call must change nothing";
  }

  // A left press on the icon brings the window back and takes the icon away; minimising hides the
  // window into the icon again, and the next press restores it again.
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(halvane_.TrayNotify(WM_LBUTTONDOWN));
    ASSERT_TRUE(WaitUntil([&] { return halvane_.Visible(); }, "the window to come back on a left press on the icon"))
        << "round " << round;
    EXPECT_TRUE(IconsShown(0)) << "round " << round;
    ASSERT_TRUE(halvane_.SysCommand(SC_MINIMIZE));
    ASSERT_TRUE(WaitUntil([&] { return !halvane_.Visible(); }, "minimise to hide the window")) << "round " << round;
    EXPECT_FALSE(IsIconic(halvane_.MainWindow())) << "hidden, not made iconic";
    EXPECT_TRUE(IconsShown(1)) << "round " << round;
  }

  // The About entry of the system menu opens the About box over the shown window; closing it returns.
  ASSERT_TRUE(halvane_.TrayNotify(WM_LBUTTONDOWN));
  ASSERT_TRUE(WaitUntil([&] { return halvane_.Visible(); }, "the window to come back for the About box"));
  ASSERT_TRUE(halvane_.SysCommand(kIdAbout));
  HWND about = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (about = halvane_.FindWindowTitled(kAboutTitle)) != nullptr && IsWindowVisible(about); },
                        "a window titled \"About Halvane\""));
  ASSERT_TRUE(PostMessageW(about, WM_CLOSE, 0, 0));
  ASSERT_TRUE(WaitUntil([&] { return halvane_.FindWindowTitled(kAboutTitle) == nullptr; }, "the About box to close"));
  EXPECT_TRUE(halvane_.Running());
  EXPECT_TRUE(halvane_.Visible()) << "closing the About box leaves the main window as it was";

  // Closed while hidden in the notification area: the icon goes and the program ends.
  ASSERT_TRUE(halvane_.SysCommand(SC_MINIMIZE));
  ASSERT_TRUE(WaitUntil([&] { return !halvane_.Visible(); }, "minimise to hide the window before closing"));
  ASSERT_TRUE(IconsShown(1));
  ASSERT_TRUE(halvane_.Close()) << "the program did not end when its window closed";
  EXPECT_EQ(halvane_.ExitCode(), 0u);
  EXPECT_TRUE(IconsShown(0)) << "closing the window removes the icon";
  EXPECT_TRUE(ChordIsFree(MOD_CONTROL | MOD_ALT, 'H')) << "the keys go with the program";

  // Without a log folder nothing is logged, and the folder is not made.
  EXPECT_EQ(GetFileAttributesW((folder_ + L"\\log").c_str()), INVALID_FILE_ATTRIBUTES);
  for (const std::string& command : client_.UnnumberedCommands()) {
    EXPECT_EQ(command.find(" call "), std::string::npos) << "no call command without a call: " << command;
  }
}

// The popup's items in order, from the program's own menu resource: Wine lets no other process read
// the items of an open menu.
std::vector<std::string> PopupItems() {
  std::vector<std::string> items;
  HMODULE image = LoadLibraryExW(HalvaneExePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  HMENU menu = image != nullptr ? LoadMenuW(image, MAKEINTRESOURCEW(129)) : nullptr;
  HMENU popup = menu != nullptr ? GetSubMenu(menu, 0) : nullptr;
  for (int i = 0; popup != nullptr && i < GetMenuItemCount(popup); ++i) {
    char text[32] = "";
    GetMenuStringA(popup, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
    items.push_back(std::to_string(GetMenuItemID(popup, i)) + " " + text);
  }
  if (menu != nullptr) DestroyMenu(menu);
  if (image != nullptr) FreeLibrary(image);
  return items;
}

// The operator's desk: the real popup menu (Esc closes it; its Hold and Transfer drive a transfer),
// stray keys on the hidden window, the icon after the shell restarts, where the window shows, and Esc
// on the shown window during a conference, which ends Halvane after the answer preset.
TEST_F(HalvaneE2eTest, PopupMenuStrayKeysShellRestartPlacementAndEscDuringAConference) {
  ASSERT_NO_FATAL_FAILURE(StartHalvane(true));
  ASSERT_TRUE(IconsShown(1));
  EXPECT_EQ(PopupItems(), (std::vector<std::string>{"32771 Hold", "32772 Return", "32773 Transfer"}));

  EXPECT_EQ(halvane_.UsePopupMenu(0), "");
  // The popup leaves the hidden window active: keys now reach it.
  ASSERT_TRUE(halvane_.PressKey(VK_ESCAPE));
  ASSERT_TRUE(halvane_.PressKey(VK_RETURN));
  EXPECT_FALSE(WaitUntil([&] { return !halvane_.Running(); }, kQuietWindow, "Halvane to end")) << "a stray key ended the hidden Halvane";
  EXPECT_FALSE(halvane_.Visible());

  // The shell restarts without the old icons; its "TaskbarCreated" broadcast brings Halvane's back.
  NOTIFYICONDATAW icon{};
  icon.cbSize = NOTIFYICONDATAW_V1_SIZE;
  icon.hWnd = halvane_.MainWindow();
  icon.uID = kIconId;
  ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &icon));
  ASSERT_TRUE(IconsShown(0));
  ASSERT_TRUE(PostMessageW(HWND_BROADCAST, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0));
  EXPECT_TRUE(IconsShown(1)) << "after \"TaskbarCreated\"";

  ScriptOptions options;
  options.via = Via::kPopupMenu;
  RECT shown{};
  options.duringConference = [&]() -> std::string {
    if (!halvane_.TrayNotify(WM_LBUTTONDOWN) || !WaitUntil([&] { return halvane_.Visible(); }, kStepDeadline, "the window to show")) {
      return "the window did not come back on a left press";
    }
    GetWindowRect(halvane_.MainWindow(), &shown);
    if (!halvane_.PressKey(VK_ESCAPE)) return "Esc was not posted";
    return halvane_.WaitForExit(kStepDeadline) ? "ended" : "Esc on the shown window did not end Halvane";
  };
  EXPECT_EQ(Transfer(options).message(), std::string("transfer, at \"during the conference\": ended"));
  const std::vector<std::string> cycle = Expected();
  EXPECT_EQ(Sent(), std::vector<std::string>(cycle.begin(), cycle.begin() + 7));
  const std::string preset = PresetDiagnostic();
  const std::string end = WithCrLf(logline::kTransferred + preset + preset);
  const std::string log = halvane_.LogText();
  EXPECT_EQ(log.substr(log.size() > end.size() ? log.size() - end.size() : 0), end)
      << "the answer preset after the transfer preset, at the end";

  // Centred on the work area, not at its corner.
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_LE(std::abs((shown.left + shown.right) - (work.left + work.right)), 1) << shown.left << " of " << work.right;
  EXPECT_LE(std::abs((shown.top + shown.bottom) - (work.top + work.bottom)), 1) << shown.top << " of " << work.bottom;
}

// Four transfers in one run: with the buttons, with the tray menu, with the system-wide keys alone, and
// one whose conference sees a further call that Halvane refuses. The client speaks as it does (dials,
// DURATION every second, "OK"), and while each second call rings a mood text names the held caller's end,
// which must leave the dial alone. The buttons and the tray icon's phase picture at each step, the
// client's commands of each cycle and the session log's whole text are checked.
TEST_F(HalvaneE2eTest, TransfersWithButtonsTrayMenuKeysAMoodTextAndARefusedThirdCall) {
  client_.SetPushProperties(true);
  ASSERT_NO_FATAL_FAILURE(StartHalvane(true));

  const std::string idle = "Hold+ Return- Transfer- Blind-";
  const std::string held = "Hold- Return+ Transfer+ Blind+";
  const std::string conference = "Hold- Return- Transfer- Blind-";
  // The phase pictures: at rest, call active, caller on hold, joined.
  constexpr UINT_PTR rest = 130, active = 131, onHold = 132, joined = 133;
  const struct {
    const char* step;
    std::string buttons;  // empty: not checked
    UINT_PTR picture;     // 0: not checked
  } expectedSteps[] = {
      {"Halvane waits for an incoming call", "", 0},  // at start-up the engine may not have set them yet
      {"the incoming call", idle, rest},
      {"the operator answers", idle, rest},
      {"the operator presses Hold", idle, active},
      {"the operator dials", held, onHold},
      {"while the second call rings", held, onHold},
      {"answers call", held, onHold},
      {"the operator presses Transfer", held, onHold},
      {"during the conference", conference, joined},
      {"hangs up; Halvane ends the conference", conference, joined},
  };
  constexpr std::size_t kSteps = sizeof expectedSteps / sizeof expectedSteps[0];

  const auto play = [&](ScriptOptions options) {
    std::size_t step = 0;
    options.onStep = [&](const std::string& name) {
      if (step == kSteps) {
        ADD_FAILURE() << "an extra step: " << name;
        return;
      }
      const auto& want = expectedSteps[step++];
      EXPECT_NE(name.find(want.step), std::string::npos) << "step " << step << " is \"" << name << "\"";
      // The phase is posted to the window's thread, so its picture may follow the step's cue by a moment.
      EXPECT_TRUE(want.picture == 0 || WaitUntil([&] { return halvane_.TrayIconPicture() == want.picture; },
                                                 "tray picture " + std::to_string(want.picture) + " at " + name));
      EXPECT_TRUE(want.buttons.empty() || halvane_.ButtonPattern() == want.buttons)
          << "buttons at \"" << name << "\": " << halvane_.ButtonPattern();
    };
    if (!options.duringConference) options.duringConference = [] { return std::string(); };
    options.whileSecondRings = [&]() -> std::string {
      const std::size_t before = client_.UnnumberedCommands().size();
      client_.SendLine("USER bob MOOD_TEXT CALL " + script_.FirstCall() + " STATUS FINISHED");
      const bool sent = WaitUntil([&] { return client_.UnnumberedCommands().size() > before; },
                                  std::chrono::milliseconds(3000), "a command");
      return sent ? "Halvane sent \"" + client_.UnnumberedCommands().back() + "\" after a mood text" : "";
    };
    ASSERT_TRUE(Transfer(options));
    EXPECT_EQ(step, kSteps);
    EXPECT_EQ(halvane_.ButtonPattern(), idle) << "after the transfer";
    EXPECT_TRUE(WaitUntil([&] { return halvane_.TrayIconPicture() == rest; }, "the tray picture at rest after the transfer"));
  };

  // The buttons, the tray menu, then no button and no menu: Ctrl+Alt+H and Ctrl+Alt+T typed system-wide
  // while the window is hidden.
  const struct {
    Via via;
    const char* caller;
    const char* party;
  } ways[] = {{Via::kButtons, "caller1", "party2"}, {Via::kTrayMenu, "caller3", "party4"}, {Via::kKeys, "caller8", "party9"}};
  for (const auto& way : ways) {
    ASSERT_FALSE(halvane_.Visible());
    ScriptOptions options;
    options.via = way.via;
    options.caller = way.caller;
    options.secondParty = way.party;
    ASSERT_NO_FATAL_FAILURE(play(options));
    EXPECT_EQ(Sent(), Expected());
  }

  // A third call rings during the conference: Halvane hangs it up, the client reports its end (the
  // tagged reply and the notification), and the conference goes on until the caller really hangs up.
  std::string third;
  ScriptOptions busy;
  busy.caller = "caller5";
  busy.secondParty = "party6";
  busy.duringConference = [&]() -> std::string {
    third = client_.IncomingCall("caller7");
    if (third.empty()) return "the client did not make the third call";
    if (!ClientReceives("#KALDU set call " + third + " status finished")) return "Halvane did not refuse the third call";
    if (!WaitUntil([&] { return client_.CallStatus(third) == "FINISHED"; }, kStepDeadline, "the third call's end")) {
      return "the client did not report the third call's end";
    }
    // Anything that ends the conference now would be a fault; give it time to show.
    const std::size_t before = client_.UnnumberedCommands().size();
    if (WaitUntil([&] { return client_.UnnumberedCommands().size() > before; }, kQuietWindow, "a command")) {
      return "Halvane sent \"" + client_.UnnumberedCommands().back() + "\" after the refused call ended";
    }
    if (halvane_.ButtonPattern() != conference) return "the buttons left the conference: " + halvane_.ButtonPattern();
    return std::string();
  };
  ASSERT_NO_FATAL_FAILURE(play(busy));
  std::vector<std::string> expected = Expected();
  expected.insert(expected.begin() + 7, "#KALDU set call " + third + " status finished");
  EXPECT_EQ(Sent(), expected);
  const std::vector<std::string> lines = client_.SentLines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "CALL " + third + " STATUS FINISHED"), lines.end())
      << "the client's notification of the refused call's end";
  const auto reply = [&](const std::string& l) { return sim::WithoutTagNumber(l) == "#KALDU CALL " + third + " STATUS FINISHED"; };
  EXPECT_NE(std::find_if(lines.begin(), lines.end(), reply), lines.end())
      << "the client's tagged reply to the hang-up";

  // The session log holds exactly the run's progress, as a text file (CR LF line ends).
  const std::string expectedLog = logline::kStarted +
                                  CycleLog(false) + CycleLog(false) + CycleLog(false) + CycleLog(true);
  EXPECT_EQ(halvane_.LogText(), WithCrLf(expectedLog));
}

// A key that another program took first is reported once, on standard output and in the session log;
// one held only while Halvane starts is taken by trying again; Halvane's other keys hold and return the caller.
TEST_F(HalvaneE2eTest, KeyHeldByAnotherProgramIsReportedOnceAndTheOtherKeysWork) {
  // Ctrl+Alt+T is held throughout; Ctrl+Alt+R only while Halvane starts, as by an older copy on its way
  // out, so Halvane gets it by trying again.
  constexpr int kTakenId = 0xB001;
  constexpr int kBrieflyId = 0xB002;
  ASSERT_TRUE(RegisterHotKey(nullptr, kTakenId, MOD_CONTROL | MOD_ALT, 'T')) << "this test could not take Ctrl+Alt+T";
  // Held by a window of its own: a thread's key given up while Halvane waited for it crashed Wine's server.
  struct Release {
    HWND holder = CreateWindowW(L"STATIC", L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    ~Release() {
      UnregisterHotKey(nullptr, kTakenId);
      if (holder != nullptr) DestroyWindow(holder);
    }
  } release;
  ASSERT_TRUE(RegisterHotKey(release.holder, kBrieflyId, MOD_CONTROL | MOD_ALT, 'R')) << "this test could not take Ctrl+Alt+R";
  folder_ = MakeWorkFolder(L"halvane-keys");
  ASSERT_FALSE(folder_.empty()) << "no working folder";
  const std::wstring out = folder_ + L"\\output.txt";
  // Released once Halvane has made its first try (it then holds Ctrl+Alt+H), not after a set pause that a
  // slow start or a busy machine could put before that try or past its retries.
  ASSERT_TRUE(halvane_.Start(folder_, true, out)) << halvane_.Error();
  ASSERT_TRUE(WaitUntil([] { return !ChordIsFree(MOD_CONTROL | MOD_ALT, 'H'); }, kStepDeadline,
                        "Halvane's first try of its keys (it takes Ctrl+Alt+H)"));
  UnregisterHotKey(release.holder, kBrieflyId);
  ASSERT_TRUE(WaitUntil([&] { return client_.AttachedLink() != 0; }, kStartDeadline, "Halvane to attach"));
  // Its next try (every 50 ms) may still be to come.
  EXPECT_TRUE(WaitUntil([] { return !ChordIsFree(MOD_CONTROL | MOD_ALT, 'R'); }, std::chrono::milliseconds(2000),
                        "Halvane to take Ctrl+Alt+R by trying again"));

  AnswerACall("caller1");
  script_.Options().via = Via::kKeys;
  ASSERT_TRUE(script_.Hold());
  ASSERT_TRUE(script_.ReturnToCaller());

  // With the platform's error; the text after it is the system's.
  const std::string report = "!!! Hotkey Ctrl+Alt+T (Transfer) is held by another program (error 1409: ";
  const std::string output = WithoutCr(ReadWholeFile(out));
  EXPECT_EQ(CountOf(output, report), 1u) << output;
  EXPECT_EQ(CountOf(output, "!!! Hotkey"), 1u) << "only Transfer's key is reported";
  EXPECT_EQ(CountOf(WithoutCr(halvane_.LogText()), report), 1u) << halvane_.LogText();
}

// Halvane.ini beside the program gives Hold another key and turns Return's off; a malformed Transfer
// entry is reported and keeps its default.
TEST_F(HalvaneE2eTest, IniBesideTheProgramChangesAKeyAndTurnsOneOff) {
  folder_ = MakeWorkFolder(L"halvane-ini");
  ASSERT_FALSE(folder_.empty()) << "no working folder";
  const std::wstring program = folder_ + L"\\Halvane.exe";
  ASSERT_TRUE(CopyFileW(HalvaneExePath().c_str(), program.c_str(), FALSE)) << "the program could not be copied";
  const std::string ini = "[Hotkeys]\r\nHold=Ctrl+Alt+Shift+F9\r\nTransfer=Ctrl+Alt+Q+X\r\nReturn=\r\n"
                          "[Notices]\r\nShow=yes\r\n[Hotkey]\r\n";
  FILE* file = _wfopen((folder_ + L"\\Halvane.ini").c_str(), L"wb");
  ASSERT_NE(file, nullptr);
  const std::size_t written = std::fwrite(ini.data(), 1, ini.size(), file);
  std::fclose(file);
  ASSERT_EQ(written, ini.size());

  const std::wstring out = folder_ + L"\\output.txt";
  ASSERT_TRUE(halvane_.Start(folder_, true, out, program)) << halvane_.Error();
  ASSERT_TRUE(WaitUntil([&] { return client_.AttachedLink() != 0; }, kStartDeadline, "Halvane to attach"));
  EXPECT_FALSE(ChordIsFree(MOD_CONTROL | MOD_ALT | MOD_SHIFT, VK_F9)) << "Hold's key from the file";
  EXPECT_TRUE(ChordIsFree(MOD_CONTROL | MOD_ALT, 'H')) << "Hold's default is left free";
  EXPECT_TRUE(ChordIsFree(MOD_CONTROL | MOD_ALT, 'R')) << "Return has no key";
  EXPECT_FALSE(ChordIsFree(MOD_CONTROL | MOD_ALT, 'T')) << "Transfer keeps its default";
  for (const char* report : {"!!! Halvane.ini: Transfer=Ctrl+Alt+Q+X is not a key; keeping Ctrl+Alt+T\n",
                             "!!! Halvane.ini: Show=yes is neither 0 nor 1; notices stay on\n",
                             "!!! Halvane.ini: [Hotkey] is not a section Halvane knows; its entries are ignored\n"}) {
    EXPECT_EQ(CountOf(WithoutCr(ReadWholeFile(out)), report), 1u) << WithoutCr(ReadWholeFile(out));
  }

  const std::string call = AnswerACall("caller1");
  ASSERT_TRUE(PressChord({VK_CONTROL, VK_MENU, VK_SHIFT, VK_F9}));
  EXPECT_TRUE(ClientReceives("#KALDU set call " + call + " status onhold"));
}

// Starting the program again ends the copy already running; with its output in a file, the new copy
// reports both copies it found (itself included).
TEST_F(HalvaneE2eTest, SecondStartEndsTheOlderCopyAndReportsBoth) {
  ASSERT_NO_FATAL_FAILURE(StartHalvane(true));
  const DWORD olderPid = halvane_.Pid();
  const std::string waiting = logline::kStarted;
  ASSERT_TRUE(WaitUntil([&] { return halvane_.LogText() == WithCrLf(waiting); }, "the older copy to wait for a call"));

  HalvaneProcess newer;
  const std::wstring report = folder_ + L"\\report.txt";
  ASSERT_TRUE(newer.Start(folder_, false, report)) << newer.Error();
  EXPECT_TRUE(halvane_.WaitForExit(kStepDeadline)) << "the older copy still runs";
  EXPECT_EQ(halvane_.ExitCode(), 0u) << "the older copy is ended with exit code 0";
  EXPECT_TRUE(newer.Running());
  // Asked to close at rest, the older copy, which never changed the mixer, left it alone.
  EXPECT_EQ(halvane_.LogText(), WithCrLf(waiting));

  const std::string text = WithoutCr(ReadWholeFile(report));
  ASSERT_FALSE(text.empty()) << "no report file, or an empty one";

  const auto pidLine = [](DWORD pid) {
    char line[64];
    std::snprintf(line, sizeof line, "\n  process ID        = 0x%08lX", static_cast<unsigned long>(pid));
    return std::string(line);
  };
  const std::string header = "\n\n=====================================================\nPROCESS NAME:  Halvane.exe"
                             "\n-----------------------------------------------------";
  EXPECT_EQ(CountOf(text, header), 2u) << text;
  EXPECT_EQ(CountOf(text, pidLine(olderPid)), 1u) << text;
  EXPECT_EQ(CountOf(text, pidLine(newer.Pid())), 1u) << text;
  EXPECT_EQ(CountOf(text, "WARNING"), 0u) << text;
  EXPECT_EQ(CountOf(text, "!!! Hotkey"), 0u) << "the older copy's keys pass to the newer one: " << text;

  EXPECT_TRUE(newer.Close()) << "the newer copy did not end when its window closed";
}

// The hidden window takes no keys during a call: Tab then Space, which would move to Hold and press it,
// do nothing. A second start during the call leaves the older copy running, its window shown, and the
// newer copy ends at once with exit code 0, saying why; the call goes on there and Hold still works.
TEST_F(HalvaneE2eTest, HiddenWindowIgnoresKeysAndASecondStartDuringACallShowsTheOlderCopy) {
  ASSERT_NO_FATAL_FAILURE(StartHalvane(true));
  const std::string call = AnswerACall("caller1");
  ASSERT_TRUE(WaitUntil([&] { return halvane_.TrayIconPicture() == 131; }, "the older copy to show the call active"));
  ASSERT_FALSE(halvane_.Visible());
  const std::size_t before = client_.UnnumberedCommands().size();
  ASSERT_TRUE(halvane_.PressKey(VK_TAB));
  AwaitReaction();
  ASSERT_TRUE(halvane_.PressKey(VK_SPACE));
  // The engine reads the Hold request within a second: give it two.
  EXPECT_FALSE(WaitUntil([&] { return client_.UnnumberedCommands().size() > before; }, std::chrono::milliseconds(2000),
                         "a command from Tab then Space"))
      << "the client received \"" << client_.UnnumberedCommands().back() << "\"";
  EXPECT_EQ(CountOf(WithoutCr(halvane_.LogText()), logline::kWaitSecondCall), 0u) << halvane_.LogText();

  HalvaneProcess newer;
  const std::wstring report = folder_ + L"\\report.txt";
  EXPECT_FALSE(newer.Start(folder_, false, report)) << "the newer copy made a main window";
  ASSERT_TRUE(newer.WaitForExit(kStepDeadline)) << "the newer copy still runs";
  EXPECT_EQ(newer.ExitCode(), 0u);
  EXPECT_TRUE(halvane_.Running()) << "the older copy was ended during a call";
  EXPECT_TRUE(WaitUntil([&] { return halvane_.Visible(); }, "the older copy to show its window"));
  char line[128];
  std::snprintf(line, sizeof line, "\nHalvane is in a call in the copy already running (process 0x%08lX); this copy ends\n",
                static_cast<unsigned long>(halvane_.Pid()));
  EXPECT_EQ(CountOf(WithoutCr(ReadWholeFile(report)), line), 1u) << WithoutCr(ReadWholeFile(report));
  ASSERT_TRUE(halvane_.Press(kIdHold));
  EXPECT_TRUE(ClientReceives("#KALDU set call " + call + " status onhold"));
}

// Started while a call rings, then while one talks: the ringing call, once answered, is the caller, and
// the talking one is at once; Hold holds each.
TEST_F(HalvaneE2eTest, StartedWhileACallRingsOrTalksFollowsItAndHoldWorks) {
  for (const bool talking : {false, true}) {
    SCOPED_TRACE(talking ? "talking" : "ringing");
    const std::string call = client_.IncomingCall("caller1");
    ASSERT_FALSE(call.empty()) << "the client did not make the incoming call";
    ASSERT_TRUE(!talking || client_.OperatorAnswers(call));
    ASSERT_NO_FATAL_FAILURE(StartHalvane(true));
    EXPECT_TRUE(ClientReceives("#KALDU get call " + call + " status"));
    ASSERT_TRUE(talking || LogGrows(logline::kRings, 0));
    ASSERT_TRUE(talking || client_.OperatorAnswers(call));
    ASSERT_TRUE(LogGrows(logline::kWaitHold, 0));
    ASSERT_TRUE(halvane_.Press(kIdHold));
    EXPECT_TRUE(ClientReceives("#KALDU set call " + call + " status onhold"));
    ASSERT_TRUE(LogGrows(logline::kWaitSecondCall, 0));
    ASSERT_TRUE(client_.FarEndHangsUp(call));
    ASSERT_TRUE(LogGrows(logline::kWaitIncoming, 1));
    ASSERT_TRUE(halvane_.Close());
    ASSERT_NO_FATAL_FAILURE(Restart());
  }
}

// Closing with a caller on hold asks first: No keeps Halvane; Yes hangs up the dial, takes the caller
// back, then ends. A session's end with a caller on hold takes the caller back before Halvane goes.
TEST_F(HalvaneE2eTest, ClosingOrTheSessionEndingWithACallerOnHoldTakesTheCallerBack) {
  for (const bool sessionEnds : {false, true}) {
    SCOPED_TRACE(sessionEnds ? "session end" : "close");
    ASSERT_NO_FATAL_FAILURE(StartHalvane(true));
    const std::string call = AnswerACall("caller1");
    ASSERT_TRUE(script_.Hold());
    ASSERT_TRUE(script_.DialSecond());
    const std::string dial = script_.SecondCall();
    HWND main = halvane_.MainWindow();
    if (sessionEnds) {
      DWORD_PTR ignored = 0;
      ASSERT_TRUE(SendMessageTimeoutW(main, WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, 10000, &ignored));
      SendMessageTimeoutW(main, WM_ENDSESSION, TRUE, 0, SMTO_ABORTIFHUNG, 10000, &ignored);
    } else {
      for (const WPARAM answer : {IDNO, IDYES}) {
        ASSERT_TRUE(PostMessageW(main, WM_CLOSE, 0, 0));
        HWND box = nullptr;
        const auto question = [&] {  // the message box: a dialog titled "Halvane" that the main window owns
          for (box = nullptr; (box = FindWindowExW(nullptr, box, kDialogClass, kMainTitle)) != nullptr;) {
            if (GetWindow(box, GW_OWNER) == main) return true;
          }
          return false;
        };
        ASSERT_TRUE(WaitUntil(question, kStepDeadline, "the question whether to take the caller back"));
        wchar_t text[128] = L"";
        GetDlgItemTextW(box, 0xFFFF, text, 128);
        EXPECT_STREQ(text, L"A caller is on hold. Take the caller back and end Halvane?");
        ASSERT_TRUE(PostMessageW(box, WM_COMMAND, answer, 0));
        if (answer == IDNO) {
          EXPECT_FALSE(halvane_.WaitForExit(kQuietWindow)) << "No ended Halvane";
          EXPECT_TRUE(WaitUntil([&] { return !question(); }, "the question to go"));
        }
      }
    }
    EXPECT_TRUE(ClientReceives("#KALDU set call " + dial + " status finished"));
    EXPECT_TRUE(ClientReceives("#KALDU set call " + call + " status inprogress"));
    EXPECT_TRUE(halvane_.WaitForExit(kStepDeadline)) << "Halvane did not end after taking the caller back";
    client_.FarEndHangsUp(call);  // the next start would take the call still up for its caller
    ASSERT_NO_FATAL_FAILURE(Restart());
  }
}

}  // namespace
}  // namespace halvane::e2e
