#include "ui/main_window_rules.h"

#include <cstring>

namespace halvane {
namespace {

// Window-message and system-command values, spelt out here so this file needs no platform header.
constexpr std::intptr_t kMouseMove = 0x0200;
constexpr std::intptr_t kLeftButtonDown = 0x0201;
constexpr std::intptr_t kLeftButtonDouble = 0x0203;
constexpr std::intptr_t kRightButtonDown = 0x0204;
constexpr std::intptr_t kRightButtonDouble = 0x0206;
constexpr std::intptr_t kContextMenu = 0x007B;
constexpr std::uintptr_t kSystemCommandMask = 0xFFF0;
constexpr std::uintptr_t kMinimize = 0xF020;
constexpr std::uintptr_t kAboutCommand = 0x0010;

constexpr unsigned kFirstIconRetryMs = 500;
constexpr unsigned kLastIconRetryMs = 30000;

// The start that keeps a span of `size` inside [low, high); a span too large starts at low.
int Inside(int start, int size, int low, int high) {
  if (start + size > high) start = high - size;
  if (start < low) start = low;
  return start;
}

constexpr std::string_view kTipPrefix = "Halvane(";
constexpr std::string_view kTipSuffix = ")";

}  // namespace

std::string FormatTrayTip(std::string_view userHandle, LeadBytePredicate isLeadByte) {
  const std::size_t zero = userHandle.find('\0');
  if (zero != std::string_view::npos) userHandle = userHandle.substr(0, zero);
  constexpr std::size_t kRoom = kTrayTipSize - 1 - kTipPrefix.size() - kTipSuffix.size();
  std::size_t end = 0;
  while (end < userHandle.size()) {
    const bool lead = isLeadByte != nullptr && isLeadByte(static_cast<unsigned char>(userHandle[end]));
    const std::size_t next = end + (lead ? 2 : 1);
    if (next > kRoom || next > userHandle.size()) break;
    end = next;
  }
  userHandle = userHandle.substr(0, end);
  std::string tip;
  tip.reserve(kTrayTipSize);
  tip.append(kTipPrefix).append(userHandle).append(kTipSuffix);
  return tip;
}

void CopyBounded(char* destination, std::size_t size, std::string_view text) {
  if (destination == nullptr || size == 0) return;
  const std::size_t length = text.size() < size - 1 ? text.size() : size - 1;
  if (length > 0) std::memcpy(destination, text.data(), length);
  destination[length] = '\0';
}

TrayReaction ClassifyIconNotify(std::uintptr_t wParam, std::intptr_t lParam) {
  if (wParam != kTrayIconId) return TrayReaction::kNone;
  switch (lParam) {
    case kLeftButtonDown: return TrayReaction::kLeftDown;
    case kLeftButtonDouble: return TrayReaction::kLeftDouble;
    case kContextMenu:
    case kRightButtonDown: return TrayReaction::kRightDown;
    case kRightButtonDouble: return TrayReaction::kRightDouble;
    case kMouseMove: return TrayReaction::kPointerMove;
    default: return TrayReaction::kNone;
  }
}

bool IsAboutCommand(std::uintptr_t commandId) { return (commandId & kSystemCommandMask) == kAboutCommand; }

bool IsMinimizeCommand(std::uintptr_t commandId) { return (commandId & kSystemCommandMask) == kMinimize; }

Point CenteredIconOrigin(int clientWidth, int clientHeight, int iconWidth, int iconHeight) {
  return Point{(clientWidth - iconWidth + 1) / 2, (clientHeight - iconHeight + 1) / 2};
}

Point CentredWindowOrigin(const Rect& over, int width, int height, const Rect& area) {
  const int x = over.left + (over.right - over.left - width) / 2;
  const int y = over.top + (over.bottom - over.top - height) / 2;
  return Point{Inside(x, width, area.left, area.right), Inside(y, height, area.top, area.bottom)};
}

unsigned IconRetryDelayMs(unsigned failedTries) {
  unsigned delay = kFirstIconRetryMs;
  for (unsigned i = 1; i < failedTries && delay < kLastIconRetryMs; ++i) delay *= 2;
  return delay < kLastIconRetryMs ? delay : kLastIconRetryMs;
}

}  // namespace halvane
