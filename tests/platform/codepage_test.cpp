#include "platform/codepage.h"

#include <gtest/gtest.h>

namespace tarnex::platform {
namespace {

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

}  // namespace
}  // namespace tarnex::platform
