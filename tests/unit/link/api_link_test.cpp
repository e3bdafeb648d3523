// Attach and transport logic against a recording window system.
#include "link/api_link.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "recording_fakes.h"

// The test program's allocator: a test can see the largest block asked for during a call, and make
// every request from a size on fail as on a machine out of memory.
namespace {
std::atomic<std::size_t> largestAllocation{0};
std::atomic<std::size_t> failAllocationsFrom{0};  // 0: none fail

void* Allocate(std::size_t size) noexcept {
  const std::size_t limit = failAllocationsFrom.load();
  if (limit != 0 && size >= limit) return nullptr;
  std::size_t largest = largestAllocation.load();
  while (size > largest && !largestAllocation.compare_exchange_weak(largest, size)) {
  }
  return std::malloc(size == 0 ? 1 : size);
}

void* AllocateOrThrow(std::size_t size) {
  void* block = Allocate(size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}
}  // namespace

void* operator new(std::size_t size) { return AllocateOrThrow(size); }
void* operator new[](std::size_t size) { return AllocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }

namespace halvane {
namespace {

constexpr WindowHandle kMainWindow = 0x500;
constexpr WindowHandle kLinkWindow = 0x600;
constexpr WindowHandle kClientWindow = 0x700;
constexpr WindowHandle kOtherWindow = 0x701;
constexpr WindowHandle kGoneWindow = 0x702;  // no such window exists
constexpr ProcessHandle kProcess = 0x40;
constexpr EventHandle kEvent = 0x44;
constexpr unsigned kAttachId = 0xC101;
constexpr unsigned kDiscoverId = 0xC102;
constexpr char kUuid[] = "01234567-89ab-cdef-0123-456789abcdef";
const std::string kClassName = "Skype-API-Test-01234567-89ab-cdef-0123-456789abcdef";

// Records every operation as one text, runs the "message loop" from a queue of posted work, and runs
// started threads either at once (in order, on the caller) or on real threads.
class FakeWindowSystem final : public WindowSystem {
 public:
  explicit FakeWindowSystem(CallBoard& board) : board_(board) {}
  ~FakeWindowSystem() override { JoinThreads(); }
  void JoinThreads() {
    for (std::thread& thread : threads_) thread.join();
    threads_.clear();
  }

  std::string failAt;  // the recorded operation that fails
  bool broadcastDelivered = true;
  bool realThreads = false;
  bool doneWaitRunsOut = false;          // the wait for the done event answers at once that its bound passed
  std::function<void()> onBroadcast;     // runs inside every broadcast, as the client's answer would
  std::atomic<WindowHandle> vanished{0};  // a window destroyed without a word
  int deepest = 0;                       // how many broadcasts ran inside one another at most

  struct BroadcastSeen {
    unsigned message;
    WindowHandle sender;
    WindowHandle ownWindow;
    WindowHandle apiWindow;
    bool reconnectNeeded;
  };

  std::vector<std::string> Calls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }
  std::vector<BroadcastSeen> Broadcasts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return broadcasts_;
  }

  bool WindowExists(WindowHandle window) override { return window != 0 && window != kGoneWindow && window != vanished.load(); }
  void HideWindow(WindowHandle window) override { Record("hide " + std::to_string(window)); }
  unsigned RegisterMessage(const char* name) override {
    if (Fails(std::string("register ") + name)) return 0;
    return std::strcmp(name, kAttachMessageName) == 0 ? kAttachId : kDiscoverId;
  }
  bool NewUuidText(std::string& text) override {
    text = kUuid;
    return !Fails("uuid");
  }
  ProcessHandle OpenOwnProcess() override { return Fails("open process") ? 0 : kProcess; }
  void CloseProcess(ProcessHandle process) override { Record("close process " + std::to_string(process)); }
  bool RegisterLinkClass(const char* className, ProcessHandle instance) override {
    return !Fails("register class " + std::to_string(instance) + " " + className);
  }
  void UnregisterLinkClass(const char* className, ProcessHandle instance) override {
    Record("unregister class " + std::to_string(instance) + " " + className);
  }
  WindowHandle CreateLinkWindow(const char* className, ProcessHandle instance, LinkWindowEvents& events) override {
    if (Fails("create window " + std::to_string(instance) + " " + className)) return 0;
    events_ = &events;
    return kLinkWindow;
  }
  void DestroyLinkWindow(WindowHandle window) override {
    Record("destroy window " + std::to_string(window));
    events_->OnDestroy();
  }
  bool StartTimer(WindowHandle window, std::uint32_t intervalMs) override {
    return !Fails("start timer " + std::to_string(window) + " " + std::to_string(intervalMs));
  }
  void PostClose(WindowHandle window) override {
    Record("post close " + std::to_string(window));
    // The default procedure answers WM_CLOSE by destroying the window.
    Post(Item{[this, window] { DestroyLinkWindow(window); }, false});
  }
  void PostQuit() override {
    Record("post quit");
    Post(Item{nullptr, true});
  }

  void RunMessageLoop() override {
    Record("loop");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
      Item item;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!queued_.wait_until(lock, deadline, [this] { return !queue_.empty(); })) {
          calls_.push_back("loop timed out");
          return;
        }
        item = std::move(queue_.front());
        queue_.pop_front();
      }
      if (item.quit) break;
      item.work();
    }
    Record("loop ended");
  }

  bool Broadcast(unsigned message, WindowHandle sender, WindowHandle ownWindow) override {
    Record("broadcast");
    {
      std::lock_guard<std::mutex> lock(mutex_);
      broadcasts_.push_back({message, sender, ownWindow, board_.apiWindow.load(), board_.reconnectNeeded.load()});
    }
    deepest = std::max(deepest, ++depth_);
    if (onBroadcast) onBroadcast();
    --depth_;
    return broadcastDelivered;
  }

  EventHandle CreateDoneEvent() override { return Fails("create event") ? 0 : kEvent; }
  void SetDoneEvent(EventHandle event) override {
    Record("set event " + std::to_string(event));
    std::lock_guard<std::mutex> lock(mutex_);
    eventSet_ = true;
    queued_.notify_all();
  }
  bool WaitDoneEvent(EventHandle event, std::uint32_t timeoutMs) override {
    Record("wait event " + std::to_string(event) + " for " + std::to_string(timeoutMs) + " ms");
    if (doneWaitRunsOut) return false;
    std::unique_lock<std::mutex> lock(mutex_);
    return queued_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return eventSet_; });
  }
  void CloseDoneEvent(EventHandle event) override { Record("close event " + std::to_string(event)); }

  bool StartThread(std::function<void()> body) override {
    if (Fails("start thread")) return false;
    if (realThreads) {
      threads_.emplace_back(std::move(body));
    } else {
      body();
    }
    return true;
  }

 private:
  struct Item {
    std::function<void()> work;
    bool quit = false;
  };

  void Record(std::string call) {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(std::move(call));
  }
  bool Fails(const std::string& call) {
    Record(call);
    return call == failAt;
  }
  void Post(Item item) {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(item));
    queued_.notify_all();
  }

  CallBoard& board_;
  std::mutex mutex_;
  std::condition_variable queued_;
  std::deque<Item> queue_;
  bool eventSet_ = false;
  std::vector<std::string> calls_;
  std::vector<BroadcastSeen> broadcasts_;
  LinkWindowEvents* events_ = nullptr;
  std::vector<std::thread> threads_;
  int depth_ = 0;
};

using test::RecordingDelivery;
using test::RecordingLog;
using test::RecordingNotices;

class ApiLinkTest : public ::testing::Test {
 protected:
  ApiLinkTest() : windows(board), commands(board, delivery, SystemCodePage()) {
    board.mainWindow.store(kMainWindow);
  }

  std::unique_ptr<ApiLink> MakeLink(ApiLink::Engine engine = {}) {
    return std::make_unique<ApiLink>(board, log, SystemCodePage(), windows, commands, std::move(engine));
  }

  std::unique_ptr<ApiLink> AttachedLink() {
    auto link = MakeLink();
    EXPECT_TRUE(link->Open());
    EXPECT_TRUE(link->OnMessage(kAttachId, kClientWindow, kAttachSuccess));
    EXPECT_EQ(board.apiWindow.load(), kClientWindow);
    return link;
  }

  test::WatchedBoard board;
  FakeWindowSystem windows;
  RecordingLog log;
  RecordingDelivery delivery;
  CommandLink commands;
};

TEST_F(ApiLinkTest, AttachStatusesChangeOnlyWhatTheirRowSays) {
  struct Row {
    std::intptr_t status;
    WindowHandle wParam;
    WindowHandle apiWindowAfter;
    const char* logAfter;
    bool reconnectAfter;
    std::size_t broadcasts;
  };
  const Row rows[] = {
      {kAttachSuccess, kOtherWindow, kOtherWindow, "", false, 0},
      {kAttachSuccess, 0, kClientWindow, "", false, 0},
      {kAttachSuccess, kGoneWindow, kClientWindow, "", false, 0},
      {kAttachPendingAuthorization, kOtherWindow, kClientWindow, "", false, 0},
      {kAttachRefused, kOtherWindow, kClientWindow, "!!! Connection refused\n", false, 0},
      {kAttachNotAvailable, kOtherWindow, kClientWindow, "!!! Skype API not available\n", false, 0},
      {kAttachAvailable, kOtherWindow, 0, "\nSkype re-start/re-login\n", true, 1},
      {7, kOtherWindow, kClientWindow, "", false, 0},
      {-1, kOtherWindow, kClientWindow, "", false, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("status " + std::to_string(row.status));
    board.apiWindow.store(0);
    board.reconnectNeeded.store(false);
    FakeWindowSystem rowWindows(board);
    RecordingLog rowLog;
    ApiLink link(board, rowLog, SystemCodePage(), rowWindows, commands, {});
    ASSERT_TRUE(link.Open());
    ASSERT_TRUE(link.OnMessage(kAttachId, kClientWindow, kAttachSuccess));

    EXPECT_TRUE(link.OnMessage(kAttachId, row.wParam, row.status)) << "the attach message is answered 1";
    EXPECT_EQ(board.apiWindow.load(), row.apiWindowAfter);
    EXPECT_EQ(rowLog.Text(), row.logAfter);
    EXPECT_EQ(board.reconnectNeeded.load(), row.reconnectAfter);
    EXPECT_EQ(rowWindows.Broadcasts().size(), row.broadcasts);
    link.Close();
  }
}

TEST_F(ApiLinkTest, OnlyTheRegisteredAttachMessageIsHandled) {
  auto link = MakeLink();
  // Before the messages are registered nothing is the attach message, not even message 0.
  EXPECT_FALSE(link->OnMessage(0, kClientWindow, kAttachSuccess));
  ASSERT_TRUE(link->Open());
  // While not attached no window is the client's, not even "no window".
  const char line[] = "CALL 1 STATUS RINGING";
  EXPECT_FALSE(link->OnCopyData(0, line, sizeof line));
  EXPECT_TRUE(board.Latest().id.empty());
  EXPECT_FALSE(link->OnMessage(0, kClientWindow, kAttachSuccess));
  EXPECT_FALSE(link->OnMessage(kDiscoverId, kClientWindow, kAttachSuccess));
  EXPECT_FALSE(link->OnMessage(0x0010 /* WM_CLOSE */, 0, 0));
  EXPECT_EQ(board.apiWindow.load(), 0u) << "other messages go to the default procedure untouched";
  EXPECT_TRUE(link->OnMessage(kAttachId, kClientWindow, kAttachSuccess));
  EXPECT_EQ(board.apiWindow.load(), kClientWindow);
  link->Close();
}

TEST_F(ApiLinkTest, CopyDataIsTakenOnlyFromTheApiWindowAndBoundedBySize) {
  struct Row {
    const char* name;
    WindowHandle sender;
    std::string bytes;  // exactly the cbData bytes, nothing after them
    bool answer;
    const char* callId;
    const char* status;
    std::size_t failFrom = 0;  // allocations of this size and more fail; 0: none
  };
  using namespace std::string_literals;
  const Row rows[] = {
      {"from the API window", kClientWindow, "CALL 1234 STATUS RINGING\0"s, true, "1234", "RINGING"},
      {"from another window", kOtherWindow, "CALL 1234 STATUS RINGING\0"s, false, "", ""},
      {"from no window", 0, "CALL 1234 STATUS RINGING\0"s, false, "", ""},
      {"no zero within cbData", kClientWindow, "CALL 55 STATUS ROUTING"s, true, "55", "ROUTING"},
      {"zero in the middle", kClientWindow, "CALL 5 STATUS MISSED\0CALL 6 STATUS INPROGRESS\0"s, true, "5",
       "MISSED"},
      {"cut short UTF-8 is dropped", kClientWindow, "CALL 9 STATUS RINGING\xE2\x82\0"s, true, "", ""},
      {"UTF-8 converted first", kClientWindow, "CALL 8 STATUS R\xC3\xA9\0"s, true, "8", "R\xE9"},
      {"empty", kClientWindow, ""s, true, "", ""},
      {"64 KiB in all", kClientWindow, "CALL 4 STATUS RINGING\0"s + std::string(65536 - 22, 'x'), true, "4",
       "RINGING"},
      {"one byte more is dropped uncopied", kClientWindow, "CALL 3 STATUS RINGING"s + std::string(65537 - 21, 'x'),
       true, "", ""},
      {"no memory for the copy", kClientWindow, "CALL 2 STATUS RINGING"s + std::string(8000, 'x'), true, "", "",
       4096},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto link = AttachedLink();
    board.calls.TakeNews();  // only this row's lines count
    // More text follows the cbData bytes in memory: none of it may show up on the board.
    const std::string buffer = row.bytes + " TAIL";
    const void* lpData = row.bytes.empty() ? nullptr : buffer.data();

    // Twice: a text too long is reported once.
    largestAllocation.store(0);
    failAllocationsFrom.store(row.failFrom);
    const bool first = link->OnCopyData(row.sender, lpData, row.bytes.size());
    const bool second = link->OnCopyData(row.sender, lpData, row.bytes.size());
    failAllocationsFrom.store(0);
    EXPECT_EQ(first, row.answer);
    EXPECT_EQ(second, row.answer);
    EXPECT_LT(largestAllocation.load(), 4096u) << "the client's text was copied whole";
    const std::vector<CallStatusLine> news = board.calls.TakeNews();
    const CallStatusLine got = news.empty() ? CallStatusLine{} : news.back();
    EXPECT_EQ(got.id, row.callId);
    EXPECT_EQ(got.status, row.status);
    link->Close();
  }
  EXPECT_EQ(log.Text(), "!!! Skype sent a text longer than 65536 bytes; such texts are dropped\n");
}

// A client starting after the program: the engine runs on the worker once the first broadcast went out;
// here it plays the client's later messages as they would arrive on the link thread. A re-login forgets
// the client before its broadcast goes out and flags the reconnect after; an attach that answers the
// broadcast while it is still going out stands.
TEST_F(ApiLinkTest, ReLoginForgetsTheClientBeforeBroadcastingAndFlagsAfter) {
  std::unique_ptr<ApiLink> link;
  link = MakeLink([&] {
    EXPECT_EQ(board.apiWindow.load(), 0u);
    EXPECT_TRUE(link->OnMessage(kAttachId, kClientWindow, kAttachSuccess));
    EXPECT_TRUE(link->OnMessage(kAttachId, kClientWindow, kAttachAvailable));
    EXPECT_EQ(board.apiWindow.load(), 0u);
    EXPECT_FALSE(commands.SendCommand("#KALDU get currentuserhandle")) << "not attached: nothing delivered";
    windows.onBroadcast = [&] { link->OnMessage(kAttachId, kOtherWindow, kAttachSuccess); };
    link->OnMessage(kAttachId, kClientWindow, kAttachAvailable);
    EXPECT_EQ(board.apiWindow.load(), kOtherWindow);
    EXPECT_TRUE(commands.SendCommand("#KALDU get currentuserhandle"));
  });
  link->RunLinkThread();

  EXPECT_EQ(log.Text(), "\nSkype re-start/re-login\n\nSkype re-start/re-login\n");
  EXPECT_TRUE(board.reconnectNeeded.load());
  const auto broadcasts = windows.Broadcasts();
  ASSERT_EQ(broadcasts.size(), 3u);
  EXPECT_EQ(broadcasts[1].message, kDiscoverId);
  EXPECT_EQ(broadcasts[1].sender, kLinkWindow);
  EXPECT_EQ(broadcasts[1].ownWindow, kMainWindow) << "the main window's thread is passed over";
  EXPECT_EQ(broadcasts[1].apiWindow, 0u) << "the handle is zero before the broadcast goes out";
  EXPECT_FALSE(broadcasts[1].reconnectNeeded) << "the flag is set only after the broadcast";
  ASSERT_EQ(delivery.sent.size(), 1u);
  EXPECT_EQ(delivery.sent[0].target, kOtherWindow);
  EXPECT_EQ(delivery.sent[0].sender, kLinkWindow) << "commands carry the link window as wParam";
  EXPECT_EQ(delivery.sent[0].bytes, std::string("#KALDU get currentuserhandle") + '\0');
}

// A start takes its steps in order; when one fails, what was done is undone in reverse and neither the
// worker nor the engine runs. With the broadcast undelivered the full start stops in order at once.
TEST_F(ApiLinkTest, AFailedStartUndoesWhatWasDoneInReverse) {
  const std::vector<std::string> fullStart = {
      "hide 1280", "register SkypeControlAPIAttach", "register SkypeControlAPIDiscover", "uuid", "open process",
      "register class 64 " + kClassName, "create window 64 " + kClassName, "start timer 1536 1000",
      "create event", "start thread", "broadcast", "post close 1536", "set event 68", "loop",
      "destroy window 1536", "post quit", "loop ended", "wait event 68 for 5000 ms", "close event 68",
      "unregister class 64 " + kClassName, "close process 64"};
  const std::string unregister = "unregister class 64 " + kClassName;
  const std::pair<std::string, std::vector<std::string>> rows[] = {  // the failing step, what follows it
      {"", {}},
      {"register SkypeControlAPIAttach", {}},
      {"register SkypeControlAPIDiscover", {}},
      {"uuid", {}},
      {"open process", {}},
      {"register class 64 " + kClassName, {"close process 64"}},
      {"create window 64 " + kClassName, {unregister, "close process 64"}},
      {"create event", {"destroy window 1536", "post quit", unregister, "close process 64"}},
      {"start thread", {"close event 68", "destroy window 1536", "post quit", unregister, "close process 64"}},
  };
  for (const auto& [failAt, undo] : rows) {
    SCOPED_TRACE("failing step " + failAt);
    FakeWindowSystem rowWindows(board);
    rowWindows.failAt = failAt;
    rowWindows.broadcastDelivered = false;
    board.apiWindow.store(kOtherWindow);  // left over; a start forgets it
    bool engineRan = false;
    ApiLink link(board, log, SystemCodePage(), rowWindows, commands, [&] { engineRan = true; });

    link.RunLinkThread();

    EXPECT_FALSE(engineRan);
    EXPECT_TRUE(link.Stopped());
    EXPECT_EQ(board.apiWindow.load(), 0u);
    EXPECT_EQ(link.LinkWindow(), 0u);
    EXPECT_EQ(commands.LinkWindow(), 0u);
    auto want = fullStart;
    if (!failAt.empty()) want.assign(fullStart.begin(), std::find(fullStart.begin(), fullStart.end(), failAt) + 1);
    want.insert(want.end(), undo.begin(), undo.end());
    EXPECT_EQ(rowWindows.Calls(), want);
    if (failAt.empty()) {
      EXPECT_EQ(link.ClassName(), kClassName);
    }
  }
}

// Ticks in virtual time: after each way of losing the client (or never having it), how many discoveries
// the link sends by itself at the 9th, 10th and 30th tick, and what it logs; then the client attaches:
// whether the engine is asked to connect again and whether the operator hears the client is back.
TEST_F(ApiLinkTest, LooksForTheClientEveryTenTicksWhileNotAttached) {
  constexpr std::intptr_t kRefusedDelivery = -2;  // steps that are not attach statuses
  constexpr std::intptr_t kDetached = -3;
  constexpr std::intptr_t kNeverAttached = -4;
  constexpr std::intptr_t kAttachFromNoWindow = -5;
  constexpr std::intptr_t kVanished = -6;
  const std::string looking = "!!! Skype not attached, looking for it again\n";
  struct Row {
    const char* name;
    std::vector<std::intptr_t> lose;  // steps taken while attached
    std::intptr_t answer;             // the client's answer to each look; -1: none
    std::size_t at9, at10, at30;
    std::string logged;
    bool reconnect;  // the engine is asked to connect again by the time the client is back
    int backNotices;
  };
  const Row rows[] = {
      {"refused delivery", {kRefusedDelivery}, -1, 0, 1, 3, looking, true, 1},
      {"client window vanished without a word", {kVanished}, -1, 0, 1, 3, looking, true, 1},
      {"API not available while not attached", {kDetached, kAttachNotAvailable}, kAttachNotAvailable, 0, 1, 3,
       "!!! Skype API not available\n" + looking, false, 0},
      {"the user refuses access", {kRefusedDelivery, kAttachRefused}, -1, 0, 0, 0, "!!! Connection refused\n", true,
       1},
      {"the user is being asked", {kDetached, kAttachPendingAuthorization}, -1, 0, 0, 0, "", false, 0},
      {"API not available while attached", {kAttachNotAvailable}, -1, 0, 0, 0, "!!! Skype API not available\n",
       false, 0},
      {"found again by the first look", {kRefusedDelivery}, kAttachSuccess, 0, 1, 1, looking, true, 0},
      {"first discovery unanswered", {kNeverAttached}, -1, 0, 1, 3, looking, false, 0},
      {"attach status 0 from no window", {kNeverAttached, kAttachFromNoWindow}, -1, 0, 1, 3, looking, false, 0},
      {"every look answered 0x8001", {kRefusedDelivery}, kAttachAvailable, 0, 2, 6, looking, true, 1},
      {"found at each look, refused each time", {kRefusedDelivery}, kAttachSuccess - 10, 0, 1, 3, looking, true, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FakeWindowSystem rowWindows(board);
    RecordingLog rowLog;
    RecordingNotices notices;
    board.apiWindow.store(0);
    board.reconnectNeeded.store(false);
    commands.TakeClientLost();
    ApiLink link(board, rowLog, SystemCodePage(), rowWindows, commands, {});
    link.SetNotices(notices);
    ASSERT_TRUE(link.Open());
    if (row.lose.front() != kNeverAttached) {
      ASSERT_TRUE(link.OnMessage(kAttachId, kClientWindow, kAttachSuccess));
    }
    delivery.answer = DeliveryResult::kRefused;
    if (row.answer >= 0) rowWindows.onBroadcast = [&] { link.OnMessage(kAttachId, kClientWindow, row.answer); };
    if (row.answer == kAttachSuccess - 10) {  // attaches, then refuses the engine's first command
      rowWindows.onBroadcast = [&] {
        link.OnMessage(kAttachId, kClientWindow, kAttachSuccess);
        testing::internal::CaptureStdout();
        commands.SendCommand("#KALDU get currentuserhandle");
        testing::internal::GetCapturedStdout();
      };
    }
    for (const std::intptr_t step : row.lose) {
      testing::internal::CaptureStdout();
      if (step == kRefusedDelivery) commands.SendCommand("#KALDU open contacts");
      testing::internal::GetCapturedStdout();
      if (step == kDetached) board.apiWindow.store(0);
      if (step == kAttachFromNoWindow) link.OnMessage(kAttachId, 0, kAttachSuccess);
      if (step == kVanished) rowWindows.vanished.store(kClientWindow);
      if (step >= 0) link.OnMessage(kAttachId, kClientWindow, step);
    }
    std::size_t seen[31] = {};
    for (int tick = 1; tick <= 30; ++tick) {
      link.OnTimer();
      seen[tick] = rowWindows.Broadcasts().size();
    }
    EXPECT_EQ(seen[9], row.at9);
    EXPECT_EQ(seen[10], row.at10);
    EXPECT_EQ(seen[30], row.at30);
    EXPECT_EQ(rowLog.Text(), row.logged);
    EXPECT_LE(rowWindows.deepest, 1) << "a broadcast ran inside another";
    for (const auto& broadcast : rowWindows.Broadcasts()) EXPECT_EQ(broadcast.sender, kLinkWindow);

    // Attached (again): no more looking.
    rowWindows.onBroadcast = nullptr;
    rowWindows.vanished.store(0);
    link.OnMessage(kAttachId, kClientWindow, kAttachSuccess);
    EXPECT_EQ(board.reconnectNeeded.load(), row.reconnect);
    EXPECT_EQ(std::count(notices.got.begin(), notices.got.end(), static_cast<int>(Notice::kClientBack)), row.backNotices);
    for (int tick = 0; tick < 30; ++tick) link.OnTimer();
    EXPECT_EQ(rowWindows.Broadcasts().size(), row.at30);
    link.Close();
  }
  delivery.answer = DeliveryResult::kAccepted;
}

// The link thread gives up waiting for the worker's done event at its bound while the worker still runs:
// the worker, finishing later, sets the event and is the one to close it, once. Run under
// ThreadSanitizer too: the handle is never a plain value that both threads write.
TEST_F(ApiLinkTest, ADoneEventWaitThatRunsOutLeavesTheEventToTheWorker) {
  windows.realThreads = true;
  windows.doneWaitRunsOut = true;
  std::atomic<bool> release{false};
  auto link = MakeLink([&] {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!release.load() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  });
  std::thread linkThread([&] { link->RunLinkThread(); });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (link->LinkWindow() == 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  ASSERT_NE(link->LinkWindow(), 0u) << "waited for the link window";
  windows.PostQuit();  // the loop ends while the engine still runs
  linkThread.join();
  EXPECT_TRUE(link->Stopped());
  release.store(true);
  windows.JoinThreads();

  const auto calls = windows.Calls();
  const auto set = std::find(calls.begin(), calls.end(), "set event 68");
  EXPECT_LT(std::find(calls.begin(), calls.end(), "wait event 68 for 5000 ms"), set);
  EXPECT_EQ(std::vector<std::string>(set, calls.end()), (std::vector<std::string>{"set event 68", "close event 68"}));
}

}  // namespace
}  // namespace halvane
