// Code-page conversions on Windows: the system ANSI code page out, the console code page in.
#include <windows.h>

#include "link/codepage.h"

namespace halvane {
namespace {

class Win32CodePage final : public CodePage {
 public:
  int AnsiToWide(const char* text, int length, char16_t* out, int capacity) override {
    return MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, length, reinterpret_cast<wchar_t*>(out),
                               out == nullptr ? 0 : capacity);
  }

  int WideToConsole(const char16_t* units, char* out, int capacity) override {
    // GetConsoleCP() is 0 without a console, which WideCharToMultiByte takes as CP_ACP.
    return WideCharToMultiByte(GetConsoleCP(), WC_COMPOSITECHECK, reinterpret_cast<const wchar_t*>(units), -1,
                               out, out == nullptr ? 0 : capacity, nullptr, nullptr);
  }

  unsigned long LastError() override { return GetLastError(); }
};

}  // namespace

CodePage& SystemCodePage() {
  static Win32CodePage codePage;
  return codePage;
}

}  // namespace halvane
