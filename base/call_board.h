#pragma once
// The call board: the one place where the user-interface, link and worker threads meet. Every item is
// a one-byte atomic flag, a window handle, or a short text published whole; nothing is queued.
// The ground floor: it includes nothing of the program's own but the whole-text publication.

#include <atomic>
#include <cstdint>

#include "base/call_names.h"
#include "base/call_status_feed.h"
#include "base/call_table.h"
#include "base/shared_text.h"

namespace halvane {

// An opaque window handle (HWND on Windows); 0 means none.
using WindowHandle = std::uintptr_t;

using Flag = std::atomic<bool>;
static_assert(sizeof(Flag) == 1, "flags are single bytes");

// Dialog item and command ids of the main window and its tray menu.
enum ItemId : int {
  kIdInstructions = 1001,
  kIdHold = 1002,
  kIdTransfer = 1003,
  kIdReturn = 1004,
  kIdBlindTransfer = 1005,
  kIdMenuHold = 32771,
  kIdMenuReturn = 32772,
  kIdMenuTransfer = 32773,
  kIdAbout = 16,
};

using CallIdText = SharedText<16>;
using StatusText = SharedText<24>;
using HandleText = SharedText<256>;

struct CallBoard {
  std::atomic<WindowHandle> apiWindow{0};   // the client's API window; 0 while not attached
  Flag replyReceived{true};                 // a tagged line arrived since the last send
  Flag replyError{false};                   // that tagged line was an error; written before replyReceived
  CallStatusFeed currentCall;               // the latest status lines: call id and status word, together
  CallTable calls;                          // every call the client reports, with what the engine has not seen
  HandleText userHandle;                    // the client's signed-in user; never emptied once set
  Flag reconnectNeeded{false};              // the client restarted or its user signed in again
  std::atomic<WindowHandle> mainWindow{0};  // written once before the link thread starts

  // Published by the engine; they decide whether an operator request is accepted.
  Flag callActive{false};
  Flag transferAllowed{false};

  // Operator requests: set by the operator's request handlers, cleared by the engine.
  Flag holdRequest{false};
  Flag transferRequest{false};
  Flag returnRequest{false};
  Flag blindTransferRequest{false};

  // The engine's own record of the two calls of a transfer; the second is always this cycle's dial.
  CallIdText firstCallId;
  CallIdText secondCallId;

  // The far ends' names, for the user interface only; the engine never reads them.
  CallNames names;
};

}  // namespace halvane
