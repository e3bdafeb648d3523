#pragma once
// A thin dialog base over the Win32 dialog manager. The dialog procedure finds the object through the
// pointer stored at WM_INITDIALOG; each class answers its own messages in OnMessage (its message
// map) and hands the rest to its base class, ending here.

#include <windows.h>

namespace halvane {

class CDialog {
 public:
  // templateId: the dialog resource; parent: the owner window, or none.
  CDialog(UINT templateId, HWND parent);
  virtual ~CDialog() = default;
  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;

  // Runs the dialog modally from the program's own resources; what EndDialog was given, or -1 when
  // the dialog could not be created.
  INT_PTR DoModal();

  HWND GetSafeHwnd() const { return m_hWnd; }

 protected:
  // One class's message map. True when the message was handled; `result` is then what the dialog
  // procedure returns for it. False sends the message on to the dialog manager's default processing.
  virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result);

  // The window exists and is bound to this object; called once, before WM_INITDIALOG is handled.
  virtual void OnCreate() {}

  // WM_INITDIALOG: TRUE lets the dialog manager give the focus to the first control that takes it.
  virtual BOOL OnInitDialog() { return TRUE; }

  // WM_COMMAND IDOK and IDCANCEL (also Enter, Esc and the close box): end the dialog.
  virtual void OnOK() { EndDialog(m_hWnd, IDOK); }
  virtual void OnCancel() { EndDialog(m_hWnd, IDCANCEL); }

  // Moves the dialog to the centre of `over`, or of its monitor's work area when `over` is null,
  // keeping it inside that work area. The templates place every dialog at the screen's corner.
  void CentreOver(HWND over);

  HWND m_hWnd = nullptr;

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  UINT m_templateId;
  HWND m_parent;
};

}  // namespace halvane
