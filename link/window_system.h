#pragma once
// The window-system operations the link's attach and transport logic makes, and nothing more: registered
// messages, the hidden link window and its class, the discovery broadcast, the worker's start and its
// done event, and the link thread's message loop. Windows implements them with USER32, KERNEL32 and
// RPCRT4; tests record them and feed messages in.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "base/call_board.h"

namespace halvane {

class Delivery;

// Opaque kernel handles (HANDLE on Windows); 0 means none.
using ProcessHandle = std::uintptr_t;
using EventHandle = std::uintptr_t;

// What the link window's procedure hands on, already told apart by message.
class LinkWindowEvents {
 public:
  virtual ~LinkWindowEvents() = default;
  // WM_DESTROY: the window is going away.
  virtual void OnDestroy() = 0;
  // WM_COPYDATA from window sender with size bytes at data (lpData, cbData). True answers 1, false 0.
  virtual bool OnCopyData(WindowHandle sender, const void* data, std::size_t size) = 0;
  // Any other message. True when handled (answered 1); false hands it to the default window procedure.
  virtual bool OnMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) = 0;
  // The link window's timer (StartTimer) ticked.
  virtual void OnTimer() = 0;
};

class WindowSystem {
 public:
  virtual ~WindowSystem() = default;

  // True when window is an existing window (IsWindow); false for 0.
  virtual bool WindowExists(WindowHandle window) = 0;
  // Hides the main window at the link thread's start (see SetMainWindowHider).
  virtual void HideWindow(WindowHandle window) = 0;
  // RegisterWindowMessageA: the same name gives the same id in every process; 0 on failure.
  virtual unsigned RegisterMessage(const char* name) = 0;
  // A freshly created UUID in its 36-character string form; false when none could be made.
  virtual bool NewUuidText(std::string& text) = 0;
  // A handle to this process with PROCESS_DUP_HANDLE only, not inheritable; 0 on failure.
  virtual ProcessHandle OpenOwnProcess() = 0;
  virtual void CloseProcess(ProcessHandle process) = 0;
  // Registers the link window class under className, with instance in place of a module handle.
  virtual bool RegisterLinkClass(const char* className, ProcessHandle instance) = 0;
  virtual void UnregisterLinkClass(const char* className, ProcessHandle instance) = 0;
  // Creates the hidden link window; its messages go to events from then on. 0 on failure.
  virtual WindowHandle CreateLinkWindow(const char* className, ProcessHandle instance,
                                        LinkWindowEvents& events) = 0;
  virtual void DestroyLinkWindow(WindowHandle window) = 0;
  // Ticks the link window's events (OnTimer) every intervalMs on the link thread until the window is
  // destroyed. Called on the thread that owns the window. False when no timer could be set.
  virtual bool StartTimer(WindowHandle window, std::uint32_t intervalMs) = 0;
  // Queues WM_CLOSE for window; the default procedure then destroys it.
  virtual void PostClose(WindowHandle window) = 0;
  // Ends the calling thread's message loop (PostQuitMessage).
  virtual void PostQuit() = 0;
  // Gets and dispatches the calling thread's messages until the quit message.
  virtual void RunMessageLoop() = 0;
  // Sends message to every top-level window with sender as wParam and 0 as lParam, except the windows
  // of the threads that run sender and ownWindow (0: none): the program's link and main windows, which
  // would only pass it to default handling. Bounded in time: a hung window does not hold it. True when
  // it went out.
  virtual bool Broadcast(unsigned message, WindowHandle sender, WindowHandle ownWindow) = 0;

  // A manual-reset event, not signalled; 0 on failure.
  virtual EventHandle CreateDoneEvent() = 0;
  virtual void SetDoneEvent(EventHandle event) = 0;
  // True when the event was set within timeoutMs.
  virtual bool WaitDoneEvent(EventHandle event, std::uint32_t timeoutMs) = 0;
  virtual void CloseDoneEvent(EventHandle event) = 0;

  // Runs body on a new thread with the link's small stack. False when the thread could not start.
  virtual bool StartThread(std::function<void()> body) = 0;
};

// The real operations and the real command delivery (WM_COPYDATA, bounded in time). They exist in the
// Windows program only; its composition root is their one user.
WindowSystem& PlatformWindowSystem();
Delivery& PlatformDelivery();

// How the real HideWindow reaches the main window: the user interface owns that window and knows how to
// hide it from another thread, so the composition root hands its request in here before the link starts.
// Until then HideWindow is ShowWindow(window, SW_HIDE).
using MainWindowHider = bool (*)(WindowHandle mainWindow);
void SetMainWindowHider(MainWindowHider hider);

}  // namespace halvane
