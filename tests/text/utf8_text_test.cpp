// A UTF-8 script's strings: its characters are whole UTF-8 sequences, so no byte of one is
// ever taken for a CP932 lead byte that swallows a quote, blank or backslash after it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/text_encoding.h"
#include "text/script_encoding.h"
#include "text/sjis.h"
#include "text/string_helpers.h"
#include "text/texts.h"

namespace tarnex {
namespace {

using platform::TextEncoding;

// "あ" is E3 81 82 in UTF-8: read as CP932, E3 81 is one character and 82 a lead byte that
// takes the byte after it.
#define A "\xE3\x81\x82"
#define E_ACUTE "\xC3\xA9"
#define IDEOGRAPHIC_SPACE "\xE3\x80\x80"

TEST(DetectScriptEncoding, ValidMultiByteUtf8OrABomMakesUtf8) {
  struct Case {
    const char* name;
    std::string text;
    TextEncoding expected;
  };
  const std::vector<Case> cases = {
      {"empty", "", TextEncoding::Cp932},
      {"ASCII only", "Open host\r\nBye\r\n", TextEncoding::Cp932},
      {"BOM and ASCII", "\xEF\xBB\xBFRem x", TextEncoding::Utf8},
      {"accents", "Rem caf" E_ACUTE, TextEncoding::Utf8},
      {"Japanese", "Put " A ".txt", TextEncoding::Utf8},
      {"four-byte sequence", "Rem \xF0\x9F\x98\x80", TextEncoding::Utf8},
      {"Shift-JIS", "Put \x95\x5C.txt", TextEncoding::Cp932},
      {"UTF-8 cut short at the end", "Rem caf\xC3", TextEncoding::Cp932},
      {"UTF-8 followed by Shift-JIS", "Rem " E_ACUTE " \x95\x5C", TextEncoding::Cp932},
      {"overlong slash", "Rem \xC0\xAF", TextEncoding::Cp932},
      {"surrogate", "Rem \xED\xA0\x80", TextEncoding::Cp932},
      {"beyond U+10FFFF", "Rem \xF4\x90\x80\x80", TextEncoding::Cp932},
  };
  for (const Case& c : cases) EXPECT_EQ(DetectScriptEncoding(c.text), c.expected) << c.name;
  EXPECT_EQ(WithoutUtf8Bom("\xEF\xBB\xBFRem"), "Rem");
  EXPECT_EQ(WithoutUtf8Bom("Rem\xEF\xBB\xBF"), "Rem\xEF\xBB\xBF");
}

TEST(Utf8Text, SeparatorsAfterAMultiByteCharacterAreSeen) {
  platform::ScopedTextEncoding utf8(TextEncoding::Utf8);
  struct Case {
    std::string rest;
    std::string argument;
    std::string left;
  };
  const std::vector<Case> cases = {
      {"\"" A "\" next", A, " next"},  // the closing quote
      {A " b", A, "b"},                // the blank
      {"\"d " A "\"", "d " A, ""},
      {"caf" E_ACUTE " x", "caf" E_ACUTE, "x"},
      {"\x82\" y", "\x82\"", "y"},  // a stray byte is a character of its own
  };
  for (const Case& c : cases) {
    std::string rest = c.rest;
    EXPECT_EQ(NextArgument(rest), c.argument) << c.rest;
    EXPECT_EQ(rest, c.left) << c.rest;
  }
  EXPECT_EQ(FileNamePart("dir" A "\\" A ".txt"), A ".txt");
  EXPECT_EQ(CharCount("a" A E_ACUTE), 3u);
  EXPECT_EQ(CharCopy("a" A "b", 2, 1), A);
  EXPECT_TRUE(IsTrailByte("a" A, 3));
  EXPECT_FALSE(IsTrailByte("a" A, 2));
  EXPECT_EQ(BytePos("\x82", A "\x82"), 4u);  // not the last byte of あ
}

TEST(Utf8Text, BlanksAndKeywords) {
  platform::ScopedTextEncoding utf8(TextEncoding::Utf8);
  EXPECT_EQ(TrimBlanks(IDEOGRAPHIC_SPACE " open " IDEOGRAPHIC_SPACE), "open");
  EXPECT_EQ(TrimBlanks("\x81\x40x"), "\x81\x40x");  // CP932's full-width blank is no blank here
  EXPECT_TRUE(SameText("OPEN" A, "open" A));
  EXPECT_FALSE(SameText(E_ACUTE, "\xC3\x89"));  // É: only ASCII letters fold
}

TEST(Utf8Text, TheSystemsTextsFollowTheEncoding) {
  const std::string cp932 = texts::UnexpectedError();
  {
    platform::ScopedTextEncoding utf8(TextEncoding::Utf8);
    EXPECT_EQ(texts::UnexpectedError(), "999 予期せぬエラー：");
    EXPECT_EQ(texts::NotAnInteger("x"), "'x' は整数ではありません");
  }
  EXPECT_EQ(texts::UnexpectedError(), cp932);
  EXPECT_EQ(cp932, "999 \x97\x5C\x8A\xFA\x82\xB9\x82\xCA\x83\x47\x83\x89\x81\x5B\x81\x46");
}

}  // namespace
}  // namespace tarnex
