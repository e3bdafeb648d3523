#pragma once
// The platform's code-page conversions, shaped like the two Win32 calls the text conversions make.
// Windows: MultiByteToWideChar / WideCharToMultiByte. Elsewhere: iconv with code page 1252 standing in
// for the system code page.

namespace halvane {

class CodePage {
 public:
  virtual ~CodePage() = default;
  // MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, length, out, capacity): the number of 16-bit
  // units written, or needed when out is null; 0 on failure.
  virtual int AnsiToWide(const char* text, int length, char16_t* out, int capacity) = 0;
  // WideCharToMultiByte(GetConsoleCP(), WC_COMPOSITECHECK, units, -1, out, capacity, 0, 0): the number
  // of bytes written (or needed when out is null), terminator included; 0 on failure.
  virtual int WideToConsole(const char16_t* units, char* out, int capacity) = 0;
  // GetLastError() after a failed call.
  virtual unsigned long LastError() = 0;
};

// The real conversions of the platform the program was built for.
CodePage& SystemCodePage();

}  // namespace halvane
