#pragma once
// The one place where the link, the engine, the session log and the audio routing are put together
// behind the main window's "start the link thread" step.

#include "base/call_board.h"
#include "engine/audio_routing.h"
#include "base/log_writer.h"
#include "ui/halvane_dlg_win32.h"
#include "ui/tray_notices_win32.h"

namespace halvane {

// What starting the link thread needs; everything lives for the whole process.
LinkThreadStarter MakeLinkThreadStarter(CallBoard& board, DialogItems& items);

// What the main window runs as the program ends: from then on the engine's presets no longer reach the
// mixer, and the answer preset is applied when the program's last preset left the operator muted.
SoundRestorer MakeSoundRestorer(CallBoard& board, DialogItems& items);

// The answer preset, once, at a start that had to terminate an older copy (which may have left the
// operator muted with nobody to undo it).
void RestoreSoundAfterATerminatedCopy(CallBoard& board, DialogItems& items);

// The program's notices (balloons from the tray icon), as Halvane.ini's [Notices] section sets them;
// made on first use and never destroyed.
TrayNotices& ProgramNotices(const CallBoard& board);
const NoticeSettings& ProgramNoticeSettings();
// The program's one session log, shared by the engine, the link and the main window's key reports;
// made on first use and never destroyed.
LogWriter& ProgramSessionLog(const CallBoard& board);

}  // namespace halvane
