#pragma once
// A dialog with one icon in the notification area: minimising hides the dialog into the icon, a left
// press on the icon brings it back, a right press opens the tray menu, and moving the pointer over it
// refreshes the tooltip with the signed-in user's handle.

#include <windows.h>
#include <shellapi.h>

#include "base/call_board.h"
#include "ui/dialog_win32.h"

namespace halvane {

// The icon's callback message.
inline constexpr UINT kTrayCallbackMessage = WM_USER + 1;
// Posted by another thread to hide the dialog (see ui/main_window_requests.h).
inline constexpr UINT kHideRequestMessage = WM_APP + 1;

class CTrayIconDlg : public CDialog {
 public:
  // board: where the tooltip's user handle is read; may be null for a dialog that shows no icon.
  CTrayIconDlg(UINT templateId, HWND parent, const CallBoard* board = nullptr);
  ~CTrayIconDlg() override;

  // Set-up: they change only the record; the shell sees them at the next add or modify.
  void AssignIcon(UINT resourceId);
  void AssignTip(const char* text);
  void AssignMenu(UINT resourceId, UINT defaultPosition);

  // Shell operations: the shell's result, or FALSE when the shell is not called.
  BOOL AddIcon();
  BOOL RemoveIcon();
  BOOL ModifyIcon();
  BOOL IsIconShown() const { return m_bIconShown; }
  // A quiet balloon from the shown icon (NIIF_INFO | NIIF_NOSOUND); FALSE when no icon is shown.
  BOOL ShowBalloon(const char* title, const char* text);

  const NOTIFYICONDATAA& IconData() const { return m_iconData; }
  // The record of the last balloon handed to the shell (zeroed until the first).
  const NOTIFYICONDATAA& LastBalloon() const { return m_lastBalloon; }

 protected:
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
  void OnCreate() override;

  // WM_SYSCOMMAND: minimise hides into the icon; true when handled, false for the default processing.
  bool OnSysCommand(UINT commandId, LPARAM argument);

  // The icon's callback (WM_USER+1): wParam the icon id, lParam the mouse message.
  void OnIconNotify(WPARAM wParam, LPARAM lParam);

  // Adds the icon; when the shell refuses, tries again later with a growing pause until it takes,
  // so a start before the shell is ready still ends with an icon.
  void AddIconOrRetry();

  // The icon gives way to the window, as after a left press on it; false when the icon stays.
  bool RestoreFromIcon();

  // The five reactions; the point is the cursor in screen coordinates.
  virtual void OnIconLeftDown(POINT point);
  virtual void OnIconLeftDouble(POINT /*point*/) {}
  virtual void OnIconRightDown(POINT point);
  virtual void OnIconRightDouble(POINT /*point*/) {}
  virtual void OnIconPointerMove(POINT point);

  BOOL m_bHideOnMinimize = TRUE;
  BOOL m_bIconShown = FALSE;
  NOTIFYICONDATAA m_iconData{};
  NOTIFYICONDATAA m_lastBalloon{};
  HMENU m_trayMenu = nullptr;
  UINT m_nDefaultItem = 0;

 private:
  // WM_DESTROY: the icon goes with the window.
  void OnDestroy();
  // kHideRequestMessage: hide, and keep hidden until the operator restores the window from the icon.
  void OnHideRequest();
  // WM_WINDOWPOSCHANGING: no show slips in while a hide request stands.
  void OnWindowPosChanging(WINDOWPOS& position);
  // The shell (Explorer) restarted: the icon is added again if it was shown or the window is hidden.
  void OnTaskbarCreated();
  // WM_TIMER of the icon's retry.
  void OnIconRetry();
  // The icon image the record holds, loaded for the small size alone and owned here.
  HICON m_ownIcon = nullptr;
  // A hide request stands and an icon exists to bring the window back.
  bool MayStayHidden() const;
  // Hides the window for a standing hide request, once an icon exists to bring it back.
  void HideIfReachable();

  const CallBoard* m_board;
  bool m_bHideRequested = false;
  // The dialog has asked for an icon at least once (the About box never does).
  bool m_bIconWanted = false;
  unsigned m_iconRetries = 0;
  UINT m_taskbarCreatedMessage;
};

}  // namespace halvane
