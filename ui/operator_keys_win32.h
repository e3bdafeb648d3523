#pragma once
// The operator's system-wide keys on Windows: the plan read from Halvane.ini beside the program, and
// the keys registered on the main window (WM_HOTKEY) for as long as it exists.

#include <windows.h>

#include <array>
#include <optional>
#include <string>

#include "base/log_writer.h"
#include "ui/operator_keys.h"

namespace halvane {

// "Halvane.ini" in the program's own folder; empty when the folder cannot be told.
std::string OperatorKeysIniPath();

// Reads the [Hotkeys] section of the file once (a missing file gives the defaults) and prints the
// plan's reports to standard output.
HotkeyPlan LoadHotkeyPlan(const std::string& iniPath);

class OperatorKeys {
 public:
  explicit OperatorKeys(const HotkeyPlan& plan) : m_plan(plan) {}
  ~OperatorKeys() = default;
  OperatorKeys(const OperatorKeys&) = delete;
  OperatorKeys& operator=(const OperatorKeys&) = delete;

  // Registers every key that is on. A key the platform still refuses after kRetryMs (another program
  // holds it) is reported once on standard output and in `log`; the others still register.
  void Register(HWND window, LogWriter& log);
  // Releases what Register took.
  void Unregister();
  // The request of a WM_HOTKEY's id; nullopt for an id that is not ours.
  std::optional<OperatorKey> RequestFor(WPARAM hotkeyId) const;

 private:
  // Hotkey ids are the request's index plus this (an application's range starts at 0).
  static constexpr int kFirstHotkeyId = 1;
  // How long a refused key is tried again, and how often.
  static constexpr DWORD kRetryMs = 1000;
  static constexpr DWORD kRetryPollMs = 50;

  HotkeyPlan m_plan;
  HWND m_window = nullptr;
  std::array<bool, kOperatorKeyCount> m_registered{};
};

}  // namespace halvane
