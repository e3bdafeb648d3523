#include "app/link_wiring_win32.h"

#include "audio/mixer_port.h"
#include "audio/routing_steps.h"
#include "base/clock.h"
#include "engine/session_log.h"
#include "engine/transfer_engine.h"
#include "link/api_link.h"
#include "link/codepage.h"
#include "link/protocol.h"
#include "link/window_system.h"
#include "ui/main_window_requests.h"

namespace halvane {
namespace {

// Everything the link and worker threads use. Made once and never destroyed: the threads are not told
// to stop, they end with the process.
struct Wiring {
  Wiring(CallBoard& board, DialogItems& items)
      : log(board),
        commands(board, PlatformDelivery(), SystemCodePage(), &log),
        routing(PlatformMixerPort(), log, StandardOutput()),
        engine(board, commands, SystemClock(), items, routing, log),
        link(board, log, SystemCodePage(), PlatformWindowSystem(), commands,
             [this] { engine.RunTransferEngine(); }) {}

  SessionLog log;
  CommandLink commands;
  RoutingSteps routing;
  TransferEngine engine;
  ApiLink link;
};

}  // namespace

LinkThreadStarter MakeLinkThreadStarter(CallBoard& board, DialogItems& items) {
  return [&board, &items]() {
    SetMainWindowHider(&RequestHideMainWindow);
    static Wiring* const wiring = new Wiring(board, items);
    return wiring->link.Start();
  };
}

}  // namespace halvane
