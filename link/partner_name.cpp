#include "link/partner_name.h"

#include <cstdint>
#include <memory>

#include "link/codec.h"

namespace halvane {
namespace {

constexpr std::size_t kMostIdChars = 15;

// The code point of the UTF-8 sequence at `at` and its length; length 0 for an invalid sequence.
std::uint32_t Decode(std::string_view text, std::size_t at, std::size_t& length) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                                                            : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
  if (length == 0 || at + length > text.size()) {
    length = 0;
    return 0;
  }
  std::uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) {
      length = 0;
      return 0;
    }
    code = (code << 6) | (byte(at + i) & 0x3F);
  }
  // Overlong forms, surrogates and code points past the last one are no characters.
  const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < least[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) length = 0;
  return code;
}

bool ChangesLayout(std::uint32_t code) {
  return code < 0x20 || (code >= 0x7F && code <= 0x9F) || code == 0x061C || code == 0x200E || code == 0x200F ||
         (code >= 0x2028 && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
}

}  // namespace

std::string CleanName(std::string_view utf8) {
  std::string clean;
  std::size_t at = 0;
  while (at < utf8.size()) {
    std::size_t length = 0;
    const std::uint32_t code = Decode(utf8, at, length);
    if (length == 0) {
      ++at;
      continue;
    }
    if (!ChangesLayout(code) && !(clean.empty() && code == ' ')) {
      if (clean.size() + length > kMostNameBytes) break;
      clean.append(utf8.substr(at, length));
    }
    at += length;
  }
  while (!clean.empty() && clean.back() == ' ') clean.pop_back();
  return clean;
}

bool ReadPartnerName(CodePage& codePage, const char* utf8, CallNames& names) {
  if (utf8 == nullptr) return false;
  std::string_view text(utf8);
  text = text.substr(0, text.find_first_of("\r\n"));
  if (!text.empty() && text.front() == '#') {
    const std::size_t blank = text.find(' ');
    if (blank == std::string_view::npos) return false;
    text.remove_prefix(blank + 1);
  }
  constexpr std::string_view kCall = "CALL ";
  if (text.substr(0, kCall.size()) != kCall) return false;
  text.remove_prefix(kCall.size());
  const std::size_t blank = text.find(' ');
  if (blank == 0 || blank == std::string_view::npos || blank > kMostIdChars) return false;
  const std::string_view id = text.substr(0, blank);
  text.remove_prefix(blank + 1);
  constexpr std::string_view kDisplay = "PARTNER_DISPNAME ";
  constexpr std::string_view kHandle = "PARTNER_HANDLE ";
  const bool display = text.substr(0, kDisplay.size()) == kDisplay;
  if (!display && text.substr(0, kHandle.size()) != kHandle) return false;
  const std::string clean = CleanName(text.substr(display ? kDisplay.size() : kHandle.size()));
  std::unique_ptr<char[]> local;
  if (clean.empty() || !Utf8ToLocal(codePage, clean.c_str(), local) || local[0] == '\0') return false;
  names.Store(id, local.get(), display);
  return true;
}

}  // namespace halvane
