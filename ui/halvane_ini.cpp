#include "ui/halvane_ini.h"

#include <algorithm>
#include <cctype>

namespace halvane {
namespace {

constexpr char kPrefix[] = "!!! Halvane.ini: ";
constexpr unsigned kMaxHoldReminderSeconds = 86400;
// A value is echoed in a report at most this long, so one mistake cannot fill the balloon.
constexpr std::size_t kEchoChars = 40;

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

std::string Echo(std::string_view text) {
  std::string echo;
  for (const char c : text.substr(0, kEchoChars)) echo.push_back(static_cast<unsigned char>(c) < 32 ? '?' : c);
  return text.size() > kEchoChars ? echo + "..." : echo;
}

// A comment may follow a value after a blank: "Show=0   ; no notices".
std::string_view WithoutComment(std::string_view value) {
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == ';' && (i == 0 || std::isspace(static_cast<unsigned char>(value[i - 1])))) {
      return Trim(value.substr(0, i));
    }
  }
  return value;
}

// Whole seconds, 0 to 86400, digits only; false for anything else.
bool ReadSeconds(std::string_view value, unsigned& seconds) {
  if (value.empty() || value.size() > 6) return false;
  unsigned number = 0;
  for (const char c : value) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    number = number * 10 + static_cast<unsigned>(c - '0');
  }
  if (number > kMaxHoldReminderSeconds) return false;
  seconds = number;
  return true;
}

class Reader {
 public:
  explicit Reader(HalvaneIni& ini) : m_ini(ini) {}

  void Line(std::string_view line) {
    line = Trim(line);
    if (line.empty() || line.front() == ';' || line.front() == '#') return;
    if (line.front() == '[') {
      Section(line);
      return;
    }
    const std::size_t equals = line.find('=');
    const std::string name(Trim(line.substr(0, equals)));
    if (m_skipSection) return;
    const std::string where = m_section.empty() ? std::string("outside any section") : "in [" + m_section + "]";
    if (equals == std::string_view::npos || name.empty()) {
      Report("\"" + Echo(line) + "\" " + where + " is not an entry; ignored\n");
      return;
    }
    const std::string_view value = WithoutComment(Trim(line.substr(equals + 1)));
    const std::string key = Lower(m_section) + "/" + Lower(name);
    const bool known = std::find(std::begin(kEntries), std::end(kEntries), key) != std::end(kEntries);
    if (!known) {
      Report(Echo(name) + "= " + where + " is not an entry Halvane knows; ignored\n");
      return;
    }
    if (std::find(m_seenEntries.begin(), m_seenEntries.end(), key) != m_seenEntries.end()) {
      Report(Echo(name) + "= appears again " + where + "; only the first is read\n");
      return;
    }
    m_seenEntries.push_back(key);
    Entry(key, name, value);
  }

 private:
  static constexpr const char* kEntries[] = {"hotkeys/hold", "hotkeys/transfer", "hotkeys/return", "notices/show",
                                             "notices/holdreminder"};

  void Section(std::string_view line) {
    const std::size_t close = line.find(']');
    const std::string name(Trim(line.substr(1, close == std::string_view::npos ? line.size() : close - 1)));
    const std::string lower = Lower(name);
    m_skipSection = true;
    m_section.clear();
    if (close == std::string_view::npos || !Trim(line.substr(close + 1)).empty()) {
      Report("\"" + Echo(line) + "\" is not a section; what follows up to the next section is ignored\n");
    } else if (lower != "hotkeys" && lower != "notices") {
      Report("[" + Echo(name) + "] is not a section Halvane knows; its entries are ignored\n");
    } else if (std::find(m_seenSections.begin(), m_seenSections.end(), lower) != m_seenSections.end()) {
      Report("[" + name + "] appears again; only the first is read\n");
    } else {
      m_seenSections.push_back(lower);
      m_section = lower == "hotkeys" ? "Hotkeys" : "Notices";
      m_skipSection = false;
    }
  }

  void Entry(const std::string& key, const std::string& name, std::string_view value) {
    if (key == "notices/show") {
      if (value == "0" || value == "1") {
        m_ini.showNotices = value == "1";
      } else {
        NoticeReport("Show=" + Echo(value) + " is neither 0 nor 1; notices stay on\n");
      }
    } else if (key == "notices/holdreminder") {
      if (!ReadSeconds(value, m_ini.holdReminderSeconds)) {
        NoticeReport("HoldReminder=" + Echo(value) + " is not whole seconds from 0 to 86400; keeping 60\n");
      }
    } else {
      for (std::size_t i = 0; i < kOperatorKeyCount; ++i) {
        if (Lower(name) == Lower(OperatorKeyName(static_cast<OperatorKey>(i)))) m_ini.keys[i] = std::string(value);
      }
    }
  }

  // Each mistake is told once, however often the file repeats it.
  void Report(const std::string& text) { Add(m_ini.reports, text); }
  void NoticeReport(const std::string& text) { Add(m_ini.noticeReports, text); }
  static void Add(std::vector<std::string>& reports, const std::string& text) {
    const std::string report = kPrefix + text;
    if (std::find(reports.begin(), reports.end(), report) == reports.end()) reports.push_back(report);
  }

  HalvaneIni& m_ini;
  std::string m_section;
  bool m_skipSection = false;
  std::vector<std::string> m_seenSections;
  std::vector<std::string> m_seenEntries;
};

}  // namespace

HalvaneIni ReadHalvaneIni(std::string_view text) {
  HalvaneIni ini;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  Reader reader(ini);
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    reader.Line(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return ini;
}

}  // namespace halvane
