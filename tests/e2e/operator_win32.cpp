#include "operator_win32.h"

#include <algorithm>
#include <atomic>
#include <iterator>
#include <sstream>
#include <vector>

#include "base/call_board.h"

namespace halvane::e2e {
namespace {

constexpr char kTag[] = "#KALDU ";

}  // namespace

void AwaitReaction() {
  (void)WaitUntil([] { return false; }, kOperatorReaction, "the operator's reaction");
}

std::size_t CountOf(const std::string& text, const std::string& needle) {
  if (needle.empty()) return 0;
  std::size_t count = 0;
  for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) {
    ++count;
  }
  return count;
}

std::string WithoutCr(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out.push_back(text[i]);
  }
  return out;
}

std::wstring HalvaneExePath() { return WindowsPath(HALVANE_EXE_PATH); }

std::wstring MakeWorkFolder(const std::wstring& prefix) {
  static std::atomic<unsigned> serial{0};
  wchar_t temp[MAX_PATH];
  const DWORD length = GetTempPathW(MAX_PATH, temp);
  if (length == 0 || length >= MAX_PATH) return std::wstring();
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::wstring folder = std::wstring(temp) + prefix + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                          std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(serial++);
    if (CreateDirectoryW(folder.c_str(), nullptr)) return folder;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return std::wstring();
  }
  return std::wstring();
}

bool PressChord(std::initializer_list<WORD> keys) {
  std::vector<INPUT> inputs;
  const auto add = [&inputs](WORD key, DWORD flags) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = flags;
    inputs.push_back(input);
  };
  for (const WORD key : keys) add(key, 0);
  for (auto key = std::rbegin(keys); key != std::rend(keys); ++key) add(*key, KEYEVENTF_KEYUP);
  return SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)) == inputs.size();
}

namespace {

BOOL CALLBACK CountTrayIcons(HWND window, LPARAM param) {
  wchar_t name[64];
  if (GetClassNameW(window, name, 64) == 0 || std::wstring(name) != L"__winex11_standalone_tray") return TRUE;
  for (HWND icon = GetWindow(window, GW_CHILD); icon != nullptr; icon = GetWindow(icon, GW_HWNDNEXT)) {
    if (GetClassNameW(icon, name, 64) != 0 && std::wstring(name) == L"__winex11_tray_icon" && IsWindowVisible(icon)) {
      ++*reinterpret_cast<int*>(param);
    }
  }
  return TRUE;
}

}  // namespace

int VisibleTrayIcons() {
  int count = 0;
  EnumWindows(CountTrayIcons, reinterpret_cast<LPARAM>(&count));
  return count;
}

// --- HalvaneProcess ---------------------------------------------------------------------------------

bool HalvaneProcess::Start(const std::wstring& workDir, bool withLogFolder, const std::wstring& stdoutFile,
                           const std::wstring& program) {
  workDir_ = workDir;
  if (!CreateDirectoryW(workDir.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    error_ = "the working folder could not be made: " + Narrow(workDir);
    return false;
  }
  if (withLogFolder) {
    const std::wstring log = workDir + L"\\log";
    if (!CreateDirectoryW(log.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      error_ = "the log folder could not be made: " + Narrow(log);
      return false;
    }
  }

  if (!process_.Start(program, workDir, stdoutFile)) {
    error_ = process_.Error();
    return false;
  }
  if (!WaitUntil(
          [&] {
            main_ = FindProcessWindow(Pid(), kDialogClass, kMainTitle);
            return main_ != nullptr || !Running();
          },
          kStartDeadline, "the main window") ||
      main_ == nullptr) {
    error_ = Running() ? "no main window titled \"Halvane\" within the deadline"
                       : "the program ended before its main window came, exit code " + std::to_string(ExitCode());
    return false;
  }
  error_.clear();
  return true;
}

bool HalvaneProcess::Press(int id) const {
  HWND button = GetDlgItem(main_, id);
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(main_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button),
                             SMTO_ABORTIFHUNG, 5000, &result) != 0;
}

bool HalvaneProcess::MenuCommand(int id) const {
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(main_, WM_COMMAND, MAKEWPARAM(id, 0), 0, SMTO_ABORTIFHUNG, 5000, &result) != 0;
}

bool HalvaneProcess::TrayNotify(UINT mouseMessage, WPARAM iconId) const {
  return PostMessageW(main_, kIconCallbackMessage, iconId, static_cast<LPARAM>(mouseMessage)) != 0;
}

std::string HalvaneProcess::UsePopupMenu(int downs) const {
  if (!TrayNotify(WM_RBUTTONDOWN)) return "the right press on the icon was not posted";
  HWND menu = nullptr;
  const auto menuShown = [&] { return (menu = FindProcessWindow(Pid(), L"#32768", L"")) != nullptr && IsWindowVisible(menu); };
  if (!WaitUntil(menuShown, kStepDeadline, "the popup menu")) return "no popup menu (a \"#32768\" window) after the right press";
  const auto key = [&](UINT vk) { return PostMessageW(menu, WM_KEYDOWN, vk, 0) && PostMessageW(menu, WM_KEYUP, vk, 0); };
  for (int i = 0; i < downs; ++i) key(VK_DOWN);
  if (!key(downs > 0 ? VK_RETURN : VK_ESCAPE)) return "the keys did not reach the menu";
  const auto menuGone = [&] { return !IsWindow(menu) || !IsWindowVisible(menu); };
  return WaitUntil(menuGone, kStepDeadline, "the popup menu to close") ? std::string() : "the popup menu stayed open";
}

bool HalvaneProcess::PressKey(UINT virtualKey) const {
  GUITHREADINFO thread{};
  thread.cbSize = sizeof thread;
  HWND target = GetGUIThreadInfo(GetWindowThreadProcessId(main_, nullptr), &thread) && thread.hwndFocus != nullptr
                    ? thread.hwndFocus
                    : GetDlgItem(main_, kIdInstructions);
  return PostMessageW(target, WM_KEYDOWN, virtualKey, 1) && PostMessageW(target, WM_KEYUP, virtualKey, 0xC0000001);
}

bool HalvaneProcess::SysCommand(UINT command) const { return PostMessageW(main_, WM_SYSCOMMAND, command, 0) != 0; }

bool HalvaneProcess::Close(std::chrono::milliseconds deadline) {
  if (!Running()) return true;
  if (!PostMessageW(main_, WM_CLOSE, 0, 0)) return false;
  return WaitForExit(deadline);
}

bool HalvaneProcess::ItemEnabled(int id) const {
  HWND item = GetDlgItem(main_, id);
  return item != nullptr && IsWindowEnabled(item) != 0;
}

bool HalvaneProcess::ItemVisible(int id) const {
  HWND item = GetDlgItem(main_, id);
  return item != nullptr && (GetWindowLongW(item, GWL_STYLE) & WS_VISIBLE) != 0;
}

bool HalvaneProcess::Visible() const { return main_ != nullptr && IsWindowVisible(main_) != 0; }

std::string HalvaneProcess::ButtonPattern() const {
  std::string out;
  const struct {
    int id;
    const char* name;
  } items[] = {{kIdHold, "Hold"}, {kIdReturn, "Return"}, {kIdTransfer, "Transfer"}, {kIdBlindTransfer, "Blind"}};
  for (const auto& item : items) {
    if (!out.empty()) out += ' ';
    out += item.name;
    out += ItemEnabled(item.id) ? '+' : '-';
  }
  return out;
}

UINT_PTR HalvaneProcess::TrayIconPicture() const {
  return reinterpret_cast<UINT_PTR>(GetPropW(main_, L"Halvane.TrayIcon"));
}

HWND HalvaneProcess::FindWindowTitled(const std::wstring& title) const {
  return FindProcessWindow(Pid(), std::wstring(), title);
}

std::wstring HalvaneProcess::LogPath(const std::string& handle) const {
  return workDir_ + L"\\log\\log(" + Widen(handle) + L").txt";
}

std::string HalvaneProcess::LogText(const std::string& handle) const { return ReadWholeFile(LogPath(handle)); }

void HalvaneProcess::Terminate() {
  process_.Terminate();
  main_ = nullptr;
}

void HalvaneProcess::Detach() {
  process_.Detach();
  main_ = nullptr;
}

// --- One attended transfer --------------------------------------------------------------------------

namespace {

class TransferPlay {
 public:
  TransferPlay(HalvaneProcess& halvane, sim::ClientEmulator& client, const TransferOptions& options,
               TransferResult& result)
      : halvane_(halvane), client_(client), options_(options), result_(result) {}

  bool Run() {
    Step("Halvane waits for an incoming call");
    if (!Until([&] { return client_.AttachedLink() != 0 && EndsWith(Log(), "\n\n=>wait for incoming call"); },
               "attached, and the session log ending in \"=>wait for incoming call\"")) {
      return false;
    }
    result_.firstCommand = client_.UnnumberedCommands().size();

    Step("the incoming call from " + options_.caller + " rings");
    std::size_t seen = LogCount("\n=>incoming call rings");
    result_.firstCall = client_.IncomingCall(options_.caller);
    if (result_.firstCall.empty()) return Fail("the client did not make the incoming call");
    if (!LogGrows("\n=>incoming call rings", seen)) return false;

    Step("the operator answers call " + result_.firstCall + " in the client");
    seen = LogCount("\n=>wait for hold button pressing");
    if (!client_.OperatorAnswers(result_.firstCall)) return Fail("the client refused the answer");
    if (!LogGrows("\n=>wait for hold button pressing", seen)) return false;

    Step(std::string("the operator presses Hold") + Via());
    seen = LogCount("\n=>wait for placing 2nd call");
    const std::size_t contacts = CommandCount(client_, Command("open contacts"));
    if (!Operator(kIdHold, kIdMenuHold)) return false;
    if (!CommandSeen(Command("set call " + result_.firstCall + " status onhold"))) return false;
    if (!Until([&] { return CommandCount(client_, Command("open contacts")) > contacts; }, "the client's contacts to open")) {
      return false;
    }
    if (!LogGrows("\n=>wait for placing 2nd call", seen)) return false;

    if (options_.beforeDial && !Hook("before the dial", options_.beforeDial)) return false;

    Step("the operator dials " + options_.secondParty + " in the client");
    seen = LogCount("\n=>wait for 2nd call response");
    React();
    result_.secondCall = client_.OperatorDials(options_.secondParty);
    if (result_.secondCall.empty()) return Fail("the client did not place the second call");
    if (!LogGrows("\n=>wait for 2nd call response", seen)) return false;

    if (options_.whileSecondRings && !Hook("while the second call rings", options_.whileSecondRings)) return false;

    Step(options_.secondParty + " answers call " + result_.secondCall);
    seen = LogCount("\n=>wait for transfer button pressing");
    React();
    if (!client_.FarEndAnswers(result_.secondCall)) return Fail("the client refused the far end's answer");
    if (!LogGrows("\n=>wait for transfer button pressing", seen)) return false;

    Step(std::string("the operator presses Transfer") + Via());
    if (!Operator(kIdTransfer, kIdMenuTransfer)) return false;
    if (!CommandSeen(Command("set call " + result_.firstCall + " join_conference " + result_.secondCall))) {
      return false;
    }
    if (!CommandSeen(Command("set AGC off"))) return false;
    // The whole pattern: the engine switches the three items one after another.
    if (!Until(
            [&] {
              return !halvane_.ItemEnabled(kIdTransfer) && !halvane_.ItemEnabled(kIdReturn) &&
                     !halvane_.ItemEnabled(kIdBlindTransfer);
            },
            "the conference's buttons (Transfer, Return and Blind Transfer disabled)")) {
      return false;
    }

    if (options_.duringConference && !Hook("during the conference", options_.duringConference)) return false;

    Step(options_.caller + " hangs up; Halvane ends the conference");
    if (!client_.FarEndHangsUp(result_.firstCall)) return Fail("the client could not end the first call");
    if (!CommandSeen(Command("set call " + result_.secondCall + " status finished"))) return false;
    if (!CommandSeen(Command("minimize"))) return false;
    if (!Until([&] { return EndsWith(Log(), "\n\n=>wait for incoming call") && halvane_.ItemEnabled(kIdHold); },
               "Halvane to wait for the next call with Hold enabled")) {
      return false;
    }
    result_.completed = true;
    return true;
  }

 private:
  static bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
  }

  static std::string Command(const std::string& words) { return kTag + words; }

  std::string Via() const { return options_.keys ? " with its key" : options_.trayMenu ? " in the tray menu" : ""; }

  bool Hook(const std::string& step, const std::function<std::string()>& hook) {
    Step(step);
    const std::string failure = hook();
    return failure.empty() || Fail(failure);
  }

  void Step(const std::string& name) {
    step_ = name;
    if (options_.onStep) options_.onStep(name);
  }

  bool Fail(const std::string& detail) {
    result_.failedStep = step_;
    result_.detail = detail;
    return false;
  }

  template <typename Predicate>
  bool Until(Predicate&& predicate, const std::string& what) {
    if (WaitUntil(predicate, options_.stepDeadline, what)) return true;
    std::ostringstream detail;
    detail << "gave up after " << options_.stepDeadline.count() << " ms waiting for " << what
           << "; buttons " << halvane_.ButtonPattern() << "; Halvane " << (halvane_.Running() ? "running" : "ended")
           << "; last commands:";
    const std::vector<std::string> commands = client_.UnnumberedCommands();
    for (std::size_t i = commands.size() > 4 ? commands.size() - 4 : 0; i < commands.size(); ++i) {
      detail << " [" << commands[i] << "]";
    }
    const std::string log = Log();
    detail << "; log ends: \"" << (log.size() > 120 ? log.substr(log.size() - 120) : log) << "\"";
    return Fail(detail.str());
  }

  std::string Log() const { return WithoutCr(halvane_.LogText(options_.userHandle)); }
  std::size_t LogCount(const std::string& line) const { return CountOf(Log(), line); }

  bool LogGrows(const std::string& line, std::size_t before) {
    return Until([&] { return LogCount(line) > before; }, "the session log line \"" + line + "\"");
  }

  // A command sent since the transfer began.
  bool CommandSeen(const std::string& command) {
    return Until(
        [&] {
          const std::vector<std::string> commands = client_.UnnumberedCommands();
          for (std::size_t i = result_.firstCommand; i < commands.size(); ++i) {
            if (commands[i] == command) return true;
          }
          return false;
        },
        "the client to receive \"" + command + "\"");
  }

  bool Operator(int button, int menuCommand) {
    React();
    if (options_.popupMenu) {
      // The popup's items in order: Hold, Return, Transfer.
      const std::string failure = halvane_.UsePopupMenu(menuCommand == kIdMenuHold ? 1 : 3);
      return failure.empty() || Fail(failure);
    }
    if (options_.keys) {
      const WORD letter = button == kIdHold ? 'H' : 'T';
      return PressChord({VK_CONTROL, VK_MENU, letter}) || Fail("the key chord could not be typed");
    }
    const bool delivered = options_.trayMenu ? halvane_.MenuCommand(menuCommand) : halvane_.Press(button);
    return delivered || Fail("the main window did not take the command");
  }

  static void React() { AwaitReaction(); }

  HalvaneProcess& halvane_;
  sim::ClientEmulator& client_;
  const TransferOptions& options_;
  TransferResult& result_;
  std::string step_;
};

}  // namespace

TransferResult PlayAttendedTransfer(HalvaneProcess& halvane, sim::ClientEmulator& client,
                                    const TransferOptions& options) {
  TransferResult result;
  TransferPlay(halvane, client, options, result).Run();
  return result;
}

::testing::AssertionResult ClientReceives(const sim::ClientEmulator& client, const std::string& command) {
  return WaitUntil(
      [&] {
        const std::vector<std::string> commands = client.UnnumberedCommands();
        return std::find(commands.begin(), commands.end(), command) != commands.end();
      },
      kStepDeadline, "the client to receive \"" + command + "\"");
}

::testing::AssertionResult LogGrows(const HalvaneProcess& halvane, const std::string& line, std::size_t before) {
  return WaitUntil([&] { return CountOf(WithoutCr(halvane.LogText()), line) > before; }, kStepDeadline,
                   "the session log line \"" + line + "\" (" + std::to_string(before + 1) + " times)");
}

std::vector<std::string> CommandsFrom(const sim::ClientEmulator& client, std::size_t first) {
  const std::vector<std::string> all = client.UnnumberedCommands();
  return std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(first < all.size() ? first : all.size()),
                                  all.end());
}

std::size_t CommandCount(const sim::ClientEmulator& client, const std::string& command) {
  const std::vector<std::string> all = client.UnnumberedCommands();
  return static_cast<std::size_t>(std::count(all.begin(), all.end(), command));
}

bool HasEntry(const sim::ClientEmulator& client, sim::TranscriptEntry::Kind kind, const std::string& text) {
  for (const sim::TranscriptEntry& e : client.Transcript()) {
    if (e.kind == kind && (e.text == text || sim::WithoutTagNumber(e.text) == text)) return true;
  }
  return false;
}

}  // namespace halvane::e2e
