#include "ui/operator_keys_win32.h"

#include <cstdio>

namespace halvane {
namespace {

constexpr char kSection[] = "Hotkeys";
// What the profile call returns for a missing entry; no key text can contain it.
constexpr char kMissing[] = "\x01";

}  // namespace

std::string OperatorKeysIniPath() {
  char path[MAX_PATH] = "";
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::string();
  std::string folder(path, length);
  const std::size_t slash = folder.find_last_of("\\/");
  if (slash == std::string::npos) return std::string();
  return folder.substr(0, slash + 1) + "Halvane.ini";
}

HotkeyPlan LoadHotkeyPlan(const std::string& iniPath) {
  HotkeyEntries entries;
  if (!iniPath.empty()) {
    for (std::size_t i = 0; i < kOperatorKeyCount; ++i) {
      char value[256] = "";
      GetPrivateProfileStringA(kSection, OperatorKeyName(static_cast<OperatorKey>(i)), kMissing, value,
                               static_cast<DWORD>(sizeof value), iniPath.c_str());
      value[sizeof value - 1] = '\0';
      if (std::string(value) != kMissing) entries[i] = value;
    }
  }
  HotkeyPlan plan = PlanHotkeys(entries);
  for (const std::string& report : plan.reports) std::fputs(report.c_str(), stdout);
  std::fflush(stdout);
  return plan;
}

void OperatorKeys::Register(HWND window, LogWriter& log) {
  Unregister();
  m_window = window;
  // The older copy that start-up has just ended may hold the keys until it is fully gone, so a refused
  // key is tried again for a short while before it counts as another program's.
  const DWORD start = GetTickCount();
  for (;;) {
    bool refused = false;
    for (std::size_t i = 0; i < kOperatorKeyCount; ++i) {
      const Hotkey& key = m_plan.keys[i];
      if (key.IsOff() || m_registered[i]) continue;
      // MOD_NOREPEAT: holding the chord down makes one request, not a stream of them.
      m_registered[i] = RegisterHotKey(window, kFirstHotkeyId + static_cast<int>(i), key.modifiers | MOD_NOREPEAT,
                                       key.virtualKey) != FALSE;
      refused = refused || !m_registered[i];
    }
    if (!refused || GetTickCount() - start >= kRetryMs) break;
    Sleep(kRetryPollMs);
  }
  for (std::size_t i = 0; i < kOperatorKeyCount; ++i) {
    const Hotkey& key = m_plan.keys[i];
    if (key.IsOff() || m_registered[i]) continue;
    const std::string report = HotkeyTakenReport(static_cast<OperatorKey>(i), key);
    std::fputs(report.c_str(), stdout);
    std::fflush(stdout);
    log.WriteLog(report.c_str());
  }
}

void OperatorKeys::Unregister() {
  for (std::size_t i = 0; i < kOperatorKeyCount; ++i) {
    if (m_registered[i]) UnregisterHotKey(m_window, kFirstHotkeyId + static_cast<int>(i));
    m_registered[i] = false;
  }
  m_window = nullptr;
}

std::optional<OperatorKey> OperatorKeys::RequestFor(WPARAM hotkeyId) const {
  if (hotkeyId < static_cast<WPARAM>(kFirstHotkeyId)) return std::nullopt;
  const WPARAM index = hotkeyId - static_cast<WPARAM>(kFirstHotkeyId);
  if (index >= kOperatorKeyCount || !m_registered[index]) return std::nullopt;
  return static_cast<OperatorKey>(index);
}

}  // namespace halvane
