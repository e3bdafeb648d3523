#include "ui/about_box_dlg_win32.h"

#include "res/resource.h"

namespace halvane {

CAboutBoxDlg::CAboutBoxDlg(HWND parent) : CTrayIconDlg(IDD_ABOUTBOX, parent) {}

}  // namespace halvane
