#include "app/link_wiring_win32.h"

#include <windows.h>
#include <process.h>

#include "ui/main_window_requests.h"

namespace halvane {
namespace {

// The link thread's stack.
constexpr unsigned kLinkThreadStackSize = 0x10000;

struct LinkContext {
  CallBoard* board;
  DialogItems* items;
};

// The link thread. WIRING: until the link (attach, transport, worker with the transfer engine, session
// log and audio routing) is linked in here, it does only the link thread's first act, hiding the main
// window into its notification icon, so the program rests the way it will with the link in place.
unsigned __stdcall LinkThreadMain(void* argument) {
  const LinkContext* context = static_cast<const LinkContext*>(argument);
  RequestHideMainWindow(context->board->mainWindow.load());
  return 0;
}

}  // namespace

LinkThreadStarter MakeLinkThreadStarter(CallBoard& board, DialogItems& items) {
  return [&board, &items]() {
    // Lives as long as the process: the thread is never told to stop.
    static LinkContext context{&board, &items};
    const std::uintptr_t thread =
        _beginthreadex(nullptr, kLinkThreadStackSize, &LinkThreadMain, &context, 0, nullptr);
    if (thread == 0) return false;
    CloseHandle(reinterpret_cast<HANDLE>(thread));
    return true;
  };
}

}  // namespace halvane
