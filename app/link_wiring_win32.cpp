#include "app/link_wiring_win32.h"

#include "audio/mixer_port.h"
#include "audio/routing_steps.h"
#include "audio/sound_gate.h"
#include "base/clock.h"
#include "engine/presets.h"
#include "engine/session_log.h"
#include "engine/transfer_engine.h"
#include "link/api_link.h"
#include "link/codepage.h"
#include "link/protocol.h"
#include "link/window_system.h"
#include "ui/call_phases_win32.h"
#include "ui/main_window_requests.h"
#include "ui/operator_keys_win32.h"

namespace halvane {
namespace {

// Everything the link and worker threads use. Made once and never destroyed: the threads are not told
// to stop, they end with the process.
struct Wiring {
  Wiring(CallBoard& board, DialogItems& items)
      : log(ProgramSessionLog(board)),
        phases(board),
        commands(board, PlatformDelivery(), SystemCodePage(), &log),
        routing(PlatformMixerPort(), log, StandardOutput()),
        gate(routing, SystemClock()),
        engine(board, commands, SystemClock(), items, gate, log, phases),
        link(board, log, SystemCodePage(), PlatformWindowSystem(), commands,
             [this] { engine.RunTransferEngine(); }) {
    engine.SetNotices(ProgramNotices(board));
    link.SetNotices(ProgramNotices(board));
  }

  LogWriter& log;
  Win32CallPhases phases;
  CommandLink commands;
  RoutingSteps routing;
  // Every mixer write goes through the gate, so the end's restore is the last one.
  SoundGate gate;
  TransferEngine engine;
  ApiLink link;
};

// The one wiring of the process, made at its first use.
Wiring& SharedWiring(CallBoard& board, DialogItems& items) {
  static Wiring* const wiring = new Wiring(board, items);
  return *wiring;
}

}  // namespace

LogWriter& ProgramSessionLog(const CallBoard& board) {
  static SessionLog* const log = new SessionLog(board);
  return *log;
}

LinkThreadStarter MakeLinkThreadStarter(CallBoard& board, DialogItems& items) {
  return [&board, &items]() {
    SetMainWindowHider(&RequestHideMainWindow);
    return SharedWiring(board, items).link.Start();
  };
}

SoundRestorer MakeSoundRestorer(CallBoard& board, DialogItems& items) {
  // The engine's own routing, so a failure lands in the same session log.
  return [&board, &items]() { SharedWiring(board, items).gate.RestoreAtEnd(); };
}

void RestoreSoundAfterATerminatedCopy(CallBoard& board, DialogItems& items) { SharedWiring(board, items).gate.Restore(); }

const NoticeSettings& ProgramNoticeSettings() {
  static const NoticeSettings settings = LoadNoticeSettings(OperatorKeysIniPath());
  return settings;
}

TrayNotices& ProgramNotices(const CallBoard& board) {
  static TrayNotices* const notices = new TrayNotices(board, ProgramNoticeSettings().show);
  return *notices;
}

}  // namespace halvane
