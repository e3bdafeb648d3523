#include "ui/tray_notices_win32.h"

#include "ui/operator_keys_win32.h"

namespace halvane {

NoticeSettings LoadNoticeSettings(const std::string& iniPath) {
  const HalvaneIni ini = LoadHalvaneIni(iniPath);
  NoticeSettings settings;
  settings.show = ini.showNotices;
  settings.holdReminderSeconds = ini.holdReminderSeconds;
  settings.reports = ini.noticeReports;
  return settings;
}

void TrayNotices::Notify(Notice notice, const char* detail) {
  if (!m_show) return;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_waiting.size() >= kMaxWaiting) return;
    m_waiting.emplace_back(notice, detail != nullptr ? std::string(detail) : std::string());
  }
  const HWND window = reinterpret_cast<HWND>(m_board.mainWindow.load());
  if (window != nullptr) PostMessageA(window, kNoticeMessage, 0, 0);
}

std::vector<std::pair<Notice, std::string>> TrayNotices::Take() {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::vector<std::pair<Notice, std::string>> taken(m_waiting.begin(), m_waiting.end());
  m_waiting.clear();
  return taken;
}

}  // namespace halvane
