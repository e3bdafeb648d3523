#pragma once
// The operator's four requests, run on the user-interface thread for the buttons and the tray menu.
// Each sets a request flag on the call board for the engine; a request whose condition does not hold is
// dropped silently.

#include "base/call_board.h"
#include "engine/dialog_items.h"

namespace halvane {

void OnHold(CallBoard& board, DialogItems& items);
void OnTransfer(CallBoard& board);
void OnReturn(CallBoard& board);
void OnBlindTransfer(CallBoard& board);

}  // namespace halvane
