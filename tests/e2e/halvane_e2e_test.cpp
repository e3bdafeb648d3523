// The real Halvane.exe under Wine, driven as its operator drives it (buttons, tray menu, the icon's
// callback, the system menu, the close box) while the client emulator plays the client: what the
// client receives, the buttons' states, the session log file, the icon and the window, the end of the
// program and the single-copy rule. Each test starts as few copies as it can: Wine is slow to take
// windows down.

#include <windows.h>

#include <mmsystem.h>

#include <gtest/gtest.h>

#include <algorithm>
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

::testing::AssertionResult Completed(const TransferResult& result) {
  if (result.completed) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "the transfer stopped at \"" << result.failedStep << "\": " << result.detail;
}

// The commands one attended transfer sends, in order.
std::vector<std::string> CycleCommands(const std::string& first, const std::string& second) {
  return {
      "#KALDU set AGC on",
      "#KALDU set call " + first + " status onhold",
      "#KALDU open contacts",
      "#KALDU set call " + first + " join_conference " + second,
      "#KALDU set AGC off",
      "#KALDU set call " + second + " status finished",
      "#KALDU set AGC on",
      "#KALDU minimize",
  };
}

std::vector<std::string> CommandsFrom(const sim::ClientEmulator& client, std::size_t first) {
  const std::vector<std::string> all = client.Commands();
  return std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(first < all.size() ? first : all.size()),
                                  all.end());
}

// What the session log shows after each audio preset on this machine. Wine's recording mixer has no
// microphone line, so selecting it fails; without any mixer the recording mixer cannot be opened.
std::string PresetDiagnostic() { return mixerGetNumDevs() == 0 ? "SetInMixerDevice failed\n" : "\nSelect Mic failed\n"; }

// The session log's lines for one attended transfer, from the wait for the call to the next wait.
std::string CycleLog(bool refusedCall) {
  const std::string preset = PresetDiagnostic();
  return "\n=>incoming call rings"
         "\n=>answer incoming call" +
         preset +
         "\n=>wait for hold button pressing"
         "\n=>hold incoming call"
         "\n=>wait for placing 2nd call"
         "\n=>wait for 2nd call response"
         "\n=>wait for transfer button pressing"
         "\n=>call transfered" +
         preset + (refusedCall ? "\n=>refuse another call" : "") + "\n=>finished" + preset +
         "\n\n=>wait for incoming call";
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

class HalvaneE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(client_.Start()) << "the emulator's API window could not be made";
    iconsBefore_ = VisibleTrayIcons();
  }

  void TearDown() override {
    // Closed in order where possible, so that no icon is left behind for the next test.
    if (halvane_.Running() && !halvane_.Close()) halvane_.Terminate();
    halvane_.Terminate();
    client_.Stop();
  }

  // Starts Halvane in a fresh folder and waits until it has attached and hidden its window.
  void StartHalvane(bool withLogFolder) {
    folder_ = MakeWorkFolder(L"halvane-e2e");
    ASSERT_FALSE(folder_.empty()) << "no working folder";
    ASSERT_TRUE(halvane_.Start(folder_, withLogFolder)) << halvane_.Error();
    ASSERT_TRUE(WaitUntil([&] { return client_.AttachedLink() != 0; }, kStartDeadline, "Halvane to attach"));
    ASSERT_TRUE(WaitUntil([&] { return !halvane_.Visible(); }, "the main window to hide itself at start"));
  }

  ::testing::AssertionResult IconsShown(int count) {
    return WaitUntil([&] { return VisibleTrayIcons() == iconsBefore_ + count; },
                     std::to_string(count) + " Halvane icon(s) in the notification area");
  }

  sim::ClientEmulator client_;
  HalvaneProcess halvane_;
  std::wstring folder_;
  int iconsBefore_ = 0;
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

  // Without a log folder nothing is logged, and the folder is not made.
  EXPECT_EQ(GetFileAttributesW((folder_ + L"\\log").c_str()), INVALID_FILE_ATTRIBUTES);
  for (const std::string& command : client_.Commands()) {
    EXPECT_EQ(command.find(" call "), std::string::npos) << "no call command without a call: " << command;
  }
}

// Three transfers in one run: with the buttons, with the tray menu, and one whose conference sees a
// further call that Halvane refuses. The buttons at each step, the client's commands of each cycle
// and the session log's whole text are checked.
TEST_F(HalvaneE2eTest, TransfersWithButtonsTrayMenuAndARefusedThirdCall) {
  ASSERT_NO_FATAL_FAILURE(StartHalvane(true));

  const std::string idle = "Hold+ Return- Transfer- Blind-";
  const std::string held = "Hold- Return+ Transfer+ Blind+";
  const std::string conference = "Hold- Return- Transfer- Blind-";
  const std::vector<std::pair<std::string, std::string>> expectedPatterns = {
      {"Halvane waits for an incoming call", ""},  // at start-up the engine may not have set them yet
      {"the incoming call", idle},
      {"the operator answers", idle},
      {"the operator presses Hold", idle},
      {"the operator dials", held},
      {"answers call", held},
      {"the operator presses Transfer", held},
      {"during the conference", conference},
      {"hangs up; Halvane ends the conference", conference},
  };

  const auto play = [&](TransferOptions options) {
    std::vector<std::pair<std::string, std::string>> seen;
    options.onStep = [&](const std::string& step) { seen.emplace_back(step, halvane_.ButtonPattern()); };
    if (!options.duringConference) options.duringConference = [] { return std::string(); };
    const TransferResult result = PlayAttendedTransfer(halvane_, client_, options);
    EXPECT_TRUE(Completed(result));
    EXPECT_EQ(seen.size(), expectedPatterns.size());
    for (std::size_t i = 0; i < seen.size() && i < expectedPatterns.size(); ++i) {
      EXPECT_NE(seen[i].first.find(expectedPatterns[i].first), std::string::npos)
          << "step " << i << " is \"" << seen[i].first << "\"";
      if (!expectedPatterns[i].second.empty()) {
        EXPECT_EQ(seen[i].second, expectedPatterns[i].second) << "buttons at \"" << seen[i].first << "\"";
      }
    }
    EXPECT_EQ(halvane_.ButtonPattern(), idle) << "after the transfer";
    return result;
  };

  const TransferResult buttons = play(TransferOptions());
  ASSERT_TRUE(buttons.completed);
  EXPECT_EQ(CommandsFrom(client_, buttons.firstCommand), CycleCommands(buttons.firstCall, buttons.secondCall));

  TransferOptions menu;
  menu.trayMenu = true;
  menu.caller = "caller3";
  menu.secondParty = "party4";
  const TransferResult tray = play(menu);
  ASSERT_TRUE(tray.completed);
  EXPECT_EQ(CommandsFrom(client_, tray.firstCommand), CycleCommands(tray.firstCall, tray.secondCall));

  // A third call rings during the conference: Halvane hangs it up, the client reports its end (the
  // tagged reply and the notification), and the conference goes on until the caller really hangs up.
  std::string third;
  TransferResult refused;
  TransferOptions busy;
  busy.caller = "caller5";
  busy.secondParty = "party6";
  busy.duringConference = [&]() -> std::string {
    third = client_.IncomingCall("caller7");
    if (third.empty()) return "the client did not make the third call";
    const std::string hangUp = "#KALDU set call " + third + " status finished";
    const auto commands = [&] { return client_.Commands(); };
    if (!WaitFor([&] { const auto c = commands(); return std::find(c.begin(), c.end(), hangUp) != c.end(); },
                 kStepDeadline)) {
      return "Halvane did not refuse the third call with \"" + hangUp + "\"";
    }
    if (!WaitFor([&] { return client_.CallStatus(third) == "FINISHED"; }, kStepDeadline)) {
      return "the client did not report the third call's end";
    }
    // Anything that ends the conference now would be a fault; give it time to show.
    const std::size_t before = client_.Commands().size();
    if (WaitFor([&] { return client_.Commands().size() > before; }, kQuietWindow)) {
      return "Halvane sent \"" + client_.Commands().back() + "\" after the refused call ended";
    }
    if (halvane_.ButtonPattern() != conference) return "the buttons left the conference: " + halvane_.ButtonPattern();
    return std::string();
  };
  refused = play(busy);
  ASSERT_TRUE(refused.completed);
  std::vector<std::string> expected = CycleCommands(refused.firstCall, refused.secondCall);
  expected.insert(expected.begin() + 5, "#KALDU set call " + third + " status finished");
  EXPECT_EQ(CommandsFrom(client_, refused.firstCommand), expected);
  const std::vector<std::string> lines = client_.SentLines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "CALL " + third + " STATUS FINISHED"), lines.end())
      << "the client's notification of the refused call's end";
  EXPECT_NE(std::find(lines.begin(), lines.end(), "#KALDU CALL " + third + " STATUS FINISHED"), lines.end())
      << "the client's tagged reply to the hang-up";

  // The session log holds exactly the run's progress, as a text file (CR LF line ends).
  const std::string expectedLog = "\n\naccess Skype successfully... get current user handle... "
                                  "\n\n=>wait for incoming call" +
                                  CycleLog(false) + CycleLog(false) + CycleLog(true);
  EXPECT_EQ(halvane_.LogText(), WithCrLf(expectedLog));
}

// Switchboard traffic off the happy path, in one run: the second party is busy, the operator dials
// again and the transfer completes; then a third caller gives up while the second call rings, and the
// transfer completes all the same.
TEST_F(HalvaneE2eTest, BusySecondPartyThenADialAgainAndAThirdCallerGivingUp) {
  ASSERT_NO_FATAL_FAILURE(StartHalvane(true));
  const auto log = [&] { return WithoutCr(halvane_.LogText()); };
  const auto logGrows = [&](const std::string& line, std::size_t before) {
    return WaitFor([&] { return CountOf(log(), line) > before; }, kStepDeadline);
  };

  std::string busy;
  TransferOptions dialAgain;
  dialAgain.beforeDial = [&]() -> std::string {
    const std::size_t waits = CountOf(log(), "\n=>wait for placing 2nd call");
    const std::size_t responses = CountOf(log(), "\n=>wait for 2nd call response");
    busy = client_.OperatorDials("busyparty");
    if (!logGrows("\n=>wait for 2nd call response", responses)) return "Halvane did not take the dial of " + busy;
    if (!client_.FarEndBusy(busy)) return "the client could not report " + busy + " busy";
    if (!logGrows("\n=>wait for placing 2nd call", waits)) return "Halvane did not wait for a new dial after BUSY";
    return std::string();
  };
  const TransferResult first = PlayAttendedTransfer(halvane_, client_, dialAgain);
  ASSERT_TRUE(Completed(first));
  std::vector<std::string> expected = CycleCommands(first.firstCall, first.secondCall);
  expected.insert(expected.begin() + 3, "#KALDU btn_released no");
  EXPECT_EQ(CommandsFrom(client_, first.firstCommand), expected);

  std::string third;
  TransferOptions gaveUp;
  gaveUp.caller = "caller8";
  gaveUp.secondParty = "party9";
  gaveUp.whileSecondRings = [&]() -> std::string {
    third = client_.IncomingCall("caller10");
    if (third.empty() || !client_.Missed(third)) return "the client could not ring and miss a third call";
    // Halvane reads the call statuses once a second here: give it two readings to do anything wrong.
    const std::size_t before = client_.Commands().size();
    if (WaitFor([&] { return client_.Commands().size() > before; }, std::chrono::milliseconds(2500))) {
      return "Halvane sent \"" + client_.Commands().back() + "\" when a third caller gave up";
    }
    return std::string();
  };
  const TransferResult second = PlayAttendedTransfer(halvane_, client_, gaveUp);
  ASSERT_TRUE(Completed(second));
  EXPECT_EQ(CommandsFrom(client_, second.firstCommand), CycleCommands(second.firstCall, second.secondCall));
  EXPECT_EQ(CountOf(log(), "\n=>call transfered"), 2u) << log();
}

// Starting the program again ends the copy already running; with its output in a file, the new copy
// reports both copies it found (itself included).
TEST_F(HalvaneE2eTest, SecondStartEndsTheOlderCopyAndReportsBoth) {
  ASSERT_NO_FATAL_FAILURE(StartHalvane(false));
  const DWORD olderPid = halvane_.Pid();

  HalvaneProcess newer;
  const std::wstring report = folder_ + L"\\report.txt";
  ASSERT_TRUE(newer.Start(folder_, false, report)) << newer.Error();
  EXPECT_TRUE(halvane_.WaitForExit(kStepDeadline)) << "the older copy still runs";
  EXPECT_EQ(halvane_.ExitCode(), 0u) << "the older copy is ended with exit code 0";
  EXPECT_TRUE(newer.Running());

  std::string text;
  HANDLE file = CreateFileW(report.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << "no report file";
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) text.append(chunk, got);
  CloseHandle(file);
  text = WithoutCr(text);

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

  EXPECT_TRUE(newer.Close()) << "the newer copy did not end when its window closed";
}

}  // namespace
}  // namespace halvane::e2e
