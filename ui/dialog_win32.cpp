#include "ui/dialog_win32.h"

#include "ui/main_window_rules.h"

namespace halvane {

CDialog::CDialog(UINT templateId, HWND parent) : m_templateId(templateId), m_parent(parent) {}

INT_PTR CDialog::DoModal() {
  return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(m_templateId), m_parent, &CDialog::DialogProc,
                         reinterpret_cast<LPARAM>(this));
}

bool CDialog::OnMessage(UINT message, WPARAM wParam, LPARAM /*lParam*/, INT_PTR& result) {
  switch (message) {
    case WM_INITDIALOG:
      result = OnInitDialog();
      return true;
    case WM_COMMAND:
      // Buttons and accelerators both end the dialog; other notifications of these ids do not.
      if (HIWORD(wParam) != BN_CLICKED && HIWORD(wParam) != 1) return false;
      if (LOWORD(wParam) == IDOK) {
        OnOK();
        result = TRUE;
        return true;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        OnCancel();
        result = TRUE;
        return true;
      }
      return false;
    default:
      return false;
  }
}

void CDialog::CentreOver(HWND over) {
  HMONITOR monitor = MonitorFromWindow(over != nullptr ? over : m_hWnd, MONITOR_DEFAULTTONEAREST);
  MONITORINFO info{};
  info.cbSize = sizeof info;
  RECT window{};
  if (!GetMonitorInfoA(monitor, &info) || !GetWindowRect(m_hWnd, &window)) return;
  RECT reference = info.rcWork;
  if (over != nullptr) GetWindowRect(over, &reference);
  const Rect area{info.rcWork.left, info.rcWork.top, info.rcWork.right, info.rcWork.bottom};
  const Point at = CentredWindowOrigin({reference.left, reference.top, reference.right, reference.bottom},
                                       window.right - window.left, window.bottom - window.top, area);
  SetWindowPos(m_hWnd, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// INT_PTR DialogProc(HWND, UINT, WPARAM, LPARAM): finds the object, lets its message map answer.
INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  CDialog* self = nullptr;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<CDialog*>(lParam);
    SetWindowLongPtrA(window, DWLP_USER, lParam);
    self->m_hWnd = window;
    self->OnCreate();
  } else {
    self = reinterpret_cast<CDialog*>(GetWindowLongPtrA(window, DWLP_USER));
  }
  // Messages that come before WM_INITDIALOG (WM_SETFONT) or after WM_NCDESTROY have no object.
  if (self == nullptr) return FALSE;

  INT_PTR result = FALSE;
  const bool handled = self->OnMessage(message, wParam, lParam, result);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrA(window, DWLP_USER, 0);
    self->m_hWnd = nullptr;
  }
  return handled ? result : FALSE;
}

}  // namespace halvane
