#pragma once
// The notices on Windows: any thread hands a notice over, the main window's thread shows it as a quiet
// balloon from the tray icon (see CHalvaneDlg), and the operator's Halvane.ini can turn them off.

#include <windows.h>

#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "base/call_board.h"
#include "base/notices.h"

namespace halvane {

// Posted to the main window when a notice waits to be shown.
inline constexpr UINT kNoticeMessage = WM_APP + 0x21;

// "[Notices]" in Halvane.ini: Show=0 turns every notice off; HoldReminder=<seconds>, 0 turns the
// reminder off (60 when missing or unusable).
struct NoticeSettings {
  bool show = true;
  unsigned holdReminderSeconds = 60;
  // The section's own mistakes, for standard output and the log only.
  std::vector<std::string> reports;
};
NoticeSettings LoadNoticeSettings(const std::string& iniPath);

class TrayNotices final : public Notices {
 public:
  TrayNotices(const CallBoard& board, bool show) : m_board(board), m_show(show) {}

  // Keeps the notice (at most kMaxWaiting wait; more are dropped) and posts kNoticeMessage to the
  // call board's main window. Nothing when notices are off.
  void Notify(Notice notice, const char* detail) override;
  // The waiting notices, oldest first; they are the caller's from now on.
  std::vector<std::pair<Notice, std::string>> Take();

 private:
  static constexpr std::size_t kMaxWaiting = 16;
  const CallBoard& m_board;
  const bool m_show;
  std::mutex m_mutex;
  std::deque<std::pair<Notice, std::string>> m_waiting;
};

}  // namespace halvane
