// Code-page conversions off Windows: iconv, with code page 1252 as the "system" code page, so the
// native tests see the same bytes as the program does on a Western Windows.
#include <iconv.h>

#include <cerrno>
#include <string>

#include "link/codepage.h"

namespace halvane {
namespace {

constexpr const char* kLocalCharset = "CP1252";
constexpr unsigned long kErrorNoUnicodeTranslation = 1113;  // ERROR_NO_UNICODE_TRANSLATION
constexpr unsigned long kErrorInsufficientBuffer = 122;     // ERROR_INSUFFICIENT_BUFFER

// Converts one buffer; false on any conversion error.
bool Convert(const char* to, const char* from, const char* in, std::size_t inBytes, std::string& out) {
  iconv_t cd = iconv_open(to, from);
  // (iconv_t)-1 is iconv's own failure value.
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;  // NOLINT(performance-no-int-to-ptr)
  out.assign(inBytes * 4 + 16, '\0');
  char* src = const_cast<char*>(in);
  char* dst = out.data();
  std::size_t dstLeft = out.size();
  const std::size_t result = iconv(cd, &src, &inBytes, &dst, &dstLeft);
  iconv_close(cd);
  if (result == static_cast<std::size_t>(-1)) return false;
  out.resize(out.size() - dstLeft);
  return true;
}

class IconvCodePage final : public CodePage {
 public:
  int AnsiToWide(const char* text, int length, char16_t* out, int capacity) override {
    if (text == nullptr || length <= 0) return Fail(87);  // ERROR_INVALID_PARAMETER, as Windows answers 0
    std::string utf16;
    if (!Convert("UTF-16LE", kLocalCharset, text, static_cast<std::size_t>(length), utf16))
      return Fail(kErrorNoUnicodeTranslation);
    const int units = static_cast<int>(utf16.size() / 2);
    if (out == nullptr) return units;
    if (units > capacity) return Fail(kErrorInsufficientBuffer);
    for (std::size_t i = 0; i < static_cast<std::size_t>(units); ++i) {
      const auto lo = static_cast<unsigned char>(utf16[2 * i]);
      const auto hi = static_cast<unsigned char>(utf16[2 * i + 1]);
      out[i] = static_cast<char16_t>(lo | (hi << 8));
    }
    return units;
  }

  int WideToConsole(const char16_t* units, char* out, int capacity) override {
    if (units == nullptr) return Fail(87);
    // Unit by unit, so that a unit the code page lacks becomes '?' as Windows' default character does.
    std::string local;
    for (const char16_t* u = units; *u != 0; ++u) {
      const char pair[2] = {static_cast<char>(*u & 0xFF), static_cast<char>(*u >> 8)};
      std::string one;
      local += Convert(kLocalCharset, "UTF-16LE", pair, 2, one) && one.size() == 1 ? one : std::string("?");
    }
    const int bytes = static_cast<int>(local.size()) + 1;
    if (out == nullptr) return bytes;
    if (bytes > capacity) return Fail(kErrorInsufficientBuffer);
    local.copy(out, local.size());
    out[local.size()] = '\0';
    return bytes;
  }

  unsigned long LastError() override { return lastError_; }

 private:
  int Fail(unsigned long error) {
    lastError_ = error;
    return 0;
  }

  thread_local static unsigned long lastError_;
};

thread_local unsigned long IconvCodePage::lastError_ = 0;

}  // namespace

CodePage& SystemCodePage() {
  static IconvCodePage codePage;
  return codePage;
}

}  // namespace halvane
