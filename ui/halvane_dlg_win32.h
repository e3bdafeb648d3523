#pragma once
// The main window: the instructions list and the Hold, Return and Transfer buttons. Its commands only
// set requests on the call board; the engine does the rest.

#include <windows.h>

#include <functional>
#include <utility>

#include "base/call_board.h"
#include "base/log_writer.h"
#include "engine/dialog_items.h"
#include "ui/operator_keys_win32.h"
#include "ui/tray_icon_dlg_win32.h"

namespace halvane {

// Starts the link thread (which in turn starts the engine); false when the thread could not start.
using LinkThreadStarter = std::function<bool()>;

// Puts the sound card back as after an answered call, before the program ends; may be empty.
using SoundRestorer = std::function<void()>;

// A newer copy posts this registered message to the older copy's windows to have it end in order.
inline constexpr char kCloseRequestMessageName[] = "Halvane.CloseRequest";

class CHalvaneDlg final : public CTrayIconDlg {
 public:
  CHalvaneDlg(CallBoard& board, DialogItems& items, LinkThreadStarter startLinkThread, HWND parent = nullptr);

  // Run once by every orderly end: OK, Cancel, close, the session's end, a newer copy's request.
  void SetSoundRestorer(SoundRestorer restoreSound) { m_restoreSound = std::move(restoreSound); }
  // The operator's system-wide keys, registered on this window at initialisation and released when it
  // goes; a refused key is reported to `log`. Without this call the window has no keys.
  void UseOperatorKeys(OperatorKeys& keys, LogWriter& log);

 protected:
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;

 private:
  // WM_SYSCOMMAND: the About entry, else the tray base (hide on minimise). True when handled.
  bool OnSysCommand(UINT commandId, LPARAM argument);
  // WM_PAINT: draws the icon while minimised; false leaves the painting to the default processing.
  bool OnPaint();
  // WM_COMMAND: the buttons and the tray menu. True when the id is one of ours.
  bool OnCommand(UINT id);

  void OnHold();
  void OnTransfer();
  void OnReturn();
  void OnBlindTransfer();

  // WM_HOTKEY: the key's request goes through the same handler as its button and menu item.
  void OnOperatorKey(WPARAM hotkeyId);
  // kPhaseChangedMessage: the tray icon shows the engine's phase.
  void OnPhaseChanged(WPARAM phase);
  // The window's large and small icons, each image in its own size.
  void SetWindowIcons();

  void FillInstructions();

  // WM_COMMAND IDOK or IDCANCEL from a control or an accelerator while the window is hidden: the
  // dialog manager's Esc or Enter, since no hidden control can be clicked. Such a key is ignored.
  bool IsStrayKeyWhileHidden(WPARAM wParam, LPARAM lParam) const;
  // WM_CLOSE (close box, system menu, another program) and the close request: end in order.
  void OnClose();
  // WM_ENDSESSION: the process may go as soon as this returns, so the sound is put back now.
  void OnEndSession(bool ending);
  // Restores the sound once, then ends the dialog.
  void EndInOrder(INT_PTR result);

  CallBoard& m_board;
  DialogItems& m_items;
  LinkThreadStarter m_startLinkThread;
  HICON m_hMainIcon;
  SoundRestorer m_restoreSound;
  bool m_bEnding = false;
  UINT m_closeRequestMessage;
  OperatorKeys* m_keys = nullptr;
  LogWriter* m_keyLog = nullptr;
};

}  // namespace halvane
