#include "link/api_link.h"

#include <atomic>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <utility>

#include "link/codec.h"

namespace halvane {
namespace {

void ReleaseDoneEvent(WindowSystem& windows, EventHandle event, std::atomic<int>& users) {
  if (users.fetch_sub(1, std::memory_order_acq_rel) == 1) windows.CloseDoneEvent(event);
}

}  // namespace

ApiLink::ApiLink(CallBoard& board, LogWriter& log, CodePage& codePage, WindowSystem& windows,
                 CommandLink& commands, Engine runEngine)
    : board_(board),
      log_(log),
      codePage_(codePage),
      windows_(windows),
      commands_(commands),
      runEngine_(std::move(runEngine)) {}

bool ApiLink::Start() {
  return windows_.StartThread([this] { RunLinkThread(); });
}

void ApiLink::RunLinkThread() {
  stopped_.store(false);
  if (!Open()) {
    stopped_.store(true);
    return;
  }
  const EventHandle event = windows_.CreateDoneEvent();
  if (event != 0) {
    // The link thread and the worker each give the event up once, and the second closes it: neither
    // uses a closed handle, and a wait that ran out leaks nothing. The count is shared, not a member,
    // because after its set the worker must not touch this object, which may be gone by then.
    const auto users = std::make_shared<std::atomic<int>>(2);
    WindowSystem& windows = windows_;
    // The worker starts before the loop runs; its broadcast completes once the loop pumps.
    if (windows_.StartThread([this, event, users, &windows] {
          RunWorker();
          windows.SetDoneEvent(event);
          ReleaseDoneEvent(windows, event, *users);
        })) {
      windows_.RunMessageLoop();
      windows_.WaitDoneEvent(event, kWorkerDoneWaitMs);
      ReleaseDoneEvent(windows_, event, *users);
    } else {
      windows_.CloseDoneEvent(event);
    }
  }
  Close();
  stopped_.store(true);
}

bool ApiLink::Open() {
  const WindowHandle mainWindow = board_.mainWindow.load();
  if (mainWindow != 0) windows_.HideWindow(mainWindow);
  board_.apiWindow.store(0);

  attachMessage_ = windows_.RegisterMessage(kAttachMessageName);
  if (attachMessage_ == 0) return false;
  discoverMessage_ = windows_.RegisterMessage(kDiscoverMessageName);
  if (discoverMessage_ == 0) return false;

  if (!RegisterLinkClass()) return false;

  const WindowHandle window = windows_.CreateLinkWindow(className_.c_str(), process_, *this);
  if (window == 0) {
    Close();
    return false;
  }
  SetLinkWindow(window);
  // Without a timer the link still works; it only cannot look for a lost client by itself.
  windows_.StartTimer(window, kRediscoverTickMs);
  return true;
}

bool ApiLink::RegisterLinkClass() {
  std::string uuid;
  if (!windows_.NewUuidText(uuid)) return false;
  process_ = windows_.OpenOwnProcess();
  if (process_ == 0) return false;
  className_ = kLinkClassPrefix + uuid;
  if (!windows_.RegisterLinkClass(className_.c_str(), process_)) {
    windows_.CloseProcess(process_);
    process_ = 0;
    return false;
  }
  return true;
}

void ApiLink::Close() {
  const WindowHandle window = linkWindow_.load();
  if (window != 0) {
    windows_.DestroyLinkWindow(window);
    SetLinkWindow(0);
  }
  if (process_ != 0) {
    windows_.UnregisterLinkClass(className_.c_str(), process_);
    windows_.CloseProcess(process_);
    process_ = 0;
  }
}

void ApiLink::RunWorker() {
  const bool delivered = windows_.Broadcast(discoverMessage_, linkWindow_.load(), board_.mainWindow.load());
  if (delivered && runEngine_) runEngine_();
  // Only an undelivered broadcast gets here in the program (the engine does not return).
  const WindowHandle window = linkWindow_.load();
  if (window != 0) windows_.PostClose(window);
}

void ApiLink::SetLinkWindow(WindowHandle window) {
  linkWindow_.store(window);
  commands_.SetLinkWindow(window);
}

void ApiLink::OnDestroy() {
  SetLinkWindow(0);
  windows_.PostQuit();
}

bool ApiLink::OnCopyData(WindowHandle sender, const void* data, std::size_t size) {
  // Only the attached client's window is listened to; while not attached there is no such window.
  const WindowHandle apiWindow = board_.apiWindow.load();
  if (apiWindow == 0 || sender != apiWindow) return false;

  // The text ends at its first zero byte within cbData, or at cbData: nothing beyond it is read. Only a
  // text with no zero needs a terminated copy, and its size is the client's: allocated without
  // exceptions, and a line that gets no memory is dropped like one that cannot be decoded.
  if (data == nullptr || size == 0) return true;
  const char* bytes = static_cast<const char*>(data);
  const char* text = bytes;
  std::unique_ptr<char[]> copy;
  if (std::memchr(bytes, '\0', size) == nullptr) {
    if (size == std::numeric_limits<std::size_t>::max()) return true;  // no room for the terminator
    copy.reset(new (std::nothrow) char[size + 1]);
    if (!copy) return true;
    std::memcpy(copy.get(), bytes, size);
    copy[size] = '\0';
    text = copy.get();
  }

  // Undecodable text is dropped, but the message still came from the client: answering 0 would tell
  // the client the connection is broken.
  std::unique_ptr<char[]> local;
  if (*text != '\0' && Utf8ToLocal(codePage_, text, local)) ParseNotification(board_, local.get());
  return true;
}

bool ApiLink::OnMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
  if (attachMessage_ == 0 || message != attachMessage_) return false;
  OnAttachStatus(static_cast<WindowHandle>(wParam), lParam);
  return true;
}

void ApiLink::OnAttachStatus(WindowHandle apiWindow, std::intptr_t status) {
  switch (status) {
    case kAttachSuccess:
      board_.apiWindow.store(apiWindow);
      rediscover_ = false;
      rediscoverLogged_ = false;
      ticksWaited_ = 0;
      break;
    case kAttachRefused:
      // The client's user turned us down: asking again and again would nag them. The client says
      // 0x8001 when there is reason to ask again.
      log_.WriteLog(kLogConnectionRefused);
      rediscover_ = false;
      commands_.TakeClientLost();
      break;
    case kAttachNotAvailable:
      // Signed out, say: looked for again. While a loss is being looked for quietly, its repeated
      // answer is quiet too.
      if (!rediscoverLogged_) log_.WriteLog(kLogApiNotAvailable);
      rediscover_ = true;
      break;
    case kAttachAvailable:
      // Not attached before the new broadcast goes out, so that the client's answer to it (which may
      // come while the broadcast is still in progress) is the one that counts.
      log_.WriteLog(kLogReLogin);
      board_.apiWindow.store(0);
      windows_.Broadcast(discoverMessage_, linkWindow_.load(), board_.mainWindow.load());
      board_.reconnectNeeded.store(true);
      break;
    default:
      break;
  }
}

void ApiLink::OnTimer() {
  if (commands_.TakeClientLost()) rediscover_ = true;
  if (board_.apiWindow.load() != 0) {
    // Attached again, by whatever path.
    rediscover_ = false;
    rediscoverLogged_ = false;
  }
  if (!rediscover_) {
    ticksWaited_ = 0;
    return;
  }
  if (++ticksWaited_ < kRediscoverTicks) return;
  ticksWaited_ = 0;
  if (!rediscoverLogged_) log_.WriteLog(kLogRediscover);
  rediscoverLogged_ = true;
  windows_.Broadcast(discoverMessage_, linkWindow_.load(), board_.mainWindow.load());
}

}  // namespace halvane
