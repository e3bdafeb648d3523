#pragma once
// The About box, opened from the main window's system menu. Everything it shows is in its template.

#include "ui/tray_icon_dlg_win32.h"

namespace halvane {

class CAboutBoxDlg final : public CTrayIconDlg {
 public:
  explicit CAboutBoxDlg(HWND parent = nullptr);
};

}  // namespace halvane
