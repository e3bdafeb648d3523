#include "link/api_link.h"

#include <atomic>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <utility>

#include "link/codec.h"
#include "link/partner_name.h"

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
  const bool delivered = Discover();
  if (delivered && runEngine_) runEngine_();
  // Only an undelivered broadcast gets here in the program (the engine does not return).
  const WindowHandle window = linkWindow_.load();
  if (window != 0) windows_.PostClose(window);
}

bool ApiLink::Discover() {
  // An answer sent during the broadcast (0x8001 above all) is handled inside it; a broadcast started
  // from there would nest without limit for a window that answers every discovery that way.
  if (broadcasting_.exchange(true)) {
    again_.store(true);
    return true;
  }
  const bool delivered = windows_.Broadcast(discoverMessage_, linkWindow_.load(), board_.mainWindow.load());
  if (again_.exchange(false)) windows_.Broadcast(discoverMessage_, linkWindow_.load(), board_.mainWindow.load());
  again_.store(false);  // what the follow-up itself drew is not followed again
  broadcasting_.store(false);
  return delivered;
}

void ApiLink::DiscoverHere() {
  const bool outer = discovering_;
  discovering_ = true;
  Discover();
  discovering_ = outer;
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

  // Dropped before anything is copied or converted, but answered 1 like any text from the client.
  if (size > kMaxLineBytes) {
    if (!longTextReported_) log_.WriteLog(kLogLineTooLong);
    longTextReported_ = true;
    return true;
  }

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
  // A far end's name is cleaned as the client's UTF-8; the line is still a reply to its command.
  ReadPartnerName(codePage_, text, board_.names);
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
      // Only a window that exists can be the client's; anything else (0 above all) would leave the
      // link attached to nothing and looking no more.
      if (!windows_.WindowExists(apiWindow)) return;
      OnAttached(apiWindow);
      break;
    case kAttachPendingAuthorization:
      // The client's user is being asked: looking again meanwhile would only nag them.
      lastAnswer_ = status;
      break;
    case kAttachRefused:
      // The client's user turned us down: asking again and again would nag them. The client says
      // 0x8001 when there is reason to ask again.
      log_.WriteLog(kLogConnectionRefused);
      lastAnswer_ = status;
      if (commands_.TakeClientLost()) BeginLoss();
      break;
    case kAttachNotAvailable:
      // Signed out, say: looked for again. While a loss is being looked for quietly, its repeated
      // answer is quiet too.
      if (!lookLogged_) log_.WriteLog(kLogApiNotAvailable);
      lastAnswer_ = status;
      break;
    case kAttachAvailable: {
      // Not attached before the new broadcast goes out, so that the client's answer to it (which may
      // come while the broadcast is still in progress) is the one that counts.
      lastAnswer_ = status;
      // An answer to the link's own discovery only asks for the one that follows it: not news.
      if (!discovering_) log_.WriteLog(kLogReLogin);
      if (board_.apiWindow.exchange(0) != 0) BeginLoss();
      DiscoverHere();
      ticksWaited_ = 0;
      board_.reconnectNeeded.store(true);
      break;
    }
    default:
      break;
  }
}

void ApiLink::OnAttached(WindowHandle apiWindow) {
  board_.apiWindow.store(apiWindow);
  lastAnswer_ = kAttachSuccess;
  ticksWaited_ = 0;
  attachedTicks_ = 0;
  if (commands_.TakeClientLost()) BeginLoss();  // lost before the timer saw it: still a loss
  if (!lost_) return;
  // Whoever signed in meanwhile, the engine asks for the user handle and the calls again.
  board_.reconnectNeeded.store(true);
  if (lostTicks_ > kRediscoverTicks && !backNoticed_) {
    backNoticed_ = true;
    notices_.load()->Notify(Notice::kClientBack, nullptr);
  }
}

void ApiLink::BeginLoss() {
  attachedTicks_ = 0;
  if (lost_) return;  // attached and lost again before it stayed: the same loss
  lost_ = true;
  lostTicks_ = 0;
  lookLogged_ = false;
  backNoticed_ = false;
}

void ApiLink::OnTimer() {
  // A client that went without a word (its window destroyed, its process killed) is lost exactly as
  // after a refused delivery; otherwise nothing would notice until Halvane next sends a command.
  const WindowHandle apiWindow = board_.apiWindow.load();
  if (apiWindow != 0 && !windows_.WindowExists(apiWindow)) commands_.ForgetClient(apiWindow);
  if (commands_.TakeClientLost()) BeginLoss();
  if (board_.apiWindow.load() != 0) {
    ticksWaited_ = 0;
    if (lost_) ++lostTicks_;
    // Attached for a whole interval: the loss is over, and the next one is news again.
    if (++attachedTicks_ >= kRediscoverTicks) {
      lost_ = false;
      lookLogged_ = false;
    }
    return;
  }
  attachedTicks_ = 0;
  if (lost_) ++lostTicks_;
  if (lastAnswer_ == kAttachPendingAuthorization || lastAnswer_ == kAttachRefused) {
    ticksWaited_ = 0;
    return;
  }
  if (++ticksWaited_ < kRediscoverTicks) return;
  ticksWaited_ = 0;
  if (!lookLogged_) log_.WriteLog(kLogRediscover);
  lookLogged_ = true;
  DiscoverHere();
}

}  // namespace halvane
