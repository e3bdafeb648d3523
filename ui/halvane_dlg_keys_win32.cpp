// The main window's system-wide keys, its window icons and the tray icon's phase picture.

#include <windows.h>

#include "res/resource.h"
#include "ui/call_phases_win32.h"
#include "ui/halvane_dlg_win32.h"

namespace halvane {
namespace {

bool IsWindowsLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; }

}  // namespace

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
  if (static_cast<CallPhase>(phase) == CallPhase::kCallerOnHold && m_phase != CallPhase::kCallerOnHold) {
    m_holdSinceMs = GetTickCount64();
  }
  m_phase = static_cast<CallPhase>(phase);
  // The reminder counts while the caller is on hold; a flash ends with the hold.
  m_reminder.PhaseChanged(m_phase, GetTickCount64());
  KillTimer(m_hWnd, kFlashTimer);
  // Ticks while the caller is on hold: the reminder, and the tooltip's hold time.
  if (m_phase == CallPhase::kCallerOnHold) {
    SetTimer(m_hWnd, kReminderTimer, kReminderTickMs, nullptr);
  } else {
    KillTimer(m_hWnd, kReminderTimer);
  }
  ShowCallTip();
  ShowPicture(IDI_PHASE_REST + static_cast<UINT>(phase));
}

void CHalvaneDlg::ShowPicture(UINT picture) {
  // Kept in the record while the icon is not shown, so the next add shows it.
  AssignIcon(picture);
  ModifyIcon();
  SetPropA(m_hWnd, kTrayIconProperty, reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(picture)));
}

CallParties CHalvaneDlg::Parties() {
  const std::string first = m_board.firstCallId.Load();
  const std::string second = m_board.secondCallId.Load();
  CallParties parties;
  parties.caller = PartyName(m_board.names.NameOf(first), first, "The caller");
  if (!second.empty()) parties.second = PartyName(m_board.names.NameOf(second), second, "");
  parties.heldMs = m_phase == CallPhase::kCallerOnHold ? GetTickCount64() - m_holdSinceMs : 0;
  parties.secondPartyTalking = m_board.transferAllowed.load();
  if (m_phase != CallPhase::kAtRest) {
    m_callerName = parties.caller;
    m_secondName = parties.second;
  }
  return parties;
}

void CHalvaneDlg::ShowCallTip() {
  if (m_phase == CallPhase::kAtRest) {
    AssignTip(FormatTrayTip(m_board.userHandle.Load(), &IsWindowsLeadByte).c_str());
    return;
  }
  AssignTip(CallTipText(m_phase, Parties(), &IsWindowsLeadByte).c_str());
}

void CHalvaneDlg::OnIconPointerMove(POINT /*point*/) {
  ShowCallTip();
  ModifyIcon();
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
