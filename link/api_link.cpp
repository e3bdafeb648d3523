#include "link/api_link.h"

#include <cstring>
#include <utility>

#include "link/codec.h"

namespace halvane {

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
  bool workerDone = true;
  doneEvent_ = windows_.CreateDoneEvent();
  if (doneEvent_ != 0) {
    // The worker starts before the loop runs; its broadcast completes once the loop pumps.
    if (windows_.StartThread([this] { RunWorker(); })) {
      windows_.RunMessageLoop();
      workerDone = windows_.WaitDoneEvent(doneEvent_, kWorkerDoneWaitMs);
    }
    // A worker that has not finished may still set the event: leave it open for it then.
    if (workerDone) windows_.CloseDoneEvent(doneEvent_);
    doneEvent_ = 0;
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
  if (windows_.Broadcast(discoverMessage_, linkWindow_.load()) && runEngine_) runEngine_();
  // Only an undelivered broadcast gets here in the program (the engine does not return).
  const WindowHandle window = linkWindow_.load();
  if (window != 0) windows_.PostClose(window);
  windows_.SetDoneEvent(doneEvent_);
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

  // The text ends at its first zero byte within cbData, or at cbData: nothing beyond it is read.
  std::string text;
  if (data != nullptr && size != 0) {
    const char* bytes = static_cast<const char*>(data);
    const auto* zero = static_cast<const char*>(std::memchr(bytes, '\0', size));
    text.assign(bytes, zero == nullptr ? size : static_cast<std::size_t>(zero - bytes));
  }

  // Undecodable text is dropped, but the message still came from the client: answering 0 would tell
  // the client the connection is broken.
  std::string local;
  if (!text.empty() && Utf8ToLocal(codePage_, text.c_str(), local)) ParseNotification(board_, local.c_str());
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
      break;
    case kAttachRefused:
      log_.WriteLog(kLogConnectionRefused);
      break;
    case kAttachNotAvailable:
      log_.WriteLog(kLogApiNotAvailable);
      break;
    case kAttachAvailable:
      // Not attached before the new broadcast goes out, so that the client's answer to it (which may
      // come while the broadcast is still in progress) is the one that counts.
      log_.WriteLog(kLogReLogin);
      board_.apiWindow.store(0);
      windows_.Broadcast(discoverMessage_, linkWindow_.load());
      board_.reconnectNeeded.store(true);
      break;
    default:
      break;
  }
}

}  // namespace halvane
