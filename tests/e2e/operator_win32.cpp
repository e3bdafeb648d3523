#include "operator_win32.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <initializer_list>
#include <iterator>
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

// --- LogCursor ---------------------------------------------------------------------------------------

::testing::AssertionResult LogCursor::Expect(const std::string& text, std::chrono::milliseconds deadline) {
  std::size_t found = std::string::npos;
  ::testing::AssertionResult waited = WaitUntil(
      [&] {
        found = Text().find(text, at_);
        return found != std::string::npos;
      },
      deadline, "the session log line \"" + text + "\"");
  if (!waited) {
    const std::string log = Text();
    return waited << "\nthe log past the last line found:\n" << (at_ < log.size() ? log.substr(at_) : "");
  }
  at_ = found + text.size();
  return waited;
}

bool LogCursor::Seen(const std::string& text) const { return Text().find(text, at_) != std::string::npos; }

// --- CallScript ------------------------------------------------------------------------------------

const char* CycleName(Cycle cycle) {
  switch (cycle) {
    case Cycle::kTransfer: return "transfer";
    case Cycle::kBlindTransfer: return "blind transfer";
    case Cycle::kReturn: return "return to caller";
    case Cycle::kRefusedReturn: return "second party refuses, return";
    case Cycle::kMissed: return "missed call";
    case Cycle::kRefusedJoin: return "join refused, return";
    case Cycle::kCallerLeavesDial: return "held caller hangs up during the dial";
    case Cycle::kReturnWhileRings: return "return while the dial rings";
    case Cycle::kDialWithoutHold: return "dial without Hold, transfer";
  }
  return "?";
}

namespace {

using ::testing::AssertionFailure;
using ::testing::AssertionResult;
using ::testing::AssertionSuccess;

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::int64_t PerformanceCounter() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

}  // namespace

// Fails the step with what `expr` reports.
#define HALVANE_STEP(expr)                   \
  do {                                       \
    AssertionResult step_result = (expr);    \
    if (!step_result) return step_result;    \
  } while (false)

void CallScript::Step(const std::string& name) {
  step_ = name;
  if (options_.onStep) options_.onStep(name);
}

void CallScript::Before(Move move) {
  if (options_.beforeMove) {
    options_.beforeMove(move);
  } else if (move != Move::kAnswer && move != Move::kHangUp) {
    AwaitReaction();
  }
  moveMark_ = client_->Transcript().size();
  moveTicks_ = PerformanceCounter();
}

template <typename Predicate>
AssertionResult CallScript::Until(Predicate&& predicate, const std::string& what) {
  if (WaitUntil(predicate, options_.stepDeadline, what)) return AssertionSuccess();
  AssertionResult failed = AssertionFailure();
  failed << "gave up after " << options_.stepDeadline.count() << " ms waiting for " << what << "; buttons "
         << halvane_.ButtonPattern() << "; Halvane " << (halvane_.Running() ? "running" : "ended") << "; last commands:";
  const std::vector<std::string> commands = client_->UnnumberedCommands();
  for (std::size_t i = commands.size() > 4 ? commands.size() - 4 : 0; i < commands.size(); ++i) {
    failed << " [" << commands[i] << "]";
  }
  const std::string log = log_.Text();
  return failed << "; log ends: \"" << (log.size() > 120 ? log.substr(log.size() - 120) : log) << "\"";
}

AssertionResult CallScript::CommandSince(const std::string& words, std::size_t mark) {
  const std::string command = kTag + words;
  return Until(
      [&] {
        const std::vector<std::string> commands = client_->UnnumberedCommands();
        return std::find(commands.begin() + static_cast<std::ptrdiff_t>(std::min(mark, commands.size())),
                         commands.end(), command) != commands.end();
      },
      "the client to receive \"" + command + "\"");
}

AssertionResult CallScript::Logs(std::initializer_list<const char*> lines) {
  for (const char* line : lines) {
    AssertionResult seen = log_.Expect(line, options_.stepDeadline);
    if (!seen) return seen << "\n(Halvane " << (halvane_.Running() ? "running" : "ended") << ")";
  }
  return AssertionSuccess();
}

AssertionResult CallScript::Hook(const std::string& step, const std::function<std::string()>& hook) {
  Step(step);
  const std::string failure = hook();
  // Whatever the hook made Halvane write is the hook's: the next step reads on from here.
  log_.SkipToEnd();
  if (failure.empty()) return AssertionSuccess();
  return AssertionFailure() << failure;
}

AssertionResult CallScript::Operate(int button) {
  const bool hold = button == kIdHold;
  const bool transfer = button == kIdTransfer;
  std::string failure;
  switch (button == kIdBlindTransfer ? Via::kButtons : options_.via) {
    case Via::kButtons:
      if (!halvane_.Press(button)) failure = "the main window did not take the press";
      break;
    case Via::kTrayMenu:
      if (!halvane_.MenuCommand(hold ? kIdMenuHold : transfer ? kIdMenuTransfer : kIdMenuReturn)) {
        failure = "the main window did not take the tray menu's command";
      }
      break;
    case Via::kPopupMenu:  // the popup's items in order: Hold, Return, Transfer
      failure = halvane_.UsePopupMenu(hold ? 1 : transfer ? 3 : 2);
      break;
    case Via::kKeys:
      if (!PressChord({VK_CONTROL, VK_MENU, static_cast<WORD>(hold ? 'H' : transfer ? 'T' : 'R')})) {
        failure = "the key chord could not be typed";
      }
      break;
  }
  if (failure.empty()) return AssertionSuccess();
  return AssertionFailure() << failure;
}

std::string CallScript::Presses(const std::string& item) const {
  const char* via[] = {"", " in the tray menu", " in the popup menu", " with its key"};
  return "the operator presses " + item + via[static_cast<int>(options_.via)];
}

AssertionResult CallScript::WaitingForCall() {
  Step("Halvane waits for an incoming call");
  HALVANE_STEP(Until([&] { return client_->AttachedLink() != 0 && EndsWith(log_.Text(), logline::kWaitIncoming); },
                     "attached, and the session log ending in \"=>wait for incoming call\""));
  log_.SkipToEnd();
  return AssertionSuccess();
}

AssertionResult CallScript::RingAndAnswer() {
  Step("the incoming call from " + options_.caller + " rings");
  first_ = client_->IncomingCall(options_.caller);
  if (first_.empty()) return AssertionFailure() << "the client did not make the incoming call";
  HALVANE_STEP(Logs({logline::kRings}));
  Step("the operator answers call " + first_ + " in the client");
  Before(Move::kAnswer);
  if (!client_->OperatorAnswers(first_)) return AssertionFailure() << "the client refused the answer";
  return Logs({logline::kAnswer, logline::kWaitHold});
}

AssertionResult CallScript::Hold() {
  Step(Presses("Hold"));
  Before(Move::kHold);
  const std::size_t mark = Commands();
  HALVANE_STEP(Operate(kIdHold));
  HALVANE_STEP(CommandSince("set call " + first_ + " status onhold", mark));
  HALVANE_STEP(CommandSince("open contacts", mark));
  return Logs({logline::kHold, logline::kWaitSecondCall});
}

AssertionResult CallScript::DialSecond() {
  Step("the operator dials " + options_.secondParty + " in the client");
  Before(Move::kDial);
  second_ = client_->OperatorDials(options_.secondParty);
  if (second_.empty()) return AssertionFailure() << "the client did not place the second call";
  return Logs({logline::kWaitSecondResponse});
}

AssertionResult CallScript::SecondAnswers() {
  Step(options_.secondParty + " answers call " + second_);
  Before(Move::kFarEndAnswers);
  if (!client_->FarEndAnswers(second_)) return AssertionFailure() << "the client refused the far end's answer";
  return Logs({logline::kWaitTransfer});
}

AssertionResult CallScript::SecondRefuses() {
  Step(options_.secondParty + " refuses call " + second_);
  Before(Move::kFarEndRefuses);
  if (!client_->FarEndRefuses(second_)) return AssertionFailure() << "the client could not refuse " << second_;
  return Logs({logline::kWaitSecondCall});
}

AssertionResult CallScript::Joined(std::size_t commandMark) {
  HALVANE_STEP(CommandSince("set call " + first_ + " join_conference " + second_, commandMark));
  HALVANE_STEP(CommandSince("set AGC off", commandMark));
  // The whole pattern: the engine switches the three items one after another.
  HALVANE_STEP(Until(
      [&] {
        return !halvane_.ItemEnabled(kIdTransfer) && !halvane_.ItemEnabled(kIdReturn) &&
               !halvane_.ItemEnabled(kIdBlindTransfer);
      },
      "the conference's buttons (Transfer, Return and Blind Transfer disabled)"));
  HALVANE_STEP(Logs({logline::kTransferred}));
  // The two parties are talking once the client has resumed the held caller.
  return Until([&] { return client_->CallStatus(first_) == "INPROGRESS"; }, "the held caller resumed in the conference");
}

AssertionResult CallScript::Transfer(bool blind) {
  Step(blind ? "the operator presses Blind Transfer" : Presses("Transfer"));
  Before(Move::kTransfer);
  const std::size_t mark = Commands();
  HALVANE_STEP(Operate(blind ? kIdBlindTransfer : kIdTransfer));
  return Joined(mark);
}

AssertionResult CallScript::BlindBeforeAnswer() {
  Step("the operator presses Blind Transfer while " + second_ + " rings");
  Before(Move::kTransfer);
  const std::size_t mark = Commands();
  HALVANE_STEP(Operate(kIdBlindTransfer));
  Step(options_.secondParty + " answers call " + second_);
  Before(Move::kFarEndAnswers);
  if (!client_->FarEndAnswers(second_)) return AssertionFailure() << "the client refused the far end's answer";
  return Joined(mark);
}

AssertionResult CallScript::ConferenceEnds(bool callerLeaves) {
  const std::string& leaving = callerLeaves ? first_ : second_;
  const std::string& staying = callerLeaves ? second_ : first_;
  Step((callerLeaves ? options_.caller : options_.secondParty) + " hangs up; Halvane ends the conference");
  Before(Move::kHangUp);
  const std::size_t mark = Commands();
  if (!client_->FarEndHangsUp(leaving)) return AssertionFailure() << "the client could not end call " << leaving;
  HALVANE_STEP(CommandSince("set call " + staying + " status finished", mark));
  HALVANE_STEP(CommandSince("minimize", mark));
  HALVANE_STEP(Logs({logline::kFinished, logline::kWaitIncoming}));
  return Until([&] { return halvane_.ItemEnabled(kIdHold); }, "Hold enabled for the next call");
}

AssertionResult CallScript::ReturnToCaller() {
  Step(Presses("Return"));
  Before(Move::kReturn);
  const std::size_t mark = Commands();
  HALVANE_STEP(Operate(kIdReturn));
  HALVANE_STEP(CommandSince("set call " + first_ + " status inprogress", mark));
  return Logs({logline::kReturn, logline::kResume, logline::kWaitHold});
}

AssertionResult CallScript::CallerHangsUp() {
  Step(options_.caller + " hangs up");
  Before(Move::kHangUp);
  if (!client_->FarEndHangsUp(first_)) return AssertionFailure() << "the client could not end call " << first_;
  return Logs({logline::kWaitIncoming});
}

AssertionResult CallScript::NoCallsLeft() const {
  // Halvane's last hang-up is answered after the log line that ends its cycle.
  const bool done = WaitUntil([&] { return client_->LiveCalls().empty(); }, "every call at the client ended");
  if (done) return AssertionSuccess();
  std::string live;
  for (const std::string& id : client_->LiveCalls()) live += " " + id + " " + client_->CallStatus(id);
  return AssertionFailure() << "calls left at the client:" << live;
}

AssertionResult CallScript::Play(Cycle cycle, bool useTrayMenu) {
  const Via via = options_.via;
  options_.via = useTrayMenu ? Via::kTrayMenu : via;
  const auto run = [&]() -> AssertionResult {
    if (cycle == Cycle::kMissed) {
      Step("the incoming call from " + options_.caller + " rings out");
      first_ = client_->IncomingCall(options_.caller);
      HALVANE_STEP(Logs({logline::kRings}));
      if (!client_->Missed(first_)) return AssertionFailure() << "the client could not miss call " << first_;
      return Logs({logline::kWaitIncoming});
    }
    HALVANE_STEP(RingAndAnswer());
    if (cycle == Cycle::kDialWithoutHold) {
      HALVANE_STEP(DialSecond());
      HALVANE_STEP(SecondAnswers());
      HALVANE_STEP(Transfer(false));
      return ConferenceEnds();
    }
    HALVANE_STEP(Hold());
    switch (cycle) {
      case Cycle::kTransfer:
      case Cycle::kBlindTransfer:
        HALVANE_STEP(DialSecond());
        HALVANE_STEP(SecondAnswers());
        HALVANE_STEP(Transfer(cycle == Cycle::kBlindTransfer));
        return ConferenceEnds();
      case Cycle::kRefusedReturn:
        HALVANE_STEP(DialSecond());
        HALVANE_STEP(SecondRefuses());
        HALVANE_STEP(ReturnToCaller());
        return CallerHangsUp();
      case Cycle::kReturn:
        HALVANE_STEP(ReturnToCaller());
        return CallerHangsUp();
      case Cycle::kRefusedJoin:
        HALVANE_STEP(DialSecond());
        HALVANE_STEP(SecondAnswers());
        client_->RefuseNextJoin();
        Step("the operator presses Transfer; the client refuses the join");
        Before(Move::kTransfer);
        HALVANE_STEP(Operate(kIdTransfer));
        HALVANE_STEP(Logs({logline::kJoinRefused}));
        Step(options_.secondParty + " hangs up");
        if (!client_->FarEndHangsUp(second_)) return AssertionFailure() << "the client could not end call " << second_;
        HALVANE_STEP(Logs({logline::kWaitSecondCall}));
        HALVANE_STEP(ReturnToCaller());
        return CallerHangsUp();
      case Cycle::kCallerLeavesDial:
        HALVANE_STEP(DialSecond());
        return CallerHangsUp();
      case Cycle::kReturnWhileRings: {
        HALVANE_STEP(DialSecond());
        const std::size_t mark = Commands();
        HALVANE_STEP(ReturnToCaller());
        HALVANE_STEP(CommandSince("set call " + second_ + " status finished", mark));
        return CallerHangsUp();
      }
      case Cycle::kMissed:
      case Cycle::kDialWithoutHold:
        break;
    }
    return AssertionSuccess();
  };
  const AssertionResult played = run();
  options_.via = via;
  if (!played) return AssertionFailure() << CycleName(cycle) << ", at \"" << step_ << "\": " << played.message();
  return NoCallsLeft();
}

#undef HALVANE_STEP

TransferResult PlayAttendedTransfer(HalvaneProcess& halvane, sim::ClientEmulator& client,
                                    const TransferOptions& options) {
  TransferResult result;
  LogCursor log(halvane);
  CallScript play(halvane, client, log, options);
  const auto hook = [&](const char* step, const std::function<std::string()>& then) {
    return then ? play.Hook(step, then) : AssertionSuccess();
  };
  AssertionResult played = play.WaitingForCall();
  result.firstCommand = client.UnnumberedCommands().size();
  for (const auto& next : std::initializer_list<std::function<AssertionResult()>>{
           [&] { return play.RingAndAnswer(); }, [&] { return play.Hold(); },
           [&] { return hook("before the dial", options.beforeDial); }, [&] { return play.DialSecond(); },
           [&] { return hook("while the second call rings", options.whileSecondRings); },
           [&] { return play.SecondAnswers(); }, [&] { return play.Transfer(false); },
           [&] { return hook("during the conference", options.duringConference); },
           [&] { return play.ConferenceEnds(); }}) {
    if (!played) break;
    played = next();
  }
  result.completed = static_cast<bool>(played);
  if (!played) {
    result.failedStep = play.StepName();
    result.detail = played.message();
  }
  result.firstCall = play.FirstCall();
  result.secondCall = play.SecondCall();
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

std::vector<std::string> CycleCommands(const std::string& first, const std::string& second) {
  return {"#KALDU set AGC on", "#KALDU get call " + first + " partner_dispname",
          "#KALDU set call " + first + " status onhold", "#KALDU open contacts",
          "#KALDU get call " + second + " partner_dispname", "#KALDU set call " + first + " join_conference " + second,
          "#KALDU set AGC off", "#KALDU set call " + second + " status finished", "#KALDU set AGC on",
          "#KALDU minimize"};
}

}  // namespace halvane::e2e
