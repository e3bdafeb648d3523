#pragma once
// The About box, opened from the main window's system menu. Everything it shows is in its template.

#include "ui/tray_icon_dlg_win32.h"

namespace halvane {

class CAboutBoxDlg final : public CTrayIconDlg {
 public:
  // centreOver: the window the box opens over (the main window); its monitor's work area when null.
  explicit CAboutBoxDlg(HWND parent = nullptr, HWND centreOver = nullptr);

 protected:
  BOOL OnInitDialog() override;

 private:
  HWND m_centreOver;
};

}  // namespace halvane
