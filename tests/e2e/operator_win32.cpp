#include "operator_win32.h"

#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstring>
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

}  // namespace

std::int64_t PerformanceCounter() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

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
  } else if (move != Move::kRing && move != Move::kAnswer && move != Move::kHangUp) {
    AwaitReaction();
  }
  moveMark_ = client_->Transcript().size();
  moveTicks_ = PerformanceCounter();
}

template <typename Predicate>
AssertionResult CallScript::Until(Predicate&& predicate, const std::string& what) {
  if (WaitUntil(predicate, kStepDeadline, what)) return AssertionSuccess();
  AssertionResult failed = AssertionFailure();
  failed << "gave up after " << kStepDeadline.count() << " ms waiting for " << what << "; buttons "
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
    AssertionResult seen = log_.Expect(line, kStepDeadline);
    if (!seen) return seen << "\n(Halvane " << (halvane_.Running() ? "running" : "ended") << ")";
  }
  return AssertionSuccess();
}

AssertionResult CallScript::Hook(const std::string& step, const std::function<std::string()>& hook) {
  if (!hook) return AssertionSuccess();
  Step(step);
  const std::string failure = hook();
  // Whatever the hook made Halvane write is the hook's: the next step reads on from here.
  log_.SkipToEnd();
  if (failure.empty()) return AssertionSuccess();
  return AssertionFailure() << failure;
}

std::string CallScript::Operate(int button) {
  const bool hold = button == kIdHold;
  const bool transfer = button == kIdTransfer;
  switch (button == kIdBlindTransfer ? Via::kButtons : options_.via) {
    case Via::kButtons:
      return halvane_.Press(button) ? "" : "the main window did not take the press";
    case Via::kTrayMenu:
      return halvane_.MenuCommand(hold ? kIdMenuHold : transfer ? kIdMenuTransfer : kIdMenuReturn)
                 ? ""
                 : "the main window did not take the tray menu's command";
    case Via::kPopupMenu:  // the popup's items in order: Hold, Return, Transfer
      return halvane_.UsePopupMenu(hold ? 1 : transfer ? 3 : 2);
    case Via::kKeys:
      return PressChord({VK_CONTROL, VK_MENU, static_cast<WORD>(hold ? 'H' : transfer ? 'T' : 'R')})
                 ? ""
                 : "the key chord could not be typed";
  }
  return "no way to operate";
}

std::string CallScript::Presses(const std::string& item) const {
  const char* via[] = {"", " in the tray menu", " in the popup menu", " with its key"};
  return "the operator presses " + item + via[static_cast<int>(options_.via)];
}

AssertionResult CallScript::Act(const std::string& name, Move move, const std::function<std::string()>& act,
                                const std::vector<std::string>& commands, std::initializer_list<const char*> lines) {
  Step(name);
  Before(move);
  const std::size_t mark = Commands();
  const std::string failure = act();
  if (!failure.empty()) return AssertionFailure() << failure;
  for (const std::string& command : commands) HALVANE_STEP(CommandSince(command, mark));
  return Logs(lines);
}

AssertionResult CallScript::WaitingForCall() {
  Step("Halvane waits for an incoming call");
  HALVANE_STEP(Until([&] { return client_->AttachedLink() != 0 && EndsWith(log_.Text(), logline::kWaitIncoming); },
                     "attached, and the session log ending in \"=>wait for incoming call\""));
  log_.SkipToEnd();
  return AssertionSuccess();
}

AssertionResult CallScript::Ring() {
  return Act("the incoming call from " + options_.caller + " rings", Move::kRing, [&] {
    first_ = client_->IncomingCall(options_.caller);
    return first_.empty() ? "the client did not make the incoming call" : "";
  }, {}, {logline::kRings});
}

AssertionResult CallScript::RingAndAnswer() {
  HALVANE_STEP(Ring());
  return Act("the operator answers call " + first_ + " in the client", Move::kAnswer,
             [&] { return client_->OperatorAnswers(first_) ? "" : "the client refused the answer"; }, {},
             {logline::kAnswer, logline::kWaitHold});
}

AssertionResult CallScript::Hold() {
  return Act(Presses("Hold"), Move::kHold, [&] { return Operate(kIdHold); },
             {"set call " + first_ + " status onhold", "open contacts"}, {logline::kHold, logline::kWaitSecondCall});
}

AssertionResult CallScript::DialSecond() {
  return Act("the operator dials " + options_.secondParty + " in the client", Move::kDial, [&] {
    second_ = client_->OperatorDials(options_.secondParty);
    return second_.empty() ? "the client did not place the second call" : "";
  }, {}, {logline::kWaitSecondResponse});
}

AssertionResult CallScript::SecondAnswers() {
  return Act(options_.secondParty + " answers call " + second_, Move::kFarEndAnswers,
             [&] { return client_->FarEndAnswers(second_) ? "" : "the client refused the far end's answer"; }, {},
             {logline::kWaitTransfer});
}

AssertionResult CallScript::SecondRefuses() {
  return Act(options_.secondParty + " refuses call " + second_, Move::kFarEndRefuses,
             [&] { return client_->FarEndRefuses(second_) ? "" : "the client could not refuse the call"; }, {},
             {logline::kWaitSecondCall});
}

AssertionResult CallScript::Joined(std::size_t commandMark) {
  HALVANE_STEP(CommandSince("set call " + first_ + " join_conference " + second_, commandMark));
  HALVANE_STEP(CommandSince("set AGC off", commandMark));
  // The whole pattern: the engine switches the three items one after another.
  HALVANE_STEP(Until([&] { return halvane_.ButtonPattern() == "Hold- Return- Transfer- Blind-"; },
                     "the conference's buttons (Transfer, Return and Blind Transfer disabled)"));
  HALVANE_STEP(Logs({logline::kTransferred}));
  // The two parties are talking once the client has resumed the held caller.
  return Until([&] { return client_->CallStatus(first_) == "INPROGRESS"; }, "the held caller resumed in the conference");
}

AssertionResult CallScript::Transfer(bool blind) {
  const std::size_t mark = Commands();
  HALVANE_STEP(Act(blind ? "the operator presses Blind Transfer" : Presses("Transfer"), Move::kTransfer,
                   [&] { return Operate(blind ? kIdBlindTransfer : kIdTransfer); }, {}, {}));
  return Joined(mark);
}

AssertionResult CallScript::BlindBeforeAnswer() {
  const std::size_t mark = Commands();
  HALVANE_STEP(Act("the operator presses Blind Transfer while " + second_ + " rings", Move::kTransfer,
                   [&] { return Operate(kIdBlindTransfer); }, {}, {}));
  HALVANE_STEP(Act(options_.secondParty + " answers call " + second_, Move::kFarEndAnswers,
                   [&] { return client_->FarEndAnswers(second_) ? "" : "the client refused the far end's answer"; },
                   {}, {}));
  return Joined(mark);
}

AssertionResult CallScript::HangsUp(const std::string& name, const std::string& call,
                                    const std::vector<std::string>& commands, std::initializer_list<const char*> lines) {
  return Act(name, Move::kHangUp,
             [&] { return client_->FarEndHangsUp(call) ? "" : "the client could not end call " + call; }, commands,
             lines);
}

AssertionResult CallScript::ConferenceEnds(bool callerLeaves) {
  HALVANE_STEP(HangsUp((callerLeaves ? options_.caller : options_.secondParty) + " hangs up; Halvane ends the conference",
                       callerLeaves ? first_ : second_,
                       {"set call " + (callerLeaves ? second_ : first_) + " status finished", "minimize"},
                       {logline::kFinished, logline::kWaitIncoming}));
  return Until([&] { return halvane_.ItemEnabled(kIdHold); }, "Hold enabled for the next call");
}

AssertionResult CallScript::ReturnToCaller() {
  return Act(Presses("Return"), Move::kReturn, [&] { return Operate(kIdReturn); },
             {"set call " + first_ + " status inprogress"}, {logline::kReturn, logline::kResume, logline::kWaitHold});
}

AssertionResult CallScript::CallerHangsUp() { return HangsUp(options_.caller + " hangs up", first_, {}, {logline::kWaitIncoming}); }

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
      HALVANE_STEP(Ring());
      return Act("the call rings out", Move::kHangUp,
                 [&] { return client_->Missed(first_) ? "" : "the client could not miss call " + first_; }, {},
                 {logline::kWaitIncoming});
    }
    HALVANE_STEP(RingAndAnswer());
    if (cycle != Cycle::kDialWithoutHold) HALVANE_STEP(Hold());
    switch (cycle) {
      case Cycle::kTransfer:
      case Cycle::kBlindTransfer:
      case Cycle::kDialWithoutHold:
        HALVANE_STEP(Hook("before the dial", options_.beforeDial));
        HALVANE_STEP(DialSecond());
        HALVANE_STEP(Hook("while the second call rings", options_.whileSecondRings));
        HALVANE_STEP(SecondAnswers());
        HALVANE_STEP(Transfer(cycle == Cycle::kBlindTransfer));
        HALVANE_STEP(Hook("during the conference", options_.duringConference));
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
        HALVANE_STEP(Act("the operator presses Transfer; the client refuses the join", Move::kTransfer,
                         [&] { return Operate(kIdTransfer); }, {}, {logline::kJoinRefused}));
        HALVANE_STEP(HangsUp(options_.secondParty + " hangs up", second_, {}, {logline::kWaitSecondCall}));
        HALVANE_STEP(ReturnToCaller());
        return CallerHangsUp();
      case Cycle::kCallerLeavesDial:
        HALVANE_STEP(DialSecond());
        return CallerHangsUp();
      case Cycle::kReturnWhileRings:
        HALVANE_STEP(DialSecond());
        HALVANE_STEP(Act(Presses("Return"), Move::kReturn, [&] { return Operate(kIdReturn); },
                         {"set call " + first_ + " status inprogress", "set call " + second_ + " status finished"},
                         {logline::kReturn, logline::kResume, logline::kWaitHold}));
        return CallerHangsUp();
      case Cycle::kMissed:
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

::testing::AssertionResult ClientReceives(const sim::ClientEmulator& client, const std::string& command) {
  return WaitUntil([&] { return CommandCount(client, command) > 0; }, kStepDeadline,
                   "the client to receive \"" + command + "\"");
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

namespace {

constexpr UINT kAnswerTimeoutMs = 2000;

void ListTree(const std::wstring& root, const std::wstring& relative, std::vector<std::string>& out) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((root + L"\\" + relative + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      out.push_back(Narrow(relative + name + L"\\"));
      ListTree(root, relative + name + L"\\", out);
    } else {
      out.push_back(Narrow(relative + name));
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

}  // namespace

// --- ScratchFolder ---------------------------------------------------------------------------------

ScratchFolder::ScratchFolder(const wchar_t* prefix) : path_(MakeWorkFolder(prefix)), output_(path_ + L".out") {
  ok_ = !path_.empty() && CreateDirectoryW((path_ + L"\\log").c_str(), nullptr) != 0;
}

ScratchFolder::~ScratchFolder() {
  if (path_.empty()) return;
  // In reverse order of the sorted listing a folder's entries come before the folder.
  const std::vector<std::string> tree = Tree();
  for (auto entry = tree.rbegin(); entry != tree.rend(); ++entry) {
    const std::wstring path = path_ + L"\\" + Widen(*entry);
    if (entry->back() == '\\') {
      RemoveDirectoryW(path.c_str());
    } else {
      DeleteFileW(path.c_str());
    }
  }
  RemoveDirectoryW(path_.c_str());
  DeleteFileW(output_.c_str());
}

std::vector<std::string> ScratchFolder::Tree() const {
  std::vector<std::string> tree;
  ListTree(path_, L"", tree);
  std::sort(tree.begin(), tree.end());
  return tree;
}

std::vector<std::string> OutsideLogFolder(const std::vector<std::string>& tree) {
  std::vector<std::string> outside;
  for (const std::string& entry : tree) {
    if (entry.rfind("log\\", 0) != 0) outside.push_back(entry);
  }
  return outside;
}

// --- The program -----------------------------------------------------------------------------------

::testing::AssertionResult Answers(const HalvaneProcess& halvane, sim::Hwnd linkWindow) {
  if (!halvane.Running()) return ::testing::AssertionFailure() << "Halvane.exe is no longer running";
  DWORD_PTR result = 0;
  if (SendMessageTimeoutW(halvane.MainWindow(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kAnswerTimeoutMs, &result) == 0) {
    return ::testing::AssertionFailure() << "the main window did not answer WM_NULL within " << kAnswerTimeoutMs
                                         << " ms";
  }
  if (linkWindow != 0 && SendMessageTimeoutW(reinterpret_cast<HWND>(linkWindow), WM_NULL, 0, 0, SMTO_ABORTIFHUNG,
                                             kAnswerTimeoutMs, &result) == 0) {
    return ::testing::AssertionFailure() << "the link window did not answer WM_NULL within " << kAnswerTimeoutMs
                                         << " ms";
  }
  return ::testing::AssertionSuccess();
}

std::string OutputOf(const ScratchFolder& folder) { return WithoutCr(ReadWholeFile(folder.OutputFile())); }

// --- Resources and the client's announcement ---------------------------------------------------------

namespace {

// The process's kernel handles counted in the system's handle table (SystemHandleInformation), which
// Wine's server keeps although GetProcessHandleCount reads 0 there; 0 when the table cannot be read.
DWORD HandlesInSystemTable(DWORD processId) {
  struct Entry {
    USHORT process, creatorBackTrace;
    UCHAR type, attributes;
    USHORT handle;
    PVOID object;
    ULONG access;
  };
  using Query = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
  const auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  if (query == nullptr) return 0;
  std::vector<unsigned char> table(1 << 20);
  for (int tries = 0; tries < 8; ++tries, table.resize(table.size() * 2)) {
    ULONG needed = 0;
    const LONG status = query(16, table.data(), static_cast<ULONG>(table.size()), &needed);
    if (status == static_cast<LONG>(0xC0000004)) continue;  // the table grew: a larger buffer
    if (status < 0) return 0;
    ULONG count = 0;
    std::memcpy(&count, table.data(), sizeof count);
    const std::size_t first = sizeof(ULONG_PTR);  // the count, padded to the entries' alignment
    if (first + std::size_t{count} * sizeof(Entry) > table.size()) return 0;
    DWORD mine = 0;
    for (ULONG i = 0; i < count; ++i) {
      Entry entry;
      std::memcpy(&entry, table.data() + first + i * sizeof(Entry), sizeof entry);
      mine += entry.process == static_cast<USHORT>(processId) ? 1 : 0;
    }
    return mine;
  }
  return 0;
}

// The process's live GDI objects counted in its GDI handle table, which Wine keeps inside the process
// (the PEB's GdiSharedHandleTable) although GetGuiResources reads 0 there. An entry is 24 bytes on
// either word size; its type byte, at offset 14, is 0 when the entry is free; its owner at offset 8 is
// the process or 0. Entries are taken in order, so the reading stops at the first block never used:
// reading the whole table would bring its untouched pages into the process's memory. 0 when the table
// cannot be read.
DWORD GdiObjectsInHandleTable(HANDLE process, DWORD processId) {
  struct BasicInformation {
    PVOID exitStatus, peb, affinity, priority;
    ULONG_PTR id, parentId;
  };
  using Query = LONG(WINAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
  const auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
  BasicInformation basic{};
  if (query == nullptr || query(process, 0, &basic, sizeof basic, nullptr) < 0) return 0;
  constexpr std::size_t kTableInPeb = sizeof(void*) == 8 ? 0xF8 : 0x94;
  constexpr std::size_t kEntries = 0x10000;
  constexpr std::size_t kEntrySize = 24;
  constexpr std::size_t kBlock = 128;  // entries read at a time
  unsigned char* table = nullptr;
  if (ReadProcessMemory(process, static_cast<unsigned char*>(basic.peb) + kTableInPeb, &table, sizeof table,
                        nullptr) == 0 ||
      table == nullptr) {
    return 0;
  }
  DWORD live = 0;
  std::vector<unsigned char> block(kBlock * kEntrySize);
  for (std::size_t first = 0; first < kEntries; first += kBlock) {
    if (ReadProcessMemory(process, table + first * kEntrySize, block.data(), block.size(), nullptr) == 0) return 0;
    if (std::all_of(block.begin(), block.end(), [](unsigned char byte) { return byte == 0; }) && first > 0) break;
    for (std::size_t at = 0; at < block.size(); at += kEntrySize) {
      USHORT owner = 0;
      std::memcpy(&owner, &block[at + 8], sizeof owner);
      live += block[at + 14] != 0 && (owner == 0 || owner == static_cast<USHORT>(processId)) ? 1 : 0;
    }
  }
  return live;
}

// The process's windows, top-level, message-only and their children: the USER objects that Wine lets
// another process count.
DWORD WindowsOf(DWORD processId) {
  struct Count {
    DWORD processId;
    DWORD windows;
    static BOOL CALLBACK One(HWND window, LPARAM param) {
      auto* count = reinterpret_cast<Count*>(param);
      DWORD owner = 0;
      GetWindowThreadProcessId(window, &owner);
      if (owner == count->processId) ++count->windows;
      return TRUE;
    }
    static BOOL CALLBACK WithChildren(HWND window, LPARAM param) {
      One(window, param);
      EnumChildWindows(window, One, param);
      return TRUE;
    }
  } count{processId, 0};
  EnumWindows(Count::WithChildren, reinterpret_cast<LPARAM>(&count));
  for (HWND window = FindWindowExW(HWND_MESSAGE, nullptr, nullptr, nullptr); window != nullptr;
       window = FindWindowExW(HWND_MESSAGE, window, nullptr, nullptr)) {
    Count::WithChildren(window, reinterpret_cast<LPARAM>(&count));
  }
  return count.windows;
}

}  // namespace

ResourceSample SampleResources(DWORD processId) {
  ResourceSample sample;
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
  if (process == nullptr) return sample;
  PROCESS_MEMORY_COUNTERS_EX memory{};
  memory.cb = sizeof memory;
  const bool handles = GetProcessHandleCount(process, &sample.handles) != 0;
  if (handles && sample.handles == 0) sample.handles = HandlesInSystemTable(processId);
  const bool counted =
      GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory) != 0;
  sample.gdiObjects = GetGuiResources(process, GR_GDIOBJECTS);
  sample.userObjects = GetGuiResources(process, GR_USEROBJECTS);
  if (sample.gdiObjects == 0) sample.gdiObjects = GdiObjectsInHandleTable(process, processId);
  if (sample.userObjects == 0) {
    sample.userObjects = WindowsOf(processId);
    sample.windowsOnly = true;
  }
  sample.privateBytes = memory.PrivateUsage != 0 ? memory.PrivateUsage : memory.PagefileUsage;
  sample.workingSet = memory.WorkingSetSize;
  sample.ok = handles && counted;
  CloseHandle(process);
  return sample;
}

namespace {

// A /proc file reads as empty to a size query: read until the end.
std::string ReadProcFile(const std::wstring& path) { return ReadWholeFile(L"Z:\\proc\\" + path); }

// The value of NAME in a /proc environ text (NUL-separated NAME=value entries); empty when absent.
std::string EnvironValue(const std::string& block, const std::string& name) {
  const std::string key = name + "=";
  for (std::size_t at = 0; at < block.size();) {
    const std::size_t end = std::min(block.find('\0', at), block.size());
    if (block.compare(at, key.size(), key) == 0) return block.substr(at + key.size(), end - at - key.size());
    at = end + 1;
  }
  return std::string();
}

// The file name of a /proc cmdline's first argument, lower case: Wine shows a Windows or a Unix path.
std::string ProgramName(const std::string& cmdline) {
  std::string first = cmdline.substr(0, cmdline.find('\0'));
  first = first.substr(first.find_last_of("/\\") == std::string::npos ? 0 : first.find_last_of("/\\") + 1);
  for (char& c : first) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return first;
}

}  // namespace

HostSample SampleHostProcess(const std::string& program) {
  HostSample sample;
  const std::string prefix = EnvironValue(ReadProcFile(L"self\\environ"), "WINEPREFIX");
  if (prefix.empty()) {
    sample.error = "no WINEPREFIX in /proc/self/environ (not under Wine, or no /proc)";
    return sample;
  }
  std::string wanted = program;
  for (char& c : wanted) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::vector<long long> found;
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileW(L"Z:\\proc\\*", &entry);
  if (search == INVALID_HANDLE_VALUE) {
    sample.error = "Z:\\proc cannot be listed";
    return sample;
  }
  do {
    const std::wstring name = entry.cFileName;
    if (name.empty() || name.find_first_not_of(L"0123456789") != std::wstring::npos) continue;
    if (ProgramName(ReadProcFile(name + L"\\cmdline")) != wanted) continue;
    if (EnvironValue(ReadProcFile(name + L"\\environ"), "WINEPREFIX") != prefix) continue;
    found.push_back(std::stoll(std::string(name.begin(), name.end())));
  } while (FindNextFileW(search, &entry));
  FindClose(search);
  if (found.size() != 1) {
    sample.error = std::to_string(found.size()) + " processes named " + program + " in the prefix " + prefix;
    return sample;
  }
  sample.pid = found[0];
  const std::wstring pid = std::to_wstring(sample.pid);
  // One fdinfo entry per open descriptor; fdinfo entries are plain files, where fd entries are links.
  std::vector<std::string> descriptors;
  ListTree(L"Z:\\proc\\" + pid + L"\\fdinfo", L"", descriptors);
  sample.descriptors = descriptors.size();
  const std::string& status = sample.status = ReadProcFile(pid + L"\\status");
  const std::size_t rss = status.find("RssAnon:");
  if (sample.descriptors == 0 || rss == std::string::npos) {
    sample.error = "/proc/" + std::to_string(sample.pid) + " gave no descriptors or no RssAnon";
    return sample;
  }
  sample.anonymousBytes = static_cast<std::size_t>(std::strtoull(status.c_str() + rss + 8, nullptr, 10)) * 1024;
  sample.ok = true;
  return sample;
}

bool AnnounceClient(sim::Hwnd apiWindow) {
  const UINT attach = RegisterWindowMessageW(L"SkypeControlAPIAttach");
  DWORD_PTR result = 0;
  return attach != 0 && SendMessageTimeoutW(HWND_BROADCAST, attach, static_cast<WPARAM>(apiWindow),
                                            static_cast<LPARAM>(sim::kAttachAvailable), SMTO_ABORTIFHUNG, 2000,
                                            &result) != 0;
}

}  // namespace halvane::e2e
