#include "link/codec.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

namespace halvane {
namespace {

// Bytes a sequence takes, by its lead byte (0 for the terminating zero, and for a byte that cannot lead:
// a continuation byte, C0 and C1, which only ever begin over-long forms, and F5 and above, beyond U+10FFFF).
std::size_t SequenceLength(unsigned char lead) {
  if (lead == 0) return 0;
  if (lead < 0x80) return 1;
  if (lead < 0xC2) return 0;
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  if (lead < 0xF5) return 4;
  return 0;
}

// The range the byte after a lead may take: narrower after E0 (over-long), ED (surrogates), F0
// (over-long) and F4 (beyond U+10FFFF) than the 80..BF of every other continuation byte.
bool SecondByteFits(unsigned char lead, unsigned char next) {
  switch (lead) {
    case 0xE0: return next >= 0xA0 && next <= 0xBF;
    case 0xED: return next >= 0x80 && next <= 0x9F;
    case 0xF0: return next >= 0x90 && next <= 0xBF;
    case 0xF4: return next >= 0x80 && next <= 0x8F;
    default: return next >= 0x80 && next <= 0xBF;
  }
}

enum class Scan { kWhole, kCutShort, kInvalid };

// Decodes text into out (room for its count) or, with no out, only counts its UTF-16 units. Stops at the
// terminating zero, also when it falls inside a sequence, so nothing after it is ever looked at. Only
// well-formed UTF-8 is whole: one over-long form, surrogate or code point above U+10FFFF refuses the
// text, so no byte reads as a letter it does not encode.
Scan DecodeUnits(const unsigned char* text, char16_t* out, std::size_t& units) {
  units = 0;
  while (text[0] != 0) {
    const std::size_t length = SequenceLength(text[0]);
    if (length == 0) return Scan::kInvalid;
    for (std::size_t k = 1; k < length; ++k) {
      if (text[k] == 0) return Scan::kCutShort;
      const bool fits = k == 1 ? SecondByteFits(text[0], text[1]) : (text[k] & 0xC0U) == 0x80U;
      if (!fits) return Scan::kInvalid;
    }
    std::uint32_t point = length == 1 ? text[0] : text[0] & (0x7FU >> length);
    for (std::size_t k = 1; k < length; ++k) point = (point << 6) | (text[k] & 0x3FU);
    text += length;
    if (point >= 0x10000U) {
      if (out != nullptr) {
        *out++ = static_cast<char16_t>(0xD800U + ((point - 0x10000U) >> 10));
        *out++ = static_cast<char16_t>(0xDC00U + ((point - 0x10000U) & 0x3FFU));
      }
      units += 2;
    } else {
      if (out != nullptr) *out++ = static_cast<char16_t>(point);
      ++units;
    }
  }
  return Scan::kWhole;
}

const unsigned char* Bytes(const char* text) { return reinterpret_cast<const unsigned char*>(text); }

}  // namespace

std::string Utf16ToUtf8(const char16_t* units) {
  std::string out;
  if (units == nullptr) return out;
  std::size_t bytes = 0;
  for (const char16_t* u = units; *u != 0; ++u) bytes += *u < 0x80 ? 1 : *u < 0x800 ? 2 : 3;
  out.reserve(bytes);
  for (const char16_t* u = units; *u != 0; ++u) {
    const unsigned unit = *u;
    if (unit < 0x80) {
      out += static_cast<char>(unit);
    } else if (unit < 0x800) {
      out += static_cast<char>(0xC0U | (unit >> 6));
      out += static_cast<char>(0x80U | (unit & 0x3FU));
    } else {
      out += static_cast<char>(0xE0U | (unit >> 12));
      out += static_cast<char>(0x80U | ((unit >> 6) & 0x3FU));
      out += static_cast<char>(0x80U | (unit & 0x3FU));
    }
  }
  return out;
}

bool Utf8ToUtf16(const char* text, std::u16string& units) {
  units.clear();
  if (text == nullptr) return false;
  std::size_t count = 0;
  if (DecodeUnits(Bytes(text), nullptr, count) != Scan::kWhole) return false;
  units.assign(count, u'\0');
  DecodeUnits(Bytes(text), &units[0], count);
  return true;
}

bool AnsiToUtf8(CodePage& codePage, const char* text, std::string& utf8) {
  utf8.clear();
  if (text == nullptr) return false;
  const std::size_t bytes = std::strlen(text);
  if (bytes == 0 || bytes > static_cast<std::size_t>(INT_MAX)) return false;
  const int length = static_cast<int>(bytes);

  const int units = codePage.AnsiToWide(text, length, nullptr, 0);
  if (units <= 0) return false;
  std::u16string wide(static_cast<std::size_t>(units), u'\0');  // the string keeps its own zero unit
  if (codePage.AnsiToWide(text, length, &wide[0], units) != units) return false;
  utf8 = Utf16ToUtf8(wide.c_str());
  return true;
}

// The two buffers here are sized by what the client sent, so they are allocated without throwing and
// a refusal is reported like any other failure.
bool Utf8ToLocal(CodePage& codePage, const char* text, std::unique_ptr<char[]>& local) {
  local.reset();
  if (text == nullptr) return false;

  std::size_t count = 0;
  const Scan scan = DecodeUnits(Bytes(text), nullptr, count);
  if (scan == Scan::kCutShort) {
    std::fprintf(stderr, "Incomplete UTF8 sequence at the end of a string\n");
    return false;
  }
  if (scan == Scan::kInvalid) {
    std::fprintf(stderr, "Invalid UTF8 sequence in a string\n");
    return false;
  }
  std::unique_ptr<char16_t[]> units(new (std::nothrow) char16_t[count + 1]);
  if (!units) {
    std::fprintf(stderr, "Out of memory processing string from UTF8 to UNICODE16\n");
    return false;
  }
  DecodeUnits(Bytes(text), units.get(), count);
  units[count] = u'\0';

  const int needed = codePage.WideToConsole(units.get(), nullptr, 0);
  if (needed <= 0) {
    std::fprintf(stderr, "Unicode translation error %ld\n", static_cast<long>(codePage.LastError()));
    return false;
  }
  std::unique_ptr<char[]> bytes(new (std::nothrow) char[static_cast<std::size_t>(needed) + 1]());
  if (!bytes) {
    std::fprintf(stderr, "Out of memory processing string to local charset\n");
    return false;
  }
  if (codePage.WideToConsole(units.get(), bytes.get(), needed) != needed) {
    std::fprintf(stderr, "Unicode translation error %ld\n", static_cast<long>(codePage.LastError()));
    return false;
  }
  // The buffer holds needed + 1 zero-filled bytes, so it is terminated whatever the conversion wrote.
  local = std::move(bytes);
  return true;
}

}  // namespace halvane
