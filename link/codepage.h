#pragma once
// The platform's code-page conversions, shaped like the two Win32 calls the text conversions make.
// Windows: MultiByteToWideChar / WideCharToMultiByte. Elsewhere: iconv with code page 1252 standing in
// for the system code page.

namespace halvane {

inline constexpr unsigned kCodePageUtf8 = 65001;
inline constexpr unsigned kCodePageGb18030 = 54936;
inline constexpr unsigned long kMbPrecomposed = 0x00000001;     // MB_PRECOMPOSED
inline constexpr unsigned long kWcCompositeCheck = 0x00000200;  // WC_COMPOSITECHECK

// The flags each conversion passes for the code page it converts with. A system set to use UTF-8 for
// worldwide language support has 65001 as its code page, and for 65001 and 54936 the platform takes no
// flag but the invalid-character check: any other fails with ERROR_INVALID_FLAGS, every text with it.
constexpr bool TakesNoConversionFlags(unsigned codePage) {
  return codePage == kCodePageUtf8 || codePage == kCodePageGb18030;
}
constexpr unsigned long AnsiToWideFlags(unsigned codePage) {
  return TakesNoConversionFlags(codePage) ? 0 : kMbPrecomposed;
}
constexpr unsigned long WideToLocalFlags(unsigned codePage) {
  return TakesNoConversionFlags(codePage) ? 0 : kWcCompositeCheck;
}

class CodePage {
 public:
  virtual ~CodePage() = default;
  // MultiByteToWideChar(CP_ACP, AnsiToWideFlags(GetACP()), text, length, out, capacity): the number of
  // 16-bit units written, or needed when out is null; 0 on failure.
  virtual int AnsiToWide(const char* text, int length, char16_t* out, int capacity) = 0;
  // WideCharToMultiByte(GetConsoleCP(), WideToLocalFlags(that code page), units, -1, out, capacity, 0, 0):
  // the number of bytes written (or needed when out is null), terminator included; 0 on failure.
  virtual int WideToConsole(const char16_t* units, char* out, int capacity) = 0;
  // GetLastError() after a failed call.
  virtual unsigned long LastError() = 0;
};

// The real conversions of the platform the program was built for.
CodePage& SystemCodePage();

}  // namespace halvane
