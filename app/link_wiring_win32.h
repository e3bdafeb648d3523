#pragma once
// The one place where the link, the engine, the session log and the audio routing are put together
// behind the main window's "start the link thread" step.

#include "base/call_board.h"
#include "engine/audio_routing.h"
#include "base/log_writer.h"
#include "ui/halvane_dlg_win32.h"

namespace halvane {

// What starting the link thread needs; everything lives for the whole process.
LinkThreadStarter MakeLinkThreadStarter(CallBoard& board, DialogItems& items);

// What the main window runs as the program ends: the answer preset, through the engine's routing.
SoundRestorer MakeSoundRestorer(CallBoard& board, DialogItems& items);

// The answer preset on the real clock: the sound card as after an answered call.
void RestoreSound(AudioRouting& routing);
// The program's one session log, shared by the engine, the link and the main window's key reports;
// made on first use and never destroyed.
LogWriter& ProgramSessionLog(const CallBoard& board);

}  // namespace halvane
