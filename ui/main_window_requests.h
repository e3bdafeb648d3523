#pragma once
// Requests other threads make of the main window. They are posted to the window's own thread, so they
// take effect in order with the window's other messages (a hide asked for while the dialog is still
// being set up comes after the dialog manager's first show, not before it).

#include "base/call_board.h"

namespace halvane {

// Hides the window into its notification icon. False when the request could not be queued.
bool RequestHideMainWindow(WindowHandle mainWindow);

}  // namespace halvane
