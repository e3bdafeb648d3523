#include "ui/operator_keys_win32.h"

#include <cstdio>

namespace halvane {
namespace {

// More than any hand-written settings file; a longer one is read up to here.
constexpr std::size_t kMaxIniBytes = 64 * 1024;

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

HalvaneIni LoadHalvaneIni(const std::string& iniPath) {
  std::string text;
  std::FILE* file = iniPath.empty() ? nullptr : std::fopen(iniPath.c_str(), "rb");
  if (file != nullptr) {
    text.resize(kMaxIniBytes);
    text.resize(std::fread(&text[0], 1, text.size(), file));
    std::fclose(file);
  }
  return ReadHalvaneIni(text);
}

HotkeyPlan LoadHotkeyPlan(const std::string& iniPath) {
  const HalvaneIni ini = LoadHalvaneIni(iniPath);
  HotkeyPlan plan = PlanHotkeys(ini.keys);
  plan.reports.insert(plan.reports.begin(), ini.reports.begin(), ini.reports.end());
  return plan;
}

void ReportSetupProblem(const std::string& report, LogWriter& log, Notices& notices) {
  std::fputs(report.c_str(), stdout);
  std::fflush(stdout);
  log.WriteLog(report.c_str());
  std::string detail = report;
  if (detail.compare(0, 4, "!!! ") == 0) detail.erase(0, 4);
  while (!detail.empty() && detail.back() == '\n') detail.pop_back();
  notices.Notify(Notice::kSetupProblem, detail.c_str());
}

void OperatorKeys::Register(HWND window, LogWriter& log, Notices& notices) {
  Unregister();
  m_window = window;
  m_log = &log;
  m_notices = &notices;
  for (const std::string& report : m_plan.reports) ReportSetupProblem(report, log, notices);
  m_plan.reports.clear();
  if (TryRefusedKeys()) return;
  // The older copy that start-up has just ended may hold the keys until it is fully gone, so a refused
  // key is tried again for a short while before it counts as another program's.
  m_retryStart = GetTickCount();
  m_retrying = SetTimer(window, kRetryTimer, kRetryPollMs, nullptr) != 0;
  if (!m_retrying) ReportRefusedKeys();
}

void OperatorKeys::OnRetryTimer() {
  if (!m_retrying) return;
  if (!TryRefusedKeys() && GetTickCount() - m_retryStart < kRetryMs) return;
  KillTimer(m_window, kRetryTimer);
  m_retrying = false;
  ReportRefusedKeys();
}

bool OperatorKeys::TryRefusedKeys() {
  bool all = true;
  for (std::size_t i = 0; i < kOperatorKeyCount; ++i) {
    const Hotkey& key = m_plan.keys[i];
    if (key.IsOff() || m_registered[i]) continue;
    // MOD_NOREPEAT: holding the chord down makes one request, not a stream of them.
    m_registered[i] = RegisterHotKey(m_window, kFirstHotkeyId + static_cast<int>(i), key.modifiers | MOD_NOREPEAT,
                                     key.virtualKey) != FALSE;
    m_error[i] = m_registered[i] ? 0 : GetLastError();
    all = all && m_registered[i];
  }
  return all;
}

void OperatorKeys::ReportRefusedKeys() {
  for (std::size_t i = 0; i < kOperatorKeyCount; ++i) {
    const Hotkey& key = m_plan.keys[i];
    if (key.IsOff() || m_registered[i]) continue;
    char text[256] = "";
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, m_error[i],
                                        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
    const std::string report = HotkeyRefusedReport(static_cast<OperatorKey>(i), key, m_error[i],
                                                   std::string_view(text, length < sizeof text ? length : 0));
    if (m_log != nullptr && m_notices != nullptr) ReportSetupProblem(report, *m_log, *m_notices);
  }
}

void OperatorKeys::Unregister() {
  if (m_retrying) KillTimer(m_window, kRetryTimer);
  m_retrying = false;
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
