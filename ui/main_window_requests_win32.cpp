#include "ui/main_window_requests.h"

#include "ui/tray_icon_dlg_win32.h"

namespace halvane {

bool RequestHideMainWindow(WindowHandle mainWindow) {
  return PostMessageA(reinterpret_cast<HWND>(mainWindow), kHideRequestMessage, 0, 0) != FALSE;
}

}  // namespace halvane
