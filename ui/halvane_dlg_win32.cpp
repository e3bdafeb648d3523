#include "ui/halvane_dlg_win32.h"

#include <utility>

#include "engine/operator_requests.h"
#include "res/resource.h"
#include "ui/about_box_dlg_win32.h"
#include "ui/call_phases_win32.h"
#include "ui/main_window_rules.h"

namespace halvane {
namespace {

constexpr UINT kFlashTickMs = 500;
// Eight changes of picture: the icon blinks four times, then shows the hold picture again.
constexpr unsigned kFlashChanges = 8;
// Notices that wait for the start-up hide; more are dropped.
constexpr std::size_t kMaxNoticesBeforeHide = 8;

// The main window whose keyboard input is dropped while it is hidden: one per program, on the thread
// that runs the dialog manager's loop for it.
HWND g_keyFilterWindow = nullptr;

}  // namespace

static_assert(IDC_INSTRUCTIONS == kIdInstructions && IDC_HOLD == kIdHold && IDC_TRANSFER == kIdTransfer &&
                  IDC_RETURN == kIdReturn && IDC_BLIND_TRANSFER == kIdBlindTransfer,
              "the template's items are the ones the engine switches");
static_assert(ID_OPTION_HOLD == kIdMenuHold && ID_OPTION_RETURN == kIdMenuReturn &&
                  ID_OPTION_TRANSFER == kIdMenuTransfer && IDM_ABOUTBOX == kIdAbout,
              "the tray menu's and system menu's commands");

CHalvaneDlg::CHalvaneDlg(CallBoard& board, DialogItems& items, LinkThreadStarter startLinkThread, HWND parent)
    : CTrayIconDlg(IDD_HALVANE_DIALOG, parent, &board),
      m_board(board),
      m_items(items),
      m_startLinkThread(std::move(startLinkThread)),
      // Each size loaded by itself, not from the shared cache (see SetWindowIcons).
      m_hMainIcon(static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON,
                                                GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0))),
      m_closeRequestMessage(RegisterWindowMessageA(kCloseRequestMessageName)) {}

CHalvaneDlg::~CHalvaneDlg() {
  if (m_hMainIcon != nullptr) DestroyIcon(m_hMainIcon);
  if (m_hSmallIcon != nullptr) DestroyIcon(m_hSmallIcon);
}

void CHalvaneDlg::UseNotices(TrayNotices& notices, const NoticeSettings& settings) {
  m_notices = &notices;
  m_reminder = HoldReminder(static_cast<std::uint64_t>(settings.holdReminderSeconds) * 1000);
  m_noticeReports = settings.reports;
}

bool CHalvaneDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
  if (message == m_closeRequestMessage && m_closeRequestMessage != 0) {
    // The answer of a sent message to a dialog is its DWLP_MSGRESULT.
    SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, OnCloseRequest());
    result = TRUE;
    return true;
  }
  switch (message) {
    case WM_CLOSE:
      OnClose();
      result = TRUE;
      return true;
    case WM_ENDSESSION:
      OnEndSession(wParam != FALSE);
      result = 0;
      return true;
    case WM_SYSCOMMAND:
      result = TRUE;
      return OnSysCommand(static_cast<UINT>(wParam), lParam);
    case WM_PAINT:
      result = TRUE;
      return OnPaint();
    case WM_QUERYDRAGICON:
      // One of the few messages whose answer is the dialog procedure's own return value.
      result = reinterpret_cast<INT_PTR>(m_hMainIcon);
      return true;
    case WM_COMMAND:
      if (IsStrayKeyWhileHidden(wParam, lParam)) {
        result = TRUE;
        return true;
      }
      if (OnCommand(LOWORD(wParam))) {
        result = TRUE;
        return true;
      }
      break;
    case WM_HOTKEY:
      OnOperatorKey(wParam);
      result = TRUE;
      return true;
    case kPhaseChangedMessage:
      OnPhaseChanged(wParam);
      result = TRUE;
      return true;
    case kNoticeMessage:
      OnNotices();
      result = TRUE;
      return true;
    case WM_SHOWWINDOW:
      // The notices held back at start are shown once the start-up hide has happened.
      if (wParam == FALSE && !m_bHiddenOnce) {
        m_bHiddenOnce = true;
        PostMessageA(m_hWnd, kNoticeMessage, 0, 0);
      }
      break;
    case WM_TIMER:
      if (wParam == OperatorKeys::kRetryTimer || wParam == kReminderTimer || wParam == kFlashTimer ||
          wParam == kReturnTimer || wParam == kAttachTimer) {
        if (wParam == OperatorKeys::kRetryTimer && m_keys != nullptr) m_keys->OnRetryTimer();
        if (wParam == kReminderTimer) OnReminderTick();
        if (wParam == kFlashTimer) OnFlashTick();
        if (wParam == kReturnTimer) OnReturnTick();
        if (wParam == kAttachTimer) OnAttachTick();
        result = TRUE;
        return true;
      }
      break;
    case WM_DESTROY:
      // The keys, the keyboard filter and the property go with the window (the tray base then removes
      // the icon).
      if (m_keys != nullptr) m_keys->Unregister();
      if (m_keyFilter != nullptr) UnhookWindowsHookEx(m_keyFilter);
      m_keyFilter = nullptr;
      g_keyFilterWindow = nullptr;
      KillTimer(m_hWnd, kReminderTimer);
      KillTimer(m_hWnd, kFlashTimer);
      KillTimer(m_hWnd, kReturnTimer);
      KillTimer(m_hWnd, kAttachTimer);
      RemovePropA(m_hWnd, kTrayIconProperty);
      break;
    default:
      break;
  }
  return CTrayIconDlg::OnMessage(message, wParam, lParam, result);
}

BOOL CHalvaneDlg::OnInitDialog() {
  CTrayIconDlg::OnInitDialog();
  CentreOver(nullptr);

  HMENU systemMenu = GetSystemMenu(m_hWnd, FALSE);
  if (systemMenu != nullptr) {
    char about[128] = "";
    LoadStringA(GetModuleHandleA(nullptr), IDS_ABOUTBOX, about, static_cast<int>(sizeof about));
    if (about[0] != '\0') {
      AppendMenuA(systemMenu, MF_SEPARATOR, 0, nullptr);
      AppendMenuA(systemMenu, MF_STRING, IDM_ABOUTBOX, about);
    }
  }

  SetWindowIcons();

  AssignIcon(IDR_MAINFRAME);
  AssignTip("Halvane");
  AssignMenu(IDR_TRAY_MENU, 0);
  AddIconOrRetry();
  SetTimer(m_hWnd, kAttachTimer, kAttachTickMs, nullptr);

  FillInstructions();

  // An elevated copy still hears the shell's restart and a newer copy's close request.
  ChangeWindowMessageFilterEx(m_hWnd, RegisterWindowMessageA("TaskbarCreated"), MSGFLT_ALLOW, nullptr);
  ChangeWindowMessageFilterEx(m_hWnd, m_closeRequestMessage, MSGFLT_ALLOW, nullptr);

  // The hidden window takes no keys: after the tray menu it can stay the active window, and a stray
  // Tab and Space would otherwise press Hold or Return.
  g_keyFilterWindow = m_hWnd;
  m_keyFilter = SetWindowsHookExA(WH_MSGFILTER, &CHalvaneDlg::HiddenKeyFilter, nullptr, GetCurrentThreadId());

  // Written before the link thread exists, so the other threads always find it set.
  m_board.mainWindow.store(reinterpret_cast<WindowHandle>(m_hWnd));
  // A mistake in the notices' own settings is not told as a notice: those settings are in doubt.
  if (m_keyLog != nullptr) {
    for (const std::string& report : m_noticeReports) ReportSetupProblem(report, *m_keyLog, NoNotices());
  }
  if (m_keys != nullptr && m_keyLog != nullptr) {
    m_keys->Register(m_hWnd, *m_keyLog, m_notices != nullptr ? static_cast<Notices&>(*m_notices) : NoNotices());
  }

  if (!m_startLinkThread || !m_startLinkThread()) {
    MessageBoxA(m_hWnd, "Initialize skypeAnswerCall Thread failed!", "Message", MB_OK);
  }
  return TRUE;
}

LRESULT CALLBACK CHalvaneDlg::HiddenKeyFilter(int code, WPARAM wParam, LPARAM lParam) {
  const MSG* message = reinterpret_cast<const MSG*>(lParam);
  const HWND window = g_keyFilterWindow;
  if (code == MSGF_DIALOGBOX && message != nullptr && window != nullptr && message->message >= WM_KEYFIRST &&
      message->message <= WM_KEYLAST && !IsWindowVisible(window) &&
      (message->hwnd == window || IsChild(window, message->hwnd))) {
    return TRUE;
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

namespace {
// A call ringing counts as a call: the operator is about to take it in this copy.
bool AnyCallRings(const CallTable& calls) {
  for (const std::string& id : calls.Ids()) {
    if (calls.StatusOf(id) == "RINGING") return true;
  }
  return false;
}
}  // namespace

LRESULT CHalvaneDlg::OnCloseRequest() {
  if (m_phase == CallPhase::kAtRest && !AnyCallRings(m_board.calls)) {
    // Ended from the dialog's own loop, so the newer copy's wait is not spent in this handler.
    PostMessageA(m_hWnd, WM_CLOSE, 0, 0);
    return kCloseAccepted;
  }
  // In the middle of a call the operator keeps this copy, and sees it.
  ShowFromIcon();
  return kCloseDeclined;
}

void CHalvaneDlg::ShowFromIcon() {
  KillTimer(m_hWnd, kFlashTimer);
  m_flashesLeft = 0;
  // When the icon cannot be removed the window stays reachable through it.
  if (RestoreFromIcon() || IsWindowVisible(m_hWnd)) SetForegroundWindow(m_hWnd);
}

void CHalvaneDlg::OnNotices() {
  std::vector<std::pair<Notice, std::string>> notices;
  notices.swap(m_noticesBeforeHide);
  if (m_notices != nullptr) {
    for (auto& notice : m_notices->Take()) notices.push_back(std::move(notice));
  }
  for (const auto& notice : notices) {
    if (!m_bHiddenOnce) {
      if (m_noticesBeforeHide.size() < kMaxNoticesBeforeHide) m_noticesBeforeHide.push_back(notice);
      continue;
    }
    if (IsWindowVisible(m_hWnd)) continue;
    // The engine does not know the names: the party is the one the tooltip last showed.
    std::string detail = notice.second;
    if (detail.empty() && notice.first == Notice::kHeldCallerHungUp) detail = m_callerName;
    if (detail.empty() && notice.first == Notice::kDialUnanswered) detail = m_secondName;
    const NoticeText text = FormatNotice(notice.first, detail.c_str());
    ShowBalloon(text.title.c_str(), text.text.c_str());
  }
}

void CHalvaneDlg::OnAttachTick() {
  const bool attached = m_board.apiWindow.load() != 0;
  if (attached == m_attached) return;
  m_attached = attached;
  ShowPicture(attached ? IDI_PHASE_REST + static_cast<UINT>(m_phase) : IDR_MAINFRAME);
}

void CHalvaneDlg::OnReminderTick() {
  // The tooltip's hold time is kept current while the caller waits.
  ShowCallTip();
  ModifyIcon();
  if (!m_reminder.Tick(GetTickCount64(), m_board.transferAllowed.load())) return;
  const CallParties parties = Parties();
  const std::string waited = parties.caller + " has been on hold " + HoldTimeText(parties.heldMs);
  if (m_notices != nullptr) m_notices->Notify(Notice::kHoldReminder, waited.c_str());
  m_flashesLeft = kFlashChanges;
  SetTimer(m_hWnd, kFlashTimer, kFlashTickMs, nullptr);
}

void CHalvaneDlg::OnFlashTick() {
  if (m_flashesLeft == 0 || m_phase != CallPhase::kCallerOnHold) {
    KillTimer(m_hWnd, kFlashTimer);
    m_flashesLeft = 0;
    return;
  }
  --m_flashesLeft;
  // Odd counts show the plain program icon, even ones the hold picture, ending on the hold picture.
  AssignIcon(m_flashesLeft % 2 == 1 ? IDR_MAINFRAME : IDI_PHASE_HOLD);
  ModifyIcon();
}

void CHalvaneDlg::OnOK() { AskThenEnd(IDOK); }
void CHalvaneDlg::OnCancel() { AskThenEnd(IDCANCEL); }
void CHalvaneDlg::OnClose() { AskThenEnd(IDCANCEL); }

void CHalvaneDlg::AskThenEnd(INT_PTR result) {
  if (m_phase != CallPhase::kCallerOnHold || m_bEnding) {
    EndInOrder(result);
    return;
  }
  // Ending now would leave the caller on hold in the client, forgotten.
  if (m_bReturningToEnd || m_bAsking) return;
  m_bAsking = true;
  const int answer = MessageBoxA(m_hWnd, kCloseOnHoldQuestion, "Halvane", MB_YESNO | MB_ICONQUESTION);
  m_bAsking = false;
  if (answer != IDYES || m_bEnding) return;
  if (m_phase != CallPhase::kCallerOnHold) {  // the hold ended while the question was up
    EndInOrder(result);
    return;
  }
  // What Return does; the window ends once the engine has the caller back, or at the bound.
  halvane::OnReturn(m_board);
  m_bReturningToEnd = true;
  m_endResult = result;
  m_returnDeadline = GetTickCount64() + kReturnBeforeEndMs;
  SetTimer(m_hWnd, kReturnTimer, kReturnPollMs, nullptr);
}

void CHalvaneDlg::OnReturnTick() {
  if (m_phase == CallPhase::kCallerOnHold && GetTickCount64() < m_returnDeadline) return;
  KillTimer(m_hWnd, kReturnTimer);
  EndInOrder(m_endResult);
}

void CHalvaneDlg::OnEndSession(bool ending) {
  if (!ending) return;
  if (m_phase == CallPhase::kCallerOnHold && !m_bEnding) {
    // The process may go as soon as this returns: Return, then wait for the caller to be back, within
    // the few seconds Windows gives a program here. Only the phase messages are taken meanwhile.
    halvane::OnReturn(m_board);
    const ULONGLONG deadline = GetTickCount64() + kReturnAtSessionEndMs;
    while (m_phase == CallPhase::kCallerOnHold && GetTickCount64() < deadline) {
      MSG message;
      while (PeekMessageA(&message, m_hWnd, kPhaseChangedMessage, kPhaseChangedMessage, PM_REMOVE)) {
        OnPhaseChanged(message.wParam);
      }
      if (m_phase == CallPhase::kCallerOnHold) MsgWaitForMultipleObjects(0, nullptr, FALSE, kReturnPollMs, QS_POSTMESSAGE);
    }
  }
  EndInOrder(IDCANCEL);
}

bool CHalvaneDlg::IsStrayKeyWhileHidden(WPARAM wParam, LPARAM lParam) const {
  const UINT id = LOWORD(wParam);
  if (id != IDOK && id != IDCANCEL) return false;
  const bool fromKeys = HIWORD(wParam) == 1 || lParam != 0;
  return fromKeys && !IsWindowVisible(m_hWnd);
}

void CHalvaneDlg::EndInOrder(INT_PTR result) {
  if (!m_bEnding) {
    m_bEnding = true;
    // Closing during a conference would otherwise leave the speakers muted and the microphone at 0.
    if (m_restoreSound) m_restoreSound();
  }
  EndDialog(m_hWnd, result);
}

void CHalvaneDlg::FillInstructions() {
  SendDlgItemMessageA(m_hWnd, IDC_INSTRUCTIONS, LB_RESETCONTENT, 0, 0);
  for (const char* line : kInstructionLines) {
    SendDlgItemMessageA(m_hWnd, IDC_INSTRUCTIONS, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
  }
}

bool CHalvaneDlg::OnSysCommand(UINT commandId, LPARAM argument) {
  if (IsAboutCommand(commandId)) {
    CAboutBoxDlg about(nullptr, m_hWnd);
    about.DoModal();
    return true;
  }
  // No hidden system menu can be clicked: a close command now is a stray Alt+F4.
  if ((commandId & 0xFFF0) == SC_CLOSE && !IsWindowVisible(m_hWnd)) return true;
  return CTrayIconDlg::OnSysCommand(commandId, argument);
}

bool CHalvaneDlg::OnPaint() {
  if (!IsIconic(m_hWnd)) return false;
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(m_hWnd, &paint);
  SendMessageA(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client{};
  GetClientRect(m_hWnd, &client);
  const Point at = CenteredIconOrigin(client.right - client.left, client.bottom - client.top,
                                      GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON));
  DrawIcon(dc, at.x, at.y, m_hMainIcon);
  EndPaint(m_hWnd, &paint);
  return true;
}

bool CHalvaneDlg::OnCommand(UINT id) {
  switch (id) {
    case IDC_HOLD:
    case ID_OPTION_HOLD: OnHold(); return true;
    case IDC_TRANSFER:
    case ID_OPTION_TRANSFER: OnTransfer(); return true;
    case IDC_RETURN:
    case ID_OPTION_RETURN: OnReturn(); return true;
    case IDC_BLIND_TRANSFER: OnBlindTransfer(); return true;
    default: return false;
  }
}

void CHalvaneDlg::OnHold() { halvane::OnHold(m_board, m_items); }
void CHalvaneDlg::OnTransfer() { halvane::OnTransfer(m_board); }
void CHalvaneDlg::OnReturn() { halvane::OnReturn(m_board); }
void CHalvaneDlg::OnBlindTransfer() { halvane::OnBlindTransfer(m_board); }

}  // namespace halvane
