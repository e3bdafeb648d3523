#include "link/codec.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

namespace halvane {
namespace {

// Bytes a sequence takes, by its lead byte alone (0 for the terminating zero).
std::size_t SequenceLength(unsigned char lead) {
  if (lead == 0) return 0;
  if (lead < 0x80) return 1;
  if (lead < 0xE0) return 2;
  return 3;
}

enum class Scan { kWhole, kCutShort };

// Counts the units of text, one per lead byte. Stops at the terminating zero, also when it falls inside
// a sequence, so nothing after it is ever looked at.
Scan CountUnits(const unsigned char* text, std::size_t& units) {
  units = 0;
  for (;;) {
    const std::size_t length = SequenceLength(text[0]);
    if (length == 0) return Scan::kWhole;
    for (std::size_t k = 1; k < length; ++k) {
      if (text[k] == 0) return Scan::kCutShort;
    }
    text += length;
    ++units;
  }
}

// Writes the units of a text that CountUnits found whole to out (room for its count), no terminator.
void DecodeUnits(const unsigned char* text, char16_t* out) {
  for (std::size_t length = SequenceLength(text[0]); length != 0; length = SequenceLength(text[0])) {
    unsigned unit = 0;
    if (length == 1) {
      unit = text[0];
    } else if (length == 2) {
      unit = ((text[0] & 0x3FU) << 6) | (text[1] & 0x3FU);
    } else {
      unit = ((text[0] & 0x0FU) << 12) | ((text[1] & 0x3FU) << 6) | (text[2] & 0x3FU);
    }
    *out++ = static_cast<char16_t>(unit);
    text += length;
  }
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
  if (CountUnits(Bytes(text), count) != Scan::kWhole) return false;
  units.assign(count, u'\0');
  DecodeUnits(Bytes(text), &units[0]);
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
  if (CountUnits(Bytes(text), count) != Scan::kWhole) {
    std::fprintf(stderr, "Incomplete UTF8 sequence at the end of a string\n");
    return false;
  }
  std::unique_ptr<char16_t[]> units(new (std::nothrow) char16_t[count + 1]);
  if (!units) {
    std::fprintf(stderr, "Out of memory processing string from UTF8 to UNICODE16\n");
    return false;
  }
  DecodeUnits(Bytes(text), units.get());
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
