#include "ui/tray_icon_dlg_win32.h"

#include <string>

#include "ui/main_window_rules.h"

namespace halvane {
namespace {

// Restoring waits this long so that the button's release lands on the icon, not on the window.
constexpr DWORD kRestoreDelayMs = 500;

// The timer that tries the icon again after the shell refused it.
constexpr UINT_PTR kIconRetryTimer = 1;

// The tooltip keeps the first form's 64 bytes; the record is the second form, which adds the balloon.
constexpr std::size_t kFirstFormTipSize = 64;
static_assert(kFirstFormTipSize == kTrayTipSize, "the tooltip rule and the record agree");
static_assert(sizeof(void*) != 4 || NOTIFYICONDATAA_V2_SIZE == 488, "the second form is 488 bytes on 32-bit Windows");

// In a double-byte code page the tooltip must not end in half a character.
bool IsLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; }

}  // namespace

CTrayIconDlg::CTrayIconDlg(UINT templateId, HWND parent, const CallBoard* board)
    : CDialog(templateId, parent),
      m_board(board),
      m_taskbarCreatedMessage(RegisterWindowMessageA("TaskbarCreated")) {
  m_iconData.cbSize = NOTIFYICONDATAA_V2_SIZE;
  m_iconData.hWnd = nullptr;
  m_iconData.uID = static_cast<UINT>(kTrayIconId);
  m_iconData.uFlags = NIF_MESSAGE;
  m_iconData.uCallbackMessage = kTrayCallbackMessage;
}

CTrayIconDlg::~CTrayIconDlg() {
  if (m_trayMenu != nullptr) DestroyMenu(m_trayMenu);
  if (m_ownIcon != nullptr) DestroyIcon(m_ownIcon);
}

void CTrayIconDlg::AssignIcon(UINT resourceId) {
  // The notification area shows small icons: the resource's own small image, not a scaled large one.
  // Not from the shared cache, which on Windows answers with the first size loaded whatever is asked.
  HICON icon = static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(LOWORD(resourceId)), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
  if (icon == nullptr) return;
  // The shell keeps its own copy of a shown icon, so the old image can go at once.
  if (m_ownIcon != nullptr) DestroyIcon(m_ownIcon);
  m_ownIcon = icon;
  m_iconData.hIcon = icon;
  m_iconData.uFlags |= NIF_ICON;
}

BOOL CTrayIconDlg::ShowBalloon(const char* title, const char* text) {
  if (!m_bIconShown) return FALSE;
  // Sent once with NIF_INFO alone; the record itself never carries it, so later modifies show nothing.
  NOTIFYICONDATAA balloon = m_iconData;
  balloon.uFlags = NIF_INFO;
  CopyBounded(balloon.szInfo, sizeof balloon.szInfo, text != nullptr ? text : "");
  CopyBounded(balloon.szInfoTitle, sizeof balloon.szInfoTitle, title != nullptr ? title : "");
  balloon.dwInfoFlags = NIIF_INFO | NIIF_NOSOUND;
  m_lastBalloon = balloon;
  return Shell_NotifyIconA(NIM_MODIFY, &balloon);
}

void CTrayIconDlg::AssignTip(const char* text) {
  CopyBounded(m_iconData.szTip, kFirstFormTipSize, text != nullptr ? text : "");
  m_iconData.uFlags |= NIF_TIP;
}

void CTrayIconDlg::AssignMenu(UINT resourceId, UINT /*defaultPosition*/) {
  // The default item is always m_nDefaultItem; the position given here is not kept.
  HMENU menu = LoadMenuA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(LOWORD(resourceId)));
  if (menu == nullptr) return;
  if (m_trayMenu != nullptr) DestroyMenu(m_trayMenu);
  m_trayMenu = menu;
}

BOOL CTrayIconDlg::AddIcon() {
  if (m_bIconShown) return FALSE;
  const BOOL added = Shell_NotifyIconA(NIM_ADD, &m_iconData);
  if (added) m_bIconShown = TRUE;
  return added;
}

BOOL CTrayIconDlg::RemoveIcon() {
  if (!m_bIconShown) return FALSE;
  const BOOL removed = Shell_NotifyIconA(NIM_DELETE, &m_iconData);
  if (removed) m_bIconShown = FALSE;
  return removed;
}

BOOL CTrayIconDlg::ModifyIcon() {
  if (!m_bIconShown) return FALSE;
  return Shell_NotifyIconA(NIM_MODIFY, &m_iconData);
}

bool CTrayIconDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
  if (message == m_taskbarCreatedMessage && m_taskbarCreatedMessage != 0) {
    OnTaskbarCreated();
    return false;
  }
  switch (message) {
    case WM_DESTROY:
      OnDestroy();
      return false;
    case WM_SYSCOMMAND:
      result = TRUE;
      return OnSysCommand(static_cast<UINT>(wParam), lParam);
    case kHideRequestMessage:
      OnHideRequest();
      result = TRUE;
      return true;
    case WM_WINDOWPOSCHANGING:
      OnWindowPosChanging(*reinterpret_cast<WINDOWPOS*>(lParam));
      return false;
    case kTrayCallbackMessage:
      OnIconNotify(wParam, lParam);
      result = TRUE;
      return true;
    case WM_TIMER:
      if (wParam != kIconRetryTimer) return CDialog::OnMessage(message, wParam, lParam, result);
      OnIconRetry();
      result = TRUE;
      return true;
    default:
      return CDialog::OnMessage(message, wParam, lParam, result);
  }
}

void CTrayIconDlg::OnCreate() {
  m_iconData.uID = static_cast<UINT>(kTrayIconId);
  m_iconData.hWnd = m_hWnd;
}

void CTrayIconDlg::OnDestroy() {
  if (m_iconData.hWnd != nullptr && m_iconData.uID > 0 && IsIconShown()) {
    Shell_NotifyIconA(NIM_DELETE, &m_iconData);
  }
}

void CTrayIconDlg::OnHideRequest() {
  m_bHideRequested = true;
  HideIfReachable();
}

bool CTrayIconDlg::MayStayHidden() const { return m_bHideRequested && (m_bIconShown || !m_bIconWanted); }

void CTrayIconDlg::HideIfReachable() {
  // Without an icon a hidden window could not be brought back; it stays up until the icon exists.
  if (MayStayHidden()) ShowWindow(m_hWnd, SW_HIDE);
}

void CTrayIconDlg::AddIconOrRetry() {
  m_bIconWanted = true;
  if (AddIcon() || m_bIconShown) {
    KillTimer(m_hWnd, kIconRetryTimer);
    m_iconRetries = 0;
    HideIfReachable();
    return;
  }
  ++m_iconRetries;
  SetTimer(m_hWnd, kIconRetryTimer, IconRetryDelayMs(m_iconRetries), nullptr);
  // Until the icon takes, the window is the only way back in.
  if (!IsWindowVisible(m_hWnd)) ShowWindow(m_hWnd, SW_SHOW);
}

void CTrayIconDlg::OnIconRetry() {
  KillTimer(m_hWnd, kIconRetryTimer);
  AddIconOrRetry();
}

void CTrayIconDlg::OnWindowPosChanging(WINDOWPOS& position) {
  // A modal dialog is shown when its message queue first runs empty, which may come after a hide
  // request from another thread; that show must not undo the request.
  if (MayStayHidden()) position.flags &= ~static_cast<UINT>(SWP_SHOWWINDOW);
}

void CTrayIconDlg::OnTaskbarCreated() {
  if (!m_bIconWanted) return;
  const bool reachableOnlyByIcon = !IsWindowVisible(m_hWnd) || m_bHideRequested;
  if (!m_bIconShown && !reachableOnlyByIcon) return;
  // The new shell has none of the old icons.
  m_bIconShown = FALSE;
  AddIconOrRetry();
}

bool CTrayIconDlg::OnSysCommand(UINT commandId, LPARAM /*argument*/) {
  if (!m_bHideOnMinimize || !IsMinimizeCommand(commandId)) return false;
  AddIconOrRetry();
  // With no icon to come back through, an ordinary minimise keeps the taskbar button.
  if (!m_bIconShown) return false;
  ShowWindow(m_hWnd, SW_HIDE);
  return true;
}

void CTrayIconDlg::OnIconNotify(WPARAM wParam, LPARAM lParam) {
  const TrayReaction reaction = ClassifyIconNotify(wParam, lParam);
  if (reaction == TrayReaction::kNone) return;
  POINT point{};
  GetCursorPos(&point);
  switch (reaction) {
    case TrayReaction::kLeftDown: OnIconLeftDown(point); break;
    case TrayReaction::kLeftDouble: OnIconLeftDouble(point); break;
    case TrayReaction::kRightDown: OnIconRightDown(point); break;
    case TrayReaction::kRightDouble: OnIconRightDouble(point); break;
    case TrayReaction::kPointerMove: OnIconPointerMove(point); break;
    case TrayReaction::kNone: break;
  }
}

void CTrayIconDlg::OnIconLeftDown(POINT /*point*/) {
  Sleep(kRestoreDelayMs);
  RestoreFromIcon();
}

bool CTrayIconDlg::RestoreFromIcon() {
  if (!m_bHideOnMinimize || !RemoveIcon()) return false;
  m_bHideRequested = false;
  KillTimer(m_hWnd, kIconRetryTimer);
  ShowWindow(m_hWnd, SW_SHOW);
  return true;
}

void CTrayIconDlg::OnIconRightDown(POINT point) {
  if (m_trayMenu == nullptr) return;
  HMENU popup = GetSubMenu(m_trayMenu, 0);
  if (popup == nullptr) return;
  // Without the foreground the menu would stay open when the operator clicks elsewhere.
  SetForegroundWindow(m_hWnd);
  TrackPopupMenu(popup, TPM_BOTTOMALIGN | TPM_RIGHTBUTTON, point.x, point.y, 0, m_hWnd, nullptr);
  PostMessageA(m_hWnd, WM_NULL, 0, 0);
  SetMenuDefaultItem(popup, m_nDefaultItem, TRUE);
}

void CTrayIconDlg::OnIconPointerMove(POINT /*point*/) {
  const std::string tip =
      FormatTrayTip(m_board != nullptr ? m_board->userHandle.Load() : std::string(), &IsLeadByte);
  AssignTip(tip.c_str());
  ModifyIcon();
}

}  // namespace halvane
