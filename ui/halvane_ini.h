#pragma once
// Halvane.ini as the operator wrote it: its known sections and entries, and one report for every
// mistake in it, so that nothing the operator wrote is ignored without a word. No platform header.

#include <string>
#include <string_view>
#include <vector>

#include "ui/operator_keys.h"

namespace halvane {

struct HalvaneIni {
  HotkeyEntries keys;                 // [Hotkeys] Hold, Transfer, Return as written
  bool showNotices = true;            // [Notices] Show: 0 or 1
  unsigned holdReminderSeconds = 60;  // [Notices] HoldReminder: 0 (off) or 1 to 86400
  // One line per mistake, each ending in "\n": told on standard output, in the log and as a notice.
  std::vector<std::string> reports;
  // Mistakes in [Notices] itself: told on standard output and in the log only, since the notices'
  // own settings are what is in doubt.
  std::vector<std::string> noticeReports;
};

// Reads the file's text: sections and entry names ignore case, blanks around names and values and a
// comment after a blank and ";" are dropped, lines starting with ";" or "#" are comments. Only the first
// of a repeated section or entry counts. An unusable value keeps its default.
HalvaneIni ReadHalvaneIni(std::string_view text);

}  // namespace halvane
