#pragma once
// The main window: the instructions list and the Hold, Return and Transfer buttons. Its commands only
// set requests on the call board; the engine does the rest.

#include <windows.h>

#include <functional>

#include "base/call_board.h"
#include "base/log_writer.h"
#include "engine/dialog_items.h"
#include "ui/operator_keys_win32.h"
#include "ui/tray_icon_dlg_win32.h"

namespace halvane {

// Starts the link thread (which in turn starts the engine); false when the thread could not start.
using LinkThreadStarter = std::function<bool()>;

class CHalvaneDlg final : public CTrayIconDlg {
 public:
  CHalvaneDlg(CallBoard& board, DialogItems& items, LinkThreadStarter startLinkThread, HWND parent = nullptr);

  // The operator's system-wide keys, registered on this window at initialisation and released when it
  // goes; a refused key is reported to `log`. Without this call the window has no keys.
  void UseOperatorKeys(OperatorKeys& keys, LogWriter& log);

 protected:
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
  BOOL OnInitDialog() override;

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

  CallBoard& m_board;
  DialogItems& m_items;
  LinkThreadStarter m_startLinkThread;
  HICON m_hMainIcon;
  OperatorKeys* m_keys = nullptr;
  LogWriter* m_keyLog = nullptr;
};

}  // namespace halvane
