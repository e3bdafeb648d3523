// Code-page conversions on Windows: the system ANSI code page out, the console code page in.
#include <windows.h>

#include "link/codepage.h"

namespace halvane {
namespace {

class Win32CodePage final : public CodePage {
 public:
  int AnsiToWide(const char* text, int length, char16_t* out, int capacity) override {
    static_assert(kMbPrecomposed == MB_PRECOMPOSED, "the flag rule names the platform's flag");
    return MultiByteToWideChar(CP_ACP, AnsiToWideFlags(GetACP()), text, length, reinterpret_cast<wchar_t*>(out),
                               out == nullptr ? 0 : capacity);
  }

  int WideToConsole(const char16_t* units, char* out, int capacity) override {
    static_assert(kWcCompositeCheck == WC_COMPOSITECHECK, "the flag rule names the platform's flag");
    // GetConsoleCP() is 0 without a console, which WideCharToMultiByte takes as CP_ACP: the flags then
    // follow the ANSI code page.
    const UINT console = GetConsoleCP();
    const unsigned long flags = WideToLocalFlags(console != 0 ? console : GetACP());
    return WideCharToMultiByte(console, flags, reinterpret_cast<const wchar_t*>(units), -1, out,
                               out == nullptr ? 0 : capacity, nullptr, nullptr);
  }

  unsigned long LastError() override { return GetLastError(); }
};

}  // namespace

CodePage& SystemCodePage() {
  static Win32CodePage codePage;
  return codePage;
}

}  // namespace halvane
