#pragma once
// The engine's phase reports on Windows: posted to the main window, whose own thread changes the tray
// icon (the engine runs on the worker thread and must not touch the window's icon record).

#include <windows.h>

#include "base/call_board.h"
#include "engine/call_phases.h"

namespace halvane {

// Posted to the main window; wParam is the CallPhase.
inline constexpr UINT kPhaseChangedMessage = WM_APP + 0x20;

// The window property on the main window that names the icon resource the tray shows (for tools
// that watch the program: the notification area cannot be read back by another program).
inline constexpr char kTrayIconProperty[] = "Halvane.TrayIcon";

class Win32CallPhases final : public CallPhases {
 public:
  explicit Win32CallPhases(const CallBoard& board) : m_board(board) {}
  // Posts kPhaseChangedMessage to the call board's main window; nothing when there is none yet.
  void PhaseChanged(CallPhase phase) override;

 private:
  const CallBoard& m_board;
};

}  // namespace halvane
