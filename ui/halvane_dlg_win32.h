#pragma once
// The main window: the instructions list and the Hold, Return and Transfer buttons. Its commands only
// set requests on the call board; the engine does the rest.

#include <windows.h>

#include <functional>

#include "base/call_board.h"
#include "engine/dialog_items.h"
#include "ui/tray_icon_dlg_win32.h"

namespace halvane {

// Starts the link thread (which in turn starts the engine); false when the thread could not start.
using LinkThreadStarter = std::function<bool()>;

class CHalvaneDlg final : public CTrayIconDlg {
 public:
  CHalvaneDlg(CallBoard& board, DialogItems& items, LinkThreadStarter startLinkThread, HWND parent = nullptr);

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

  void FillInstructions();

  CallBoard& m_board;
  DialogItems& m_items;
  LinkThreadStarter m_startLinkThread;
  HICON m_hMainIcon;
};

}  // namespace halvane
