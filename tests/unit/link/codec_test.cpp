#include "link/codec.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>

#include "fake_code_page.h"
#include "link/partner_name.h"

namespace halvane {
namespace {

// The input in a heap block of exactly its size, so that a read past the zero shows under ASan.
std::unique_ptr<char[]> Exact(const std::string& bytes) {
  auto block = std::make_unique<char[]>(bytes.size() + 1);
  bytes.copy(block.get(), bytes.size());
  block[bytes.size()] = '\0';
  return block;
}

// Well-formed UTF-8 decodes, a four-byte character to its surrogate pair (at a line's end too). What is
// not UTF-8 is refused whole, never decoded in part: a sequence the terminating zero cuts short (nothing
// past the zero is read), and forms that would let other bytes read as letters.
TEST(Utf8ToUtf16, DecodesOnlyWellFormedUtf8) {
  const std::pair<std::string, std::u16string> decoded[] = {
      {"A", u"A"}, {"\xC3\xA9", u"\u00E9"}, {"\xE2\x82\xAC", u"\u20AC"}, {"", u""},
      {"\xED\x9F\xBF", u"\xD7FF"}, {"\xF4\x8F\xBF\xBF", u"\xDBFF\xDFFF"},  // last before the surrogates, highest
      {"CALL 5 STATUS \xF0\x9F\x98\x80", u"CALL 5 STATUS \xD83D\xDE00"},
  };
  for (const auto& [bytes, want] : decoded) {
    std::u16string units = u"stale";
    EXPECT_TRUE(Utf8ToUtf16(Exact(bytes).get(), units)) << ::testing::PrintToString(bytes);
    EXPECT_EQ(units, want) << ::testing::PrintToString(bytes);
  }
  const char* const refused[] = {
      "\xC3", "CALL 1 STATUS RINGING\xC3", "A\xE2\x82", "A\xE2", "\xF0\x9F", "\x80",  // cut short
      "\xC1\x83\xC1\x81LL 23 STATUS RINGING",                                     // over-long "CA"
      "\xC0\x80\x41", "\xE0\x81\x81", "\xF0\x80\x81\x81",                          // over-long forms
      "\xED\xA0\xBD", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80",                     // surrogate, > U+10FFFF
      "\x80\x41", "\xC3\x29", "\xE2\x82\x41",                                       // stray or missing continuation
  };
  for (const char* bytes : refused) {
    std::u16string units = u"stale";
    EXPECT_FALSE(Utf8ToUtf16(Exact(bytes).get(), units)) << ::testing::PrintToString(std::string(bytes));
    EXPECT_TRUE(units.empty()) << ::testing::PrintToString(std::string(bytes));
  }
}

TEST(Utf16ToUtf8, EncodesEachUnitByItself) {
  const struct {
    std::u16string units;
    std::string bytes;
  } rows[] = {
      {u"A", "A"}, {u"\u00E9", "\xC3\xA9"}, {u"\u07FF", "\xDF\xBF"}, {u"\u0800", "\xE0\xA0\x80"},
      {u"\u20AC", "\xE2\x82\xAC"}, {u"\uFFFF", "\xEF\xBF\xBF"}, {u"", ""},
      {std::u16string{char16_t{0xD83D}, char16_t{0xDE00}}, "\xED\xA0\xBD\xED\xB8\x80"},
  };
  for (const auto& row : rows) EXPECT_EQ(Utf16ToUtf8(row.units.c_str()), row.bytes);
}

// A far end's name: nothing in it may change the layout around it, and it is cut between characters.
TEST(PartnerName, CleanedStoredOnceAsDisplayNameOverHandle) {
  const std::pair<std::string, std::string> rows[] = {
      {"  Anna Berg ", "Anna Berg"}, {"Anna\r\nBerg\t\x1b[2J\x7F", "AnnaBerg[2J"}, {"\xE2\x80\xAEgreB\xE2\x81\xA6!\xE2\x80\xA8", "greB!"},
      {"Zo\xC3\xAB\xC2\x85 \xFF\xC0\xAF\xC3", "Zo\xC3\xAB"}, {std::string(47, 'a') + "\xC3\xAB", std::string(47, 'a')}};
  for (const auto& row : rows) EXPECT_EQ(CleanName(row.first), row.second) << row.first;
  test::FakeCodePage codePage;
  CallNames names;
  EXPECT_TRUE(ReadPartnerName(codePage, "#KALDU7 CALL 1234 PARTNER_HANDLE anna.berg", names));
  EXPECT_TRUE(ReadPartnerName(codePage, "CALL 1234 PARTNER_DISPNAME Zo\xC3\xAB \xE2\x80\xAE Berg\r\n", names));
  EXPECT_TRUE(ReadPartnerName(codePage, "CALL 1234 PARTNER_HANDLE anna.berg", names)) << "read, not stored";
  EXPECT_FALSE(ReadPartnerName(codePage, "CHAT x CALL 1240 PARTNER_DISPNAME Eve", names));
  EXPECT_FALSE(ReadPartnerName(codePage, "CALL 1240 PARTNER_DISPNAME \xE2\x80\xAE", names));
  EXPECT_EQ(names.NameOf("1234"), "Zo\xEB  Berg");
  EXPECT_EQ(names.NameOf("1240"), "");
}

// The platform takes no composition flag for UTF-8 and GB18030 and fails every conversion given one.
TEST(CodePageFlags, NoneForUtf8AndGb18030TodaysElsewhere) {
  const struct {
    unsigned codePage;
    unsigned long toWide;
    unsigned long fromWide;
  } rows[] = {
      {65001, 0, 0}, {54936, 0, 0}, {1252, 0x1, 0x200}, {932, 0x1, 0x200}, {0, 0x1, 0x200}, {65000, 0x1, 0x200},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(AnsiToWideFlags(row.codePage), row.toWide) << row.codePage;
    EXPECT_EQ(WideToLocalFlags(row.codePage), row.fromWide) << row.codePage;
  }
}

// Each way a conversion fails leaves no text; a received text's failure is told on standard error.
TEST(Utf8ToLocal, ReportsEachFailureOnStandardError) {
  struct Row {
    const char* name;
    const char* text;
    int measure;
    int convert;
    const char* message;  // nullptr: the row converts a command (AnsiToUtf8), which tells nothing
  };
  const Row rows[] = {
      {"measuring call answers 0", "abc", 0, -1, "Unicode translation error 1113\n"},
      {"converting call answers another count", "abc", -1, 2, "Unicode translation error 1113\n"},
      {"lone lead byte at the end", "CALL 5 STATUS RINGING\xE2\x82", -1, -1,
       "Incomplete UTF8 sequence at the end of a string\n"},
      {"over-long letters", "\xC1\x83\xC1\x81LL 23 STATUS RINGING", -1, -1, "Invalid UTF8 sequence in a string\n"},
      {"command: empty text", "", -1, -1, nullptr},
      {"command: no text", nullptr, -1, -1, nullptr},
      {"command: measuring call answers 0", "abc", 0, -1, nullptr},
      {"command: converting call answers another count", "abc", -1, 2, nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    test::FakeCodePage codePage;
    codePage.measureAnswer = row.measure;
    codePage.convertAnswer = row.convert;
    codePage.error = 1113;
    if (row.message == nullptr) {
      std::string utf8 = "stale";
      EXPECT_FALSE(AnsiToUtf8(codePage, row.text, utf8));
      EXPECT_TRUE(utf8.empty());
      continue;
    }
    std::unique_ptr<char[]> local(new char[6]{"stale"});
    const auto input = Exact(row.text);
    testing::internal::CaptureStderr();
    const bool converted = Utf8ToLocal(codePage, input.get(), local);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), row.message);
    EXPECT_FALSE(converted);
    EXPECT_EQ(local, nullptr);
  }
}

// The platform's own conversions: MultiByteToWideChar/WideCharToMultiByte under Wine (ANSI code page
// 1252, no console code page), iconv's CP1252 natively. Both must agree byte for byte.
TEST(SystemCodePage, WesternTextRoundTrips) {
  std::string utf8;
  ASSERT_TRUE(AnsiToUtf8(SystemCodePage(), "\xE9", utf8));
  EXPECT_EQ(utf8, "\xC3\xA9");
  ASSERT_TRUE(AnsiToUtf8(SystemCodePage(), "#KALDU \x80 5", utf8));
  EXPECT_EQ(utf8, "#KALDU \xE2\x82\xAC 5");

  std::unique_ptr<char[]> local;
  ASSERT_TRUE(Utf8ToLocal(SystemCodePage(), "\xC3\xA9", local));
  EXPECT_STREQ(local.get(), "\xE9");
  ASSERT_TRUE(Utf8ToLocal(SystemCodePage(), "CALL 5 STATUS \xE2\x82\xAC", local));
  EXPECT_STREQ(local.get(), "CALL 5 STATUS \x80");
}

}  // namespace
}  // namespace halvane
