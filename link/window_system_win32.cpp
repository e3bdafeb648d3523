// The link's window-system operations and the command delivery on Windows.
#include <windows.h>

#include <process.h>
#include <rpc.h>

#include <cstring>
#include <atomic>
#include <memory>
#include <utility>

#include "link/protocol.h"
#include "link/window_system.h"

namespace halvane {
namespace {

// Both threads of the link run on small stacks.
constexpr unsigned kThreadStackBytes = 0x10000;
// A top-level window that does not answer the discovery within this time is skipped (the client's own
// example waits 1 s on each window).
constexpr UINT kBroadcastTimeoutMs = 2000;
// A client that has not handled a command within this time is busy: the delivery counts as timed out.
constexpr UINT kDeliveryTimeoutMs = 5000;
constexpr UINT_PTR kLinkTimerId = 1;

constexpr DWORD kLinkClassStyle = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
constexpr DWORD kLinkWindowExStyle = WS_EX_APPWINDOW | WS_EX_WINDOWEDGE;
constexpr DWORD kLinkWindowStyle = WS_BORDER | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr int kLinkWindowSize = 128;

std::atomic<MainWindowHider> mainWindowHider{nullptr};

HWND ToHwnd(WindowHandle window) { return reinterpret_cast<HWND>(window); }
HANDLE ToHandle(std::uintptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
HINSTANCE ToInstance(ProcessHandle process) { return reinterpret_cast<HINSTANCE>(process); }

// The link window's procedure: finds the events object stored at creation and tells the messages apart.
// Messages before the object is stored (creation) get the default handling.
LRESULT CALLBACK LinkWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* events = reinterpret_cast<LinkWindowEvents*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (events == nullptr) return DefWindowProcA(window, message, wParam, lParam);

  switch (message) {
    case WM_DESTROY:
      SetWindowLongPtrA(window, GWLP_USERDATA, 0);
      events->OnDestroy();
      return 0;
    case WM_TIMER:
      if (wParam != kLinkTimerId) return DefWindowProcA(window, message, wParam, lParam);
      events->OnTimer();
      return 0;
    case WM_COPYDATA: {
      // Never handed to the default procedure, answered or not.
      const auto* copy = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      if (copy == nullptr) return 0;
      return events->OnCopyData(static_cast<WindowHandle>(wParam), copy->lpData, copy->cbData) ? 1 : 0;
    }
    default:
      if (events->OnMessage(message, static_cast<std::uintptr_t>(wParam), static_cast<std::intptr_t>(lParam))) {
        return 1;
      }
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

// The discovery on its way through the top-level windows: sent to each in turn, each bounded; a hung
// window is given up at once. The windows of the program's own window threads are passed over: they
// would only hand it to default handling, and at start the main window's thread is not yet answering.
struct Discovery {
  UINT message;
  WPARAM sender;
  DWORD ownProcess;
  DWORD skipThreads[2];
};

BOOL CALLBACK DiscoverWindow(HWND window, LPARAM argument) {
  const auto* discovery = reinterpret_cast<const Discovery*>(argument);
  DWORD process = 0;
  const DWORD thread = GetWindowThreadProcessId(window, &process);
  if (process == discovery->ownProcess &&
      (thread == discovery->skipThreads[0] || thread == discovery->skipThreads[1])) {
    return TRUE;
  }
  DWORD_PTR result = 0;
  SendMessageTimeoutA(window, discovery->message, discovery->sender, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                      kBroadcastTimeoutMs, &result);
  return TRUE;
}

// The thread that runs window; 0 (never a thread's id) for none.
DWORD WindowThread(WindowHandle window) {
  return window != 0 ? GetWindowThreadProcessId(reinterpret_cast<HWND>(window), nullptr) : 0;
}

void __cdecl ThreadEntry(void* argument) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
  (*body)();
}

class Win32WindowSystem final : public WindowSystem {
 public:
  bool WindowExists(WindowHandle window) override { return window != 0 && IsWindow(ToHwnd(window)) != FALSE; }

  // The program hands in a request posted to the window's own thread: a hide done from here while the
  // dialog is still starting would be undone by the dialog manager's first show.
  void HideWindow(WindowHandle window) override {
    const MainWindowHider hider = mainWindowHider.load();
    if (hider != nullptr) {
      hider(window);
    } else {
      ShowWindow(ToHwnd(window), SW_HIDE);
    }
  }

  unsigned RegisterMessage(const char* name) override { return RegisterWindowMessageA(name); }

  bool NewUuidText(std::string& text) override {
    UUID uuid;
    const RPC_STATUS status = UuidCreate(&uuid);
    if (status != RPC_S_OK && status != RPC_S_UUID_LOCAL_ONLY) return false;
    RPC_CSTR string = nullptr;
    if (UuidToStringA(&uuid, &string) != RPC_S_OK || string == nullptr) return false;
    text.assign(reinterpret_cast<const char*>(string));
    RpcStringFreeA(&string);
    return true;
  }

  ProcessHandle OpenOwnProcess() override {
    return reinterpret_cast<ProcessHandle>(OpenProcess(PROCESS_DUP_HANDLE, FALSE, GetCurrentProcessId()));
  }

  void CloseProcess(ProcessHandle process) override { CloseHandle(ToHandle(process)); }

  bool RegisterLinkClass(const char* className, ProcessHandle instance) override {
    WNDCLASSA windowClass{};
    windowClass.style = kLinkClassStyle;
    windowClass.lpfnWndProc = LinkWindowProc;
    windowClass.hInstance = ToInstance(instance);
    windowClass.lpszClassName = className;
    return RegisterClassA(&windowClass) != 0;
  }

  void UnregisterLinkClass(const char* className, ProcessHandle instance) override {
    UnregisterClassA(className, ToInstance(instance));
  }

  WindowHandle CreateLinkWindow(const char* className, ProcessHandle instance, LinkWindowEvents& events) override {
    HWND window = CreateWindowExA(kLinkWindowExStyle, className, "", kLinkWindowStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                                  kLinkWindowSize, kLinkWindowSize, nullptr, nullptr, ToInstance(instance), nullptr);
    if (window == nullptr) return 0;
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&events));
    return reinterpret_cast<WindowHandle>(window);
  }

  void DestroyLinkWindow(WindowHandle window) override { DestroyWindow(ToHwnd(window)); }

  bool StartTimer(WindowHandle window, std::uint32_t intervalMs) override {
    return SetTimer(ToHwnd(window), kLinkTimerId, intervalMs, nullptr) != 0;
  }

  void PostClose(WindowHandle window) override { PostMessageA(ToHwnd(window), WM_CLOSE, 0, 0); }

  void PostQuit() override { PostQuitMessage(0); }

  void RunMessageLoop() override {
    MSG message;
    // GetMessageA answers -1 on failure: that ends the loop too, rather than dispatching nothing forever.
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }

  // What HWND_BROADCAST would do, without waiting on the program's own window threads.
  bool Broadcast(unsigned message, WindowHandle sender, WindowHandle ownWindow) override {
    Discovery discovery{message, static_cast<WPARAM>(sender), GetCurrentProcessId(),
                        {WindowThread(sender), WindowThread(ownWindow)}};
    return EnumWindows(DiscoverWindow, reinterpret_cast<LPARAM>(&discovery)) != FALSE;
  }

  EventHandle CreateDoneEvent() override {
    return reinterpret_cast<EventHandle>(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  }

  void SetDoneEvent(EventHandle event) override {
    if (event != 0) SetEvent(ToHandle(event));
  }

  bool WaitDoneEvent(EventHandle event, std::uint32_t timeoutMs) override {
    return WaitForSingleObject(ToHandle(event), timeoutMs) == WAIT_OBJECT_0;
  }

  void CloseDoneEvent(EventHandle event) override { CloseHandle(ToHandle(event)); }

  bool StartThread(std::function<void()> body) override {
    auto* argument = new std::function<void()>(std::move(body));
    const std::uintptr_t thread = _beginthread(ThreadEntry, kThreadStackBytes, argument);
    if (thread == static_cast<std::uintptr_t>(-1) || thread == 0) {
      delete argument;
      return false;
    }
    return true;
  }
};

class Win32Delivery final : public Delivery {
 public:
  DeliveryResult Deliver(WindowHandle target, WindowHandle sender, const char* data, std::uint32_t size) override {
    COPYDATASTRUCT copy{};
    copy.dwData = 0;
    copy.cbData = size;
    copy.lpData = const_cast<char*>(data);  // the receiver reads it only
    DWORD_PTR result = 0;
    const ULONGLONG start = GetTickCount64();
    const LRESULT sent = SendMessageTimeoutA(ToHwnd(target), WM_COPYDATA, static_cast<WPARAM>(sender),
                                             reinterpret_cast<LPARAM>(&copy), SMTO_NORMAL | SMTO_ABORTIFHUNG,
                                             kDeliveryTimeoutMs, &result);
    if (sent != 0) return result != 0 ? DeliveryResult::kAccepted : DeliveryResult::kRefused;
    if (!IsWindow(ToHwnd(target))) return DeliveryResult::kGone;
    // Given up well before the bound: the platform counts the window as hung and never handed it the
    // message. After the whole bound the client may be busy inside this very message and still take it.
    return GetTickCount64() - start < kDeliveryTimeoutMs / 2 ? DeliveryResult::kNotDelivered
                                                             : DeliveryResult::kTimedOut;
  }
};

}  // namespace

WindowSystem& PlatformWindowSystem() {
  static Win32WindowSystem windows;
  return windows;
}

Delivery& PlatformDelivery() {
  static Win32Delivery delivery;
  return delivery;
}

void SetMainWindowHider(MainWindowHider hider) { mainWindowHider.store(hider); }

}  // namespace halvane
