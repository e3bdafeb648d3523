#include "engine/operator_requests.h"

namespace halvane {

void OnHold(CallBoard& board, DialogItems& items) {
  if (!board.callActive.load()) return;
  board.holdRequest.store(true);
  const WindowHandle dialog = board.mainWindow.load();
  items.EnableItem(dialog, kIdHold, false);
  items.EnableItem(dialog, kIdTransfer, true);
  items.EnableItem(dialog, kIdReturn, true);
  items.EnableItem(dialog, kIdBlindTransfer, true);
}

void OnTransfer(CallBoard& board) {
  if (board.callActive.load() && board.transferAllowed.load()) board.transferRequest.store(true);
}

void OnReturn(CallBoard& board) {
  if (board.callActive.load()) board.returnRequest.store(true);
}

void OnBlindTransfer(CallBoard& board) {
  if (board.callActive.load()) board.blindTransferRequest.store(true);
}

}  // namespace halvane
