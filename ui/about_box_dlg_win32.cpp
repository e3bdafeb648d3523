#include "ui/about_box_dlg_win32.h"

#include "res/resource.h"

namespace halvane {

CAboutBoxDlg::CAboutBoxDlg(HWND parent, HWND centreOver)
    : CTrayIconDlg(IDD_ABOUTBOX, parent), m_centreOver(centreOver) {}

BOOL CAboutBoxDlg::OnInitDialog() {
  CTrayIconDlg::OnInitDialog();
  CentreOver(m_centreOver);
  return TRUE;
}

}  // namespace halvane
