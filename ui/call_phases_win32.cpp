#include "ui/call_phases_win32.h"

namespace halvane {

void Win32CallPhases::PhaseChanged(CallPhase phase) {
  const HWND window = reinterpret_cast<HWND>(m_board.mainWindow.load());
  if (window != nullptr) PostMessageA(window, kPhaseChangedMessage, static_cast<WPARAM>(phase), 0);
}

}  // namespace halvane
