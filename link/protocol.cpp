#include "link/protocol.h"

#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "link/codec.h"

namespace halvane {
namespace {

constexpr std::string_view kTag(kCommandTag);
constexpr std::string_view kCallKeyword("CALL");
constexpr std::string_view kStatusKeyword(" STATUS");
constexpr std::string_view kHandleKeyword("CURRENTUSERHANDLE ");

char FoldAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool StartsWithTag(std::string_view line) {
  if (line.size() < kTag.size()) return false;
  for (std::size_t k = 0; k < kTag.size(); ++k) {
    if (FoldAscii(line[k]) != FoldAscii(kTag[k])) return false;
  }
  return true;
}

// The id lies between "CALL" and one separator and the blank of " STATUS"; the status follows
// " STATUS" and one separator. A line with no id text (the keywords touch, come in the other order, or
// hold only the separator between them) or no status text names no call: it is dropped rather than
// cut outside the line, and an empty id never reaches a call command. So is an id longer than its
// field: cut short it could name another call, and two long ids would become one. A too long status
// is cut to its field by Store (no status word is that long, so it matches none).
void ApplyCallCut(CallBoard& board, std::string_view line, std::size_t call, std::size_t status) {
  const std::size_t idStart = call + kCallKeyword.size() + 1;
  const std::size_t statusStart = status + kStatusKeyword.size() + 1;
  if (status <= idStart || statusStart >= line.size()) return;
  if (status - idStart > CallStatusFeed::kIdCapacity) return;
  // Published together: the engine judges every status by the call it names.
  board.currentCall.Publish(line.substr(idStart, status - idStart), line.substr(statusStart));
  board.calls.Report(line.substr(idStart, status - idStart), line.substr(statusStart));
}

// Conversions a command format may hold: only %s (the tag, then call ids) and %%; -1 for anything else.
int CountTextArguments(const char* format) {
  int count = 0;
  for (const char* p = format; *p != '\0'; ++p) {
    if (*p != '%') continue;
    ++p;
    if (*p == 's') {
      ++count;
    } else if (*p != '%') {
      return -1;
    }
  }
  return count;
}

bool IsPresent(const char* text) { return text != nullptr && *text != '\0'; }

}  // namespace

CommandLink::CommandLink(CallBoard& board, Delivery& delivery, CodePage& codePage, LogWriter* log)
    : board_(board), delivery_(delivery), codePage_(codePage), log_(log) {}

bool CommandLink::SendCommand(const char* text) {
  // Cleared before anything else: the reply can be parsed while the delivery below is still running.
  board_.replyReceived.store(false);

  WindowHandle target = board_.apiWindow.load();
  if (target == 0) return false;

  std::string utf8;
  if (!AnsiToUtf8(codePage_, text, utf8) || utf8.empty()) return false;
  if (utf8.size() >= std::numeric_limits<std::uint32_t>::max()) return false;

  const auto size = static_cast<std::uint32_t>(utf8.size() + 1);  // the text and its zero byte
  switch (delivery_.Deliver(target, linkWindow_.load(), utf8.c_str(), size)) {
    case DeliveryResult::kAccepted:
      EndStall();
      return true;
    case DeliveryResult::kTimedOut:
      // Busy, not broken: the client may still take it and reply. One log line per stall.
      if (!stalled_ && log_ != nullptr) log_->WriteLog(kLogDeliveryStalled);
      stalled_ = true;
      return true;
    case DeliveryResult::kNotDelivered:
      // Still the client, but this command is lost: no reply can come, so it counts as not sent.
      if (!stalled_ && log_ != nullptr) log_->WriteLog(kLogDeliveryStalled);
      stalled_ = true;
      ++notDelivered_;
      return false;
    case DeliveryResult::kRefused:
    case DeliveryResult::kGone:
      break;
  }
  EndStall();
  // Forget the window we sent to, but not one that a new attach recorded meanwhile.
  board_.apiWindow.compare_exchange_strong(target, 0);
  clientLost_.store(true);
  std::printf("!!! Disconnected\n");
  std::fflush(stdout);
  return false;
}

void CommandLink::ForgetClient(WindowHandle window) {
  if (window == 0 || !board_.apiWindow.compare_exchange_strong(window, 0)) return;
  clientLost_.store(true);
}

void CommandLink::EndStall() {
  if (notDelivered_ != 0 && log_ != nullptr) {
    char line[sizeof kLogNotDelivered + 16];
    std::snprintf(line, sizeof line, kLogNotDelivered, notDelivered_);
    log_->WriteLog(line);
  }
  notDelivered_ = 0;
  stalled_ = false;
}

void ParseNotification(CallBoard& board, const char* text) {
  if (text == nullptr) return;
  const std::string_view line(text);

  const bool reply = StartsWithTag(line);
  if (reply) {
    // The tag, one blank, then "ERROR <n> <text>" when the client could not do what was asked.
    board.replyError.store(line.substr(kTag.size()).rfind(" ERROR ", 0) == 0);
    board.replyReceived.store(true);
  }

  const std::size_t call = line.find(kCallKeyword);
  const std::size_t status = line.find(kStatusKeyword);
  if (call != std::string_view::npos && status != std::string_view::npos) {
    ApplyCallCut(board, line, call, status);
    return;
  }
  if (!reply) return;

  const std::size_t handle = line.find(kHandleKeyword);
  if (handle == std::string_view::npos) return;
  const std::string_view rest = line.substr(handle + kHandleKeyword.size());
  if (!rest.empty()) board.userHandle.Store(rest);
}

bool FormatCommand(char* buffer, std::size_t size, const char* format, const char* id1, const char* id2) {
  if (buffer == nullptr || size == 0) return false;
  buffer[0] = '\0';
  if (format == nullptr) return false;

  const int arguments = CountTextArguments(format);
  if (arguments < 1 || arguments > 3) return false;
  if (arguments >= 2 && !IsPresent(id1)) return false;
  if (arguments >= 3 && !IsPresent(id2)) return false;

  const int written = std::snprintf(buffer, size, format, kCommandTag, id1 != nullptr ? id1 : "",
                                    id2 != nullptr ? id2 : "");
  if (written < 0 || static_cast<std::size_t>(written) >= size) {
    buffer[0] = '\0';
    return false;
  }
  return true;
}

}  // namespace halvane
