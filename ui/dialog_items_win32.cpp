#include "ui/dialog_items_win32.h"

#include <windows.h>

namespace halvane {

void Win32DialogItems::EnableItem(WindowHandle dialog, int id, bool enable) {
  HWND item = GetDlgItem(reinterpret_cast<HWND>(dialog), id);
  if (item != nullptr) EnableWindow(item, enable ? TRUE : FALSE);
}

}  // namespace halvane
