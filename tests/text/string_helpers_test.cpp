#include "text/string_helpers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/errors.h"

namespace tarnex {
namespace {

// Shift-JIS characters whose second byte is a backslash, and the full-width space.
#define HYO "\x95\x5C"  // 表
#define SO "\x83\x5C"   // ソ
#define NOU "\x94\x5C"  // 能
#define ZSP "\x81\x40"  // full-width space

TEST(WholeNumber, TakesTheWholeTextOrNothing) {
  EXPECT_EQ(WholeNumber<int>("42"), 42);
  EXPECT_EQ(WholeNumber<int>("-7"), -7);
  EXPECT_EQ(WholeNumber<uint64_t>("18446744073709551615"), UINT64_MAX);
  for (const char* text : {"", " 1", "1 ", "+1", "1x", "0x10", "2147483648"}) {
    EXPECT_FALSE(WholeNumber<int>(text)) << text;
  }
  EXPECT_FALSE(WholeNumber<uint64_t>("-1"));
}

TEST(IsTrailByte, FollowsTheLeadBytesBeforeIt) {
  struct Case {
    std::string text;
    std::size_t i;
    bool trail;
  };
  const std::vector<Case> cases = {
      {"a" HYO, 1, false},        {"a" HYO, 2, false},           {"a" HYO, 3, true},
      {HYO "\\", 3, false},       // a real backslash after 表
      {"\x81\x81\x40", 2, true},  // a lead-range byte as second byte
      {"\x81\x81\x40", 3, false}, {"\x81\x81\x81\x40", 4, true}, {"\x81", 1, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsTrailByte(c.text, c.i), c.trail) << c.text << " at " << c.i;
  }
}

TEST(IsTrailByte, RejectsPositionsOutsideTheText) {
  for (auto [text, i] :
       std::vector<std::pair<std::string, std::size_t>>{{"abc", 0}, {"abc", 4}, {"", 1}, {"", 0}}) {
    try {
      IsTrailByte(text, i);
      ADD_FAILURE() << "no error for " << i << " in '" << text << "'";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), "Illegal Index");
    }
  }
}

TEST(BytePos, NeverMatchesOnASecondByte) {
  struct Case {
    std::string needle;
    std::string text;
    std::size_t pos;
  };
  const std::vector<Case> cases = {
      {"\\", HYO "\\x", 3}, {"\\", HYO SO NOU, 0}, {"\\a", HYO "a\\a", 4},  // the first match
                                                                            // starts on a second
                                                                            // byte
      {"@", ZSP "@", 3},    {"bc", "abcbc", 2},    {"", "abc", 0},         {"x", "", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(BytePos(c.needle, c.text), c.pos) << c.needle << " in " << c.text;
  }
}

TEST(CharPos, CountsDoubleByteCharactersOnce) {
  EXPECT_EQ(CharPos("\\", HYO "a\\"), 3u);
  EXPECT_EQ(CharPos("\\", HYO SO), 0u);
  EXPECT_EQ(CharPos(SO, "ab" HYO SO), 4u);
  EXPECT_EQ(CharPos("", "a"), 0u);
  EXPECT_EQ(CharPos("a", ""), 0u);
}

TEST(CharCopyAndDelete, NeverCutADoubleByteCharacter) {
  const std::string text = "a" HYO "b";
  struct Case {
    std::size_t index;
    std::size_t count;
    std::string copied;
    std::string after_delete;
  };
  const std::vector<Case> cases = {
      {1, 1, "a", HYO "b"}, {2, 1, HYO, "ab"}, {2, 2, HYO "b", "a"}, {3, 9, "b", "a" HYO},
      {1, 0, "", text},     {4, 1, "", text},  {0, 1, "a", text},  // copy counts index 0 as 1;
                                                                   // delete ignores it
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CharCopy(text, c.index, c.count), c.copied) << c.index << "," << c.count;
    std::string deleted = text;
    CharDelete(deleted, c.index, c.count);
    EXPECT_EQ(deleted, c.after_delete) << c.index << "," << c.count;
  }
  EXPECT_EQ(CharCopy("", 1, 1), "");
  EXPECT_EQ(CharCopy("a\x81", 2, 1), "\x81");  // a lone lead byte at the end
}

struct SplitCase {
  std::string text;
  std::string seps;
  std::string token;
  std::string rest;
};

TEST(NextToken, SkipsLeadingSeparatorsAndConsumesOneAfter) {
  const std::vector<SplitCase> cases = {
      {"  open  host", " ", "open", " host"},
      {"word", " ", "word", ""},
      {"", " ", "", ""},
      {"   ", " ", "", ""},
      {"a\tb c", " ", "a\tb", "c"},  // a tab is an ordinary character
      {ZSP "open host", " ", ZSP "open", "host"},
      {HYO "\\dir file", "\\", HYO, "dir file"},
      {NOU "a\\b", "\\", NOU "a", "b"},  // 能 is not a leading separator
      {SO "x y", " ", SO "x", "y"},
      {"a=b=c", "=", "a", "b=c"},
      {"==x", "=", "x", ""},
      {"one\r\ntwo", "\r\n", "one", "\ntwo"},
      {HYO "\r\n" SO, "\r\n", HYO, "\n" SO},  // line ends after a double-byte character
      {"\x81\x40" "a@b", "@", "\x81\x40" "a", "b"},  // "@" is a second byte here, no separator
      {"a b", "", "a b", ""},
  };
  for (const auto& c : cases) {
    std::string text = c.text;
    EXPECT_EQ(NextToken(text, c.seps), c.token) << c.text;
    EXPECT_EQ(text, c.rest) << c.text;
  }
}

TEST(SplitAtSeparator, DoesNotSkipLeadingSeparators) {
  const std::vector<SplitCase> cases = {
      {"  x", " ", "", " x"},
      {HYO " x", " ", HYO, "x"},
      {"abc", " ", "abc", ""},
  };
  for (const auto& c : cases) {
    std::string text = c.text;
    EXPECT_EQ(SplitAtSeparator(text, c.seps), c.token) << c.text;
    EXPECT_EQ(text, c.rest) << c.text;
  }
}

TEST(TrimBlanks, TrimsSpacesAndFullWidthSpacesOnly) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"  a b  ", "a b"},
      {ZSP "a" ZSP, "a"},
      {" " ZSP " a " ZSP " ", "a"},
      {ZSP ZSP, ""},
      {"", ""},
      {"\ta\t", "\ta\t"},
      {HYO ZSP, HYO},
      {"\x83\x81\x40", "\x83\x81\x40"},  // 0x83 0x81 is one character, then a lone '@'
      {"\x83\x81\x40 ", "\x83\x81\x40"},
      {"\x81 ", "\x81 "},  // a space as a second byte is no blank
  };
  for (const auto& [text, trimmed] : cases) EXPECT_EQ(TrimBlanks(text), trimmed) << text;
}

TEST(StrToIntSafe, GivesZeroForAnythingThatDoesNotConvert) {
  const std::vector<std::pair<std::string, int32_t>> cases = {
      {"2,121", 2121},
      {"1,234,567,890", 1234567890},  // 10 bytes once the commas are gone
      {" 21 ", 21},
      {ZSP "7", 7},
      {"+5", 5},
      {"-214748364", -214748364},
      {"2147483647", 2147483647},
      {"2147483648", 0},
      {"9999999999", 0},
      {"-2147483648", 0},  // 11 bytes
      {"12345678901", 0},
      {"", 0},
      {" ", 0},
      {"-", 0},
      {"+", 0},
      {"--5", 0},
      {"+-5", 0},
      {"12a", 0},
      {"1 2", 0},
      {"0x10", 0},
      {"\t7", 0},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(StrToIntSafe(text), value) << text;
}

TEST(NextArgument, TakesWordsAndQuotedArguments) {
  struct Case {
    std::string rest;
    std::vector<std::string> arguments;  // successive calls
    std::string left;
  };
  const std::vector<Case> cases = {
      {"\"my file.txt\" dest.txt", {"my file.txt", "dest.txt"}, ""},
      {"  a  b", {"a", "b"}, ""},
      {"ab\"c d", {"ab\"c", "d"}, ""},
      {"\"no end", {"no end", ""}, ""},
      {"\"\" x", {" x"}, ""},  // two quotes in a row open the argument
      {"  \"a b\"c d", {"a b", "c", "d"}, ""},
      {HYO "\\a " SO, {HYO "\\a", SO}, ""},
      {"\"" HYO " " NOU "\" " SO "\\", {HYO " " NOU, SO "\\"}, ""},
      {"a b c", {"a"}, "b c"},
      {"", {""}, ""},
  };
  for (const auto& c : cases) {
    std::string rest = c.rest;
    for (const auto& expected : c.arguments) EXPECT_EQ(NextArgument(rest), expected) << c.rest;
    EXPECT_EQ(rest, c.left) << c.rest;
  }
}

TEST(SameText, FoldsOnlyAsciiLetters) {
  struct Case {
    std::string a;
    std::string b;
    bool same;
  };
  const std::vector<Case> cases = {
      {"OPEN", "open", true},
      {"NonError", "NONERROR", true},
      {"Opens", "Open", false},
      {"[", "{", false},
      {"@", "`", false},
      {"a\tb", "A\tB", true},
      {"\x83\x41", "\x83\x61", false},  // two katakana, not a case pair
      {"\x83\x41x", "\x83\x41X", true},
      {"", "", true},
  };
  for (const auto& c : cases) EXPECT_EQ(SameText(c.a, c.b), c.same) << c.a << " / " << c.b;
}

// A listing or reply line can be long; each helper must stay linear in its length.
TEST(StringHelpers, LongLinesStayLinear) {
  constexpr std::size_t kLength = 1 << 20;
  std::string blanks(kLength, ' ');
  blanks += "x";
  EXPECT_EQ(NextToken(blanks, " "), "x");

  std::string kanji;
  for (std::size_t i = 0; i < kLength / 2; ++i) kanji += HYO;
  EXPECT_EQ(BytePos("\\", kanji), 0u);
  EXPECT_EQ(CharPos("\\", kanji + "\\"), kLength / 2 + 1);

  std::string padded = kanji;
  for (std::size_t i = 0; i < kLength / 2; ++i) padded += ZSP;
  EXPECT_EQ(TrimBlanks(padded), kanji);

  std::string line = kanji + " rest";
  EXPECT_EQ(NextArgument(line), kanji);
}

}  // namespace
}  // namespace tarnex
