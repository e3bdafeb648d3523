#pragma once
// The main window's and tray icon's rules that need no window system: the instruction texts, the
// tooltip text, which reaction an icon callback asks for, which system commands are ours, and where
// the icon goes while the window is minimised.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace halvane {

inline constexpr char kProductWebAddress[] = "https://halvane.invalid/";

// The instructions list of the main window, in display order.
inline constexpr std::array<const char*, 11> kInstructionLines = {
    "Halvane Instructions",
    "",
    "1.) Answer incoming Skype call.",
    "2.) Press Halvane 'Hold' button.",
    "3.) Place 2nd Skype call.",
    "4.) Press Halvane 'Transfer' button.",
    "5.) Incoming Skype call is transferred.",
    "",
    "PS. Use 'Return' button to resume original caller.",
    "",
    kProductWebAddress,
};

// Room of the first-form notification record's tooltip, terminator included.
inline constexpr std::size_t kTrayTipSize = 64;

// Whether a byte of the system code page begins a two-byte character (IsDBCSLeadByte on Windows).
using LeadBytePredicate = bool (*)(unsigned char byte);

// "Halvane(<handle>)", cut to kTrayTipSize - 1 bytes. A handle too long to fit is shortened, not the
// closing parenthesis, so the tip still reads as one item; it is cut between characters, never
// between a lead byte and its trail byte. Without a predicate every byte is one character.
std::string FormatTrayTip(std::string_view userHandle, LeadBytePredicate isLeadByte = nullptr);

// Copies text into a zero-terminated buffer of `size` bytes, cut to fit. Nothing when size is 0.
void CopyBounded(char* destination, std::size_t size, std::string_view text);

// What a callback message of the notification icon asks for.
enum class TrayReaction { kNone, kLeftDown, kLeftDouble, kRightDown, kRightDouble, kPointerMove };

// The one icon's id in the notification record; callbacks for any other id are ignored.
inline constexpr std::uintptr_t kTrayIconId = 1;

TrayReaction ClassifyIconNotify(std::uintptr_t wParam, std::intptr_t lParam);

// System-menu commands carry flags in their low four bits, so only the rest is compared.
bool IsAboutCommand(std::uintptr_t commandId);
bool IsMinimizeCommand(std::uintptr_t commandId);

struct Point {
  int x;
  int y;
};

// Top-left corner that centres an icon of the given size in a client area (the odd pixel goes right
// and down; each half is truncated toward zero).
Point CenteredIconOrigin(int clientWidth, int clientHeight, int iconWidth, int iconHeight);

// A screen rectangle, right and bottom exclusive.
struct Rect {
  int left;
  int top;
  int right;
  int bottom;
};

// Top-left corner of a window of the given size centred over `over`, then moved into `area` (the
// monitor's work area) where it would stick out. A window larger than the area keeps its top-left
// corner in it, so its caption stays reachable.
Point CentredWindowOrigin(const Rect& over, int width, int height, const Rect& area);

// How long to wait before the next try to add the notification icon after `failedTries` failed
// tries: doubling from half a second, never more than 30 seconds.
unsigned IconRetryDelayMs(unsigned failedTries);

}  // namespace halvane
