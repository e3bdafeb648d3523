#pragma once
// The one place where the link, the engine, the session log and the audio routing are put together
// behind the main window's "start the link thread" step.

#include "base/call_board.h"
#include "ui/halvane_dlg_win32.h"

namespace halvane {

// What starting the link thread needs; everything lives for the whole process.
LinkThreadStarter MakeLinkThreadStarter(CallBoard& board, DialogItems& items);

}  // namespace halvane
