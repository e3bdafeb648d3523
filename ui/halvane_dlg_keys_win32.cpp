// The main window's system-wide keys, its window icons and the tray icon's phase picture.

#include <windows.h>

#include "res/resource.h"
#include "ui/call_phases_win32.h"
#include "ui/halvane_dlg_win32.h"

namespace halvane {

static_assert(IDI_PHASE_REST + static_cast<int>(CallPhase::kAtRest) == IDI_PHASE_REST &&
                  IDI_PHASE_REST + static_cast<int>(CallPhase::kCallActive) == IDI_PHASE_ACTIVE &&
                  IDI_PHASE_REST + static_cast<int>(CallPhase::kCallerOnHold) == IDI_PHASE_HOLD &&
                  IDI_PHASE_REST + static_cast<int>(CallPhase::kJoined) == IDI_PHASE_JOINED,
              "the phase pictures follow the phases' order");

void CHalvaneDlg::UseOperatorKeys(OperatorKeys& keys, LogWriter& log) {
  m_keys = &keys;
  m_keyLog = &log;
}

void CHalvaneDlg::OnOperatorKey(WPARAM hotkeyId) {
  if (m_keys == nullptr) return;
  const std::optional<OperatorKey> request = m_keys->RequestFor(hotkeyId);
  if (!request) return;
  switch (*request) {
    case OperatorKey::kHold: OnHold(); break;
    case OperatorKey::kTransfer: OnTransfer(); break;
    case OperatorKey::kReturn: OnReturn(); break;
  }
}

void CHalvaneDlg::OnPhaseChanged(WPARAM phase) {
  if (phase > static_cast<WPARAM>(CallPhase::kJoined)) return;
  m_phase = static_cast<CallPhase>(phase);
  // The reminder counts while the caller is on hold; a flash ends with the hold.
  m_reminder.PhaseChanged(m_phase, GetTickCount64());
  KillTimer(m_hWnd, kFlashTimer);
  if (m_reminder.Running()) {
    SetTimer(m_hWnd, kReminderTimer, kReminderTickMs, nullptr);
  } else {
    KillTimer(m_hWnd, kReminderTimer);
  }
  const UINT picture = IDI_PHASE_REST + static_cast<UINT>(phase);
  // Kept in the record while the icon is not shown, so the next add shows the current phase.
  AssignIcon(picture);
  ModifyIcon();
  SetPropA(m_hWnd, kTrayIconProperty, reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(picture)));
}

void CHalvaneDlg::SetWindowIcons() {
  SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hMainIcon));
  // The caption and the taskbar button use the small image drawn for their size. Not shared: the
  // shared cache answers with the first size loaded, whatever size is asked.
  if (m_hSmallIcon == nullptr) {
    m_hSmallIcon = static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON,
                                                 GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
  }
  SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL,
               reinterpret_cast<LPARAM>(m_hSmallIcon != nullptr ? m_hSmallIcon : m_hMainIcon));
}

}  // namespace halvane
