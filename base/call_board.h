#pragma once
// The call board: the one place where the user-interface, link and worker threads meet. Every item is
// a one-byte atomic flag, an atomic number, a window handle, or a short text published whole; nothing is queued.
// The ground floor: it includes nothing of the program's own but the whole-text publication.

#include <atomic>
#include <cstdint>

#include "base/call_names.h"
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

using HandleText = SharedText<256>;
using CallIdText = SharedText<CallTable::kIdCapacity>;
// Room for as many call ids as the table holds, each with its ", ".
using CallListText = SharedText<CallTable::kMostCalls * (CallTable::kIdCapacity + 2)>;

struct CallBoard {
  std::atomic<WindowHandle> apiWindow{0};   // the client's API window; 0 while not attached
  // Every command carries its own number in its tag. The sender writes the number whose reply it waits
  // for; the link writes the number of a reply to that command once it came (numbers are never reused,
  // so a reply to an earlier command can never end a later command's wait).
  std::atomic<std::uint32_t> awaitedTag{0};
  std::atomic<std::uint32_t> repliedTag{0};
  Flag replyError{false};                   // the awaited reply was an error; written before repliedTag
  std::atomic<int> replyErrorNumber{0};     // that error's number ("ERROR 11 ..."); written before repliedTag
  std::atomic<std::uint32_t> errorTag{0};   // the number of the latest error reply, to any command
  std::atomic<int> clientProtocol{1};       // the protocol the client said it speaks; 1 until asked
  bool ReplyReceived() const { return repliedTag.load() == awaitedTag.load(); }
  CallTable calls;                          // every call the client reports, with what the engine has not seen
  HandleText userHandle;                    // the client's signed-in user; never emptied once set
  CallListText activeCalls;                 // the client's live calls as its search named them ("12, 13")
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

  // The cycle's caller and second party as the engine follows them, and the far ends' names: for the
  // window's tooltip only; the engine never reads them back.
  CallIdText firstCallId;
  CallIdText secondCallId;
  CallNames names;
};

}  // namespace halvane
