#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <random>

namespace tarnex::platform {
namespace {

TEST(Codepage, LeadBytesAre81To9FAndE0ToFC) {
  for (int byte = 0; byte < 256; ++byte) {
    const bool lead = (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    EXPECT_EQ(IsCp932LeadByte(static_cast<unsigned char>(byte)), lead) << byte;
  }
}

TEST(Codepage, RoundTripsJapaneseAndAscii) {
  struct Case {
    std::string utf8, cp932;
  } cases[] = {
      {"abc", "abc"},
      {"表", "\x95\x5C"},
      {"ソ能", "\x83\x5C\x94\x5C"},
      {"\xE3\x80\x80", "\x81\x40"},  // full-width blank
      {"ｶｯﾄ", "\xB6\xAF\xC4"},       // half-width katakana are single bytes
      {"C:\\a", "C:\\a"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf8ToCp932(c.utf8), c.cp932) << c.utf8;
    EXPECT_EQ(Cp932ToUtf8(c.cp932), c.utf8) << c.utf8;
    EXPECT_EQ(TryCp932ToUtf8(c.cp932), c.utf8);
  }
}

TEST(Codepage, InvalidBytesAreRefusedOrReplaced) {
  std::string lone_lead = "a\x81";
  EXPECT_FALSE(TryCp932ToUtf8(lone_lead).has_value());
  EXPECT_EQ(Cp932ToUtf8(lone_lead), "a\xEF\xBF\xBD");
  EXPECT_EQ(Utf8ToCp932("a\xF0\x9F\x98\x80" "b"), "a?b");  // an emoji has no CP932 form
}

// Every byte of a script survives the way through the editor's text and back.
TEST(Codepage, EscapedConversionKeepsEveryByte) {
  struct Case {
    const char* what;
    std::string cp932;
    std::string utf8;  // the editor's text
  } cases[] = {
      {"bytes that are never CP932", std::string("\x80\xA0\xFD\xFE\xFF", 5),
       "\xEF\x9E\x80\xEF\x9E\xA0\xEF\x9F\xBD\xEF\x9F\xBE\xEF\x9F\xBF"},
      {"lead byte at the end", "a\x81", "a\xEF\x9E\x81"},
      {"unassigned row, then a valid character", "\x85\x81\x40", "\xEF\x9E\x85\xE3\x80\x80"},
      // Duplicate codes read as a character CP932 writes with other bytes: kept as bytes.
      {"NEC row 13 duplicate", "\x87\x90", "\xEF\x9E\x87\xEF\x9E\x90"},
      {"NEC-selected IBM kanji", "x\xED\x40", "x\xEF\x9F\xAD\xEF\x9D\x80"},
      {"the written code of the same character", "\x81\xE0", "\xE2\x89\x92"},
      {"NUL and controls", std::string("\0\t\x1B\x7F", 4), std::string("\0\t\x1B\x7F", 4)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Cp932ToUtf8Escaped(c.cp932), c.utf8);
    const EscapedCp932 back = Utf8ToCp932Escaped(c.utf8);
    EXPECT_EQ(back.bytes, c.cp932);
    EXPECT_FALSE(back.first_unrepresentable.has_value());
  }

  std::mt19937 random(932);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<size_t> length(0, 12);
  for (int i = 0; i < 5000; ++i) {
    std::string bytes(length(random), '\0');
    for (char& b : bytes) b = static_cast<char>(byte(random));
    const EscapedCp932 back = Utf8ToCp932Escaped(Cp932ToUtf8Escaped(bytes));
    ASSERT_EQ(back.bytes, bytes) << i;
    ASSERT_FALSE(back.first_unrepresentable.has_value());
  }
}

TEST(Codepage, EscapedConversionReportsTheFirstCharacterCp932CannotHold) {
  struct Case {
    const char* what;
    std::string utf8;
    std::string cp932;
    std::optional<Unrepresentable> first;
  } cases[] = {
      {"all held", "a表ｶ", "a\x95\x5C\xB6", std::nullopt},
      {"emoji",
       "a\xF0\x9F\x98\x80"
       "b\xC3\xA9",
       "a?b?", Unrepresentable{1, 0x1F600}},
      // The converter would silently write nothing for a tag character.
      {"tag character", "x\xF3\xA0\x81\x81", "x?", Unrepresentable{1, 0xE0041}},
      {"bytes that are not UTF-8", "a\xFF\xE8\xA1", "a???", Unrepresentable{1, 0xFFFD}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const EscapedCp932 out = Utf8ToCp932Escaped(c.utf8);
    EXPECT_EQ(out.bytes, c.cp932);
    ASSERT_EQ(out.first_unrepresentable.has_value(), c.first.has_value());
    if (c.first) {
      EXPECT_EQ(out.first_unrepresentable->offset, c.first->offset);
      EXPECT_EQ(out.first_unrepresentable->code_point, c.first->code_point);
    }
  }
}

}  // namespace
}  // namespace tarnex::platform
