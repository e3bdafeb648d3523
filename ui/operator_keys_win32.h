#pragma once
// The operator's system-wide keys on Windows: the plan read from Halvane.ini beside the program, and
// the keys registered on the main window (WM_HOTKEY) for as long as it exists.

#include <windows.h>

#include <array>
#include <optional>
#include <string>

#include "base/log_writer.h"
#include "base/notices.h"
#include "ui/halvane_ini.h"
#include "ui/operator_keys.h"

namespace halvane {

// "Halvane.ini" in the program's own folder; empty when the folder cannot be told.
std::string OperatorKeysIniPath();

// The file read once (at most 64 KiB); a missing or unreadable file gives the defaults.
HalvaneIni LoadHalvaneIni(const std::string& iniPath);

// The keys of the [Hotkeys] section; the plan's reports, the file's own mistakes first (all but those in
// [Notices]), are made when the keys are registered.
HotkeyPlan LoadHotkeyPlan(const std::string& iniPath);

// One set-up problem, told the three ways: standard output, the session log, and a notice (without
// the leading "!!! " and the line end).
void ReportSetupProblem(const std::string& report, LogWriter& log, Notices& notices);

class OperatorKeys {
 public:
  explicit OperatorKeys(const HotkeyPlan& plan) : m_plan(plan) {}
  ~OperatorKeys() = default;
  OperatorKeys(const OperatorKeys&) = delete;
  OperatorKeys& operator=(const OperatorKeys&) = delete;

  // Reports the plan's problems, then registers every key that is on. A refused key is tried again on
  // the window's timer kRetryTimer (the window hands its ticks to OnRetryTimer), so the window never
  // waits; one still refused after kRetryMs is reported once with the platform's error.
  void Register(HWND window, LogWriter& log, Notices& notices);
  // WM_TIMER kRetryTimer.
  void OnRetryTimer();
  // Releases what Register took.
  void Unregister();

  // The main window's timer id for the retry (the tray icon's retry uses 1).
  static constexpr UINT_PTR kRetryTimer = 2;
  // The request of a WM_HOTKEY's id; nullopt for an id that is not ours.
  std::optional<OperatorKey> RequestFor(WPARAM hotkeyId) const;

 private:
  // Hotkey ids are the request's index plus this (an application's range starts at 0).
  static constexpr int kFirstHotkeyId = 1;
  // How long a refused key is tried again, and how often.
  static constexpr DWORD kRetryMs = 1000;
  static constexpr DWORD kRetryPollMs = 50;

  // Tries each key not yet registered once; the platform's error of each refusal is kept.
  bool TryRefusedKeys();
  void ReportRefusedKeys();

  HotkeyPlan m_plan;
  HWND m_window = nullptr;
  LogWriter* m_log = nullptr;
  Notices* m_notices = nullptr;
  DWORD m_retryStart = 0;
  bool m_retrying = false;
  std::array<bool, kOperatorKeyCount> m_registered{};
  std::array<DWORD, kOperatorKeyCount> m_error{};
};

}  // namespace halvane
