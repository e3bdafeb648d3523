#pragma once
// A code page for tests that behaves the same natively and under Wine: bytes are Latin-1, units below
// 0x100 map back to their byte. Each answer can be overridden to drive the failure paths.

#include "link/codepage.h"

namespace halvane::test {

class FakeCodePage final : public CodePage {
 public:
  // Answers that replace the real ones when not negative.
  int measureAnswer = -1;   // the measuring call (out is null) of either direction
  int convertAnswer = -1;   // the converting call of either direction
  unsigned long error = 0;  // what LastError reports

  int AnsiToWide(const char* text, int length, char16_t* out, int capacity) override {
    if (out == nullptr && measureAnswer >= 0) return measureAnswer;
    if (out != nullptr && convertAnswer >= 0) return convertAnswer;
    if (length <= 0) return 0;
    if (out == nullptr) return length;
    if (capacity < length) return 0;
    for (int i = 0; i < length; ++i) out[i] = static_cast<unsigned char>(text[i]);
    return length;
  }

  int WideToConsole(const char16_t* units, char* out, int capacity) override {
    if (out == nullptr && measureAnswer >= 0) return measureAnswer;
    if (out != nullptr && convertAnswer >= 0) return convertAnswer;
    int length = 0;
    while (units[length] != 0) ++length;
    if (out == nullptr) return length + 1;
    if (capacity < length + 1) return 0;
    for (int i = 0; i < length; ++i) out[i] = units[i] < 0x100 ? static_cast<char>(units[i]) : '?';
    out[length] = '\0';
    return length + 1;
  }

  unsigned long LastError() override { return error; }
};

}  // namespace halvane::test
