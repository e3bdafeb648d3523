#pragma once
// Attach and transport: makes the program known to the client through the client's attach handshake,
// owns the hidden link window that receives the client's attach answers and texts, and runs the link
// thread and the worker thread that runs the engine.
//
// The composition root builds one ApiLink beside the CallBoard and the CommandLink, records the main
// window on the board and calls Start(). The link thread then hides the main window, attaches and starts
// the worker, which broadcasts the discovery message and, when it was delivered, calls runEngine. There is
// no stop: the threads end with the process, except after an undelivered broadcast, when the link undoes
// itself in order (window, event, class, process handle) and the program goes on without a link.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "base/call_board.h"
#include "base/log_writer.h"
#include "base/notices.h"
#include "link/codepage.h"
#include "link/protocol.h"
#include "link/window_system.h"

namespace halvane {

inline constexpr char kDiscoverMessageName[] = "SkypeControlAPIDiscover";
inline constexpr char kAttachMessageName[] = "SkypeControlAPIAttach";
inline constexpr char kLinkClassPrefix[] = "Skype-API-Test-";

// The lParam of the attach message.
enum AttachStatus : std::intptr_t {
  kAttachSuccess = 0,
  kAttachPendingAuthorization = 1,
  kAttachRefused = 2,
  kAttachNotAvailable = 3,
  kAttachAvailable = 0x8001,  // the client restarted or its user signed in again
};

inline constexpr char kLogConnectionRefused[] = "!!! Connection refused\n";
inline constexpr char kLogApiNotAvailable[] = "!!! Skype API not available\n";
inline constexpr char kLogReLogin[] = "\nSkype re-start/re-login\n";

inline constexpr char kLogRediscover[] = "!!! Skype not attached, looking for it again\n";

// How long the link thread waits for the worker's done event once its message loop has ended.
inline constexpr std::uint32_t kWorkerDoneWaitMs = 5000;

// While no client is attached, from the first discovery on, the link looks for it again every
// kRediscoverTicks ticks of kRediscoverTickMs (about every 10 s), except while the client's last answer
// was 1 or 2 (its user is being asked). A loss lasts until the client has stayed attached for as long.
inline constexpr std::uint32_t kRediscoverTickMs = 1000;
inline constexpr unsigned kRediscoverTicks = 10;

// A WM_COPYDATA payload larger than this is dropped before anything is copied: far above any real line.
inline constexpr std::size_t kMaxLineBytes = 65536;
inline constexpr char kLogLineTooLong[] = "!!! Skype sent a text longer than 65536 bytes; such texts are dropped\n";

class ApiLink final : public LinkWindowEvents {
 public:
  using Engine = std::function<void()>;

  // runEngine runs on the worker thread once the discovery broadcast was delivered; in the program it
  // never returns. Everything passed in must outlive the link thread.
  ApiLink(CallBoard& board, LogWriter& log, CodePage& codePage, WindowSystem& windows, CommandLink& commands,
          Engine runEngine);

  // Where the link reports a client found again after a loss of more than kRediscoverTicks ticks
  // (Notice::kClientBack); NoNotices() until set. Set before Start.
  void SetNotices(Notices& notices) { notices_.store(&notices); }

  // Starts the link thread. False when it could not be started (the caller tells the operator).
  bool Start();

  // The link thread's whole life: Open, the worker, the message loop, then Close once the loop ended.
  void RunLinkThread();

  // Link thread, first half: hides the main window, forgets any API window, registers the two messages
  // and the class, creates the link window. False (with whatever was done already undone) on failure.
  bool Open();
  // Link thread, last half: destroys the link window if it still exists, unregisters the class and
  // closes the own-process handle.
  void Close();
  // The worker thread's body: broadcast, then the engine; when the broadcast was not delivered (or the
  // engine returned) it asks the link window to close. The done event is set after it returns.
  void RunWorker();

  // LinkWindowEvents: the link window procedure.
  void OnDestroy() override;
  bool OnCopyData(WindowHandle sender, const void* data, std::size_t size) override;
  bool OnMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override;
  // Forgets a client whose window no longer exists; looks for the client again once the rediscovery
  // interval has passed without one attached.
  void OnTimer() override;

  WindowHandle LinkWindow() const { return linkWindow_.load(); }
  const std::string& ClassName() const { return className_; }
  unsigned AttachMessage() const { return attachMessage_; }
  unsigned DiscoverMessage() const { return discoverMessage_; }
  // True once the link thread has ended and undone everything it set up.
  bool Stopped() const { return stopped_.load(); }

 private:
  bool RegisterLinkClass();
  void OnAttachStatus(WindowHandle apiWindow, std::intptr_t status);
  void OnAttached(WindowHandle apiWindow);
  void SetLinkWindow(WindowHandle window);
  // Sends the discovery, unless one is running (on either thread): then one more follows that one.
  // The result is that of the discovery sent here (true when it was left to the running one).
  bool Discover();
  // Discover on the link thread, which meanwhile handles the answers sent to the link window.
  void DiscoverHere();
  void BeginLoss();

  CallBoard& board_;
  LogWriter& log_;
  CodePage& codePage_;
  WindowSystem& windows_;
  CommandLink& commands_;
  Engine runEngine_;

  // Set on the link thread before the worker starts, read by both.
  unsigned attachMessage_ = 0;
  unsigned discoverMessage_ = 0;
  std::string className_;
  ProcessHandle process_ = 0;

  // Looking for the client, link thread only: the client's last attach answer, the ticks since the last
  // look, whether a loss is going on and for how many ticks, how long the client has stayed attached
  // since, and whether this loss was logged and its end noticed already.
  std::intptr_t lastAnswer_ = kAttachSuccess;
  unsigned ticksWaited_ = 0;
  bool lost_ = false;
  unsigned lostTicks_ = 0;
  unsigned attachedTicks_ = 0;
  bool lookLogged_ = false;
  bool backNoticed_ = false;
  bool longTextReported_ = false;
  bool discovering_ = false;  // inside a discovery sent from the link thread

  // A discovery is running (worker or link thread), and another was asked for meanwhile.
  std::atomic<bool> broadcasting_{false};
  std::atomic<bool> again_{false};
  std::atomic<Notices*> notices_{&NoNotices()};

  std::atomic<WindowHandle> linkWindow_{0};
  std::atomic<bool> stopped_{false};
};

}  // namespace halvane
