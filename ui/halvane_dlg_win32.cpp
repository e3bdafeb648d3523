#include "ui/halvane_dlg_win32.h"

#include <utility>

#include "engine/operator_requests.h"
#include "res/resource.h"
#include "ui/about_box_dlg_win32.h"
#include "ui/call_phases_win32.h"
#include "ui/main_window_rules.h"

namespace halvane {

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
      m_hMainIcon(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME))),
      m_closeRequestMessage(RegisterWindowMessageA(kCloseRequestMessageName)) {}

bool CHalvaneDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
  if (message == m_closeRequestMessage && m_closeRequestMessage != 0) {
    OnClose();
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
    case WM_DESTROY:
      // The keys and the property go with the window (the tray base then removes the icon).
      if (m_keys != nullptr) m_keys->Unregister();
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

  FillInstructions();

  // Written before the link thread exists, so the other threads always find it set.
  m_board.mainWindow.store(reinterpret_cast<WindowHandle>(m_hWnd));
  if (m_keys != nullptr && m_keyLog != nullptr) m_keys->Register(m_hWnd, *m_keyLog);

  if (!m_startLinkThread || !m_startLinkThread()) {
    MessageBoxA(m_hWnd, "Initialize skypeAnswerCall Thread failed!", "Message", MB_OK);
  }
  return TRUE;
}

void CHalvaneDlg::OnOK() { EndInOrder(IDOK); }
void CHalvaneDlg::OnCancel() { EndInOrder(IDCANCEL); }
void CHalvaneDlg::OnClose() { EndInOrder(IDCANCEL); }

void CHalvaneDlg::OnEndSession(bool ending) {
  if (ending) EndInOrder(IDCANCEL);
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
