#include "link/protocol.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "link/codec.h"

namespace halvane {
namespace {

constexpr std::string_view kTag(kCommandTag);
constexpr std::string_view kCallKeyword("CALL ");
constexpr std::string_view kStatusKeyword("STATUS ");
constexpr std::string_view kHandleKeyword("CURRENTUSERHANDLE ");
constexpr std::string_view kProtocolKeyword("PROTOCOL ");
constexpr std::string_view kErrorKeyword("ERROR ");
constexpr std::string_view kCallsKeyword("CALLS");

char FoldAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool StartsWithTag(std::string_view line) {
  if (line.size() < kTag.size()) return false;
  for (std::size_t k = 0; k < kTag.size(); ++k) {
    if (FoldAscii(line[k]) != FoldAscii(kTag[k])) return false;
  }
  return true;
}

bool StartsWith(std::string_view text, std::string_view head) { return text.substr(0, head.size()) == head; }

// Digits at the start of text, as a number; 0 for none, or for more than nine (no tag grows that far).
std::uint32_t LeadingNumber(std::string_view text) {
  std::uint32_t number = 0;
  std::size_t k = 0;
  for (; k < text.size() && text[k] >= '0' && text[k] <= '9'; ++k) {
    if (k == 9) return 0;
    number = number * 10 + static_cast<std::uint32_t>(text[k] - '0');
  }
  return number;
}

// "CALL <id> STATUS <status>", from the start of text: the id runs to the next blank, the status to the
// end of the line. A line with no id or no status names no call: it is dropped rather than cut, and an
// empty id never reaches a call command. So is an id longer than its field: cut short it could name
// another call, and two long ids would become one. A too long status is cut to its field by Store (no
// status word is that long, so it matches none).
void ApplyStatusLine(CallBoard& board, std::string_view text) {
  if (!StartsWith(text, kCallKeyword)) return;
  const std::string_view rest = text.substr(kCallKeyword.size());
  const std::size_t blank = rest.find(' ');
  if (blank == 0 || blank == std::string_view::npos || blank > CallTable::kIdCapacity) return;
  const std::string_view id = rest.substr(0, blank);
  const std::string_view after = rest.substr(blank + 1);
  if (!StartsWith(after, kStatusKeyword) || after.size() == kStatusKeyword.size()) return;
  const std::string_view status = after.substr(kStatusKeyword.size());
  // Reported together: the engine judges every status by the call it names.
  board.calls.Report(id, status);
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
  // Before anything else: the reply can be parsed while the delivery below is still running.
  AwaitReplyTo(board_, text);

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
  if (!StartsWithTag(line)) {
    ApplyStatusLine(board, line);
    return;
  }
  // The tag, its number, one blank, then what the client says.
  const std::uint32_t number = LeadingNumber(line.substr(kTag.size()));
  const std::size_t blank = line.find(' ');
  const std::string_view body = blank == std::string_view::npos ? std::string_view() : line.substr(blank + 1);
  const bool error = StartsWith(body, kErrorKeyword);
  if (error && number != 0) board.errorTag.store(number);
  if (number != 0 && number == board.awaitedTag.load()) {
    // Only the awaited answer: a late one to an earlier search would name calls long gone.
    if (StartsWith(body, kCallsKeyword) && (body.size() == kCallsKeyword.size() || body[kCallsKeyword.size()] == ' ')) {
      board.activeCalls.Store(body.substr(std::min(body.size(), kCallsKeyword.size() + 1)));
    }
    // "ERROR <n> <text>": the number tells an unknown call from a call the client cannot act on now.
    board.replyErrorNumber.store(error ? static_cast<int>(LeadingNumber(body.substr(kErrorKeyword.size()))) : 0);
    board.replyError.store(error);
    board.repliedTag.store(number);
  }
  // A late reply says of a call what any status line says.
  ApplyStatusLine(board, body);
  if (StartsWith(body, kHandleKeyword) && body.size() > kHandleKeyword.size()) {
    board.userHandle.Store(body.substr(kHandleKeyword.size()));
  }
  if (StartsWith(body, kProtocolKeyword)) {
    const std::uint32_t version = LeadingNumber(body.substr(kProtocolKeyword.size()));
    if (version != 0) board.clientProtocol.store(static_cast<int>(version));
  }
}

std::uint32_t TagNumber(const char* text) {
  if (text == nullptr) return 0;
  const std::string_view line(text);
  if (!StartsWithTag(line)) return 0;
  const std::string_view rest = line.substr(kTag.size());
  const std::uint32_t number = LeadingNumber(rest);
  // The number must end the tag: a blank or the end of the line follows it.
  const std::size_t digits = rest.find_first_not_of("0123456789");
  return digits == std::string_view::npos || rest[digits] == ' ' ? number : 0;
}

void AwaitReplyTo(CallBoard& board, const char* command) { board.awaitedTag.store(TagNumber(command)); }

bool FormatCommand(char* buffer, std::size_t size, const char* format, const char* id1, const char* id2,
                   std::uint32_t number) {
  if (buffer == nullptr || size == 0) return false;
  buffer[0] = '\0';
  if (format == nullptr) return false;

  const int arguments = CountTextArguments(format);
  if (arguments < 1 || arguments > 3) return false;
  if (arguments >= 2 && !IsPresent(id1)) return false;
  if (arguments >= 3 && !IsPresent(id2)) return false;

  char tag[sizeof kCommandTag + 10];
  std::snprintf(tag, sizeof tag, "%s%u", kCommandTag, static_cast<unsigned>(number));
  const int written = std::snprintf(buffer, size, format, tag, id1 != nullptr ? id1 : "", id2 != nullptr ? id2 : "");
  if (written < 0 || static_cast<std::size_t>(written) >= size) {
    buffer[0] = '\0';
    return false;
  }
  return true;
}

}  // namespace halvane
