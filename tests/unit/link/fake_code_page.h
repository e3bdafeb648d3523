#pragma once
// The system code page (1252 natively and under Wine), with each answer open to override to drive the
// failure paths.

#include "link/codepage.h"

namespace halvane::test {

class FakeCodePage final : public CodePage {
 public:
  int measureAnswer = -1;   // the measuring call (out is null) of either direction, when not negative
  int convertAnswer = -1;   // the converting call of either direction, when not negative
  unsigned long error = 0;  // what LastError reports

  int AnsiToWide(const char* text, int length, char16_t* out, int capacity) override {
    const int forced = out == nullptr ? measureAnswer : convertAnswer;
    return forced >= 0 ? forced : SystemCodePage().AnsiToWide(text, length, out, capacity);
  }
  int WideToConsole(const char16_t* units, char* out, int capacity) override {
    const int forced = out == nullptr ? measureAnswer : convertAnswer;
    return forced >= 0 ? forced : SystemCodePage().WideToConsole(units, out, capacity);
  }
  unsigned long LastError() override { return error; }
};

}  // namespace halvane::test
