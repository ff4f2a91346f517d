#include "text/wildcard.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/text_encoding.h"

namespace tarnex {
namespace {

#define HYO "\x95\x5C"  // 表: its second byte is a backslash
#define CHO "\x81\x5B"  // ー: its second byte is "["
#define KA "\x83\x4A"   // カ
#define KI "\x83\x4C"   // キ

struct Case {
  std::string pattern;
  std::string name;
  bool matches;
};

TEST(MatchesWildcard, MatchesWholeNamesCharacterByCharacter) {
  const std::vector<Case> cases = {
      {"*.csv", "report.csv", true},
      {"*.csv", "report.csv.tmp", false},
      {"*.csv", ".hidden.csv", false},  // a leading dot is matched only by a dot
      {".*", ".hidden", true},
      {"*", "", true},
      {"", "", true},
      {"", "a", false},
      {"a*b*c", "aXbYbZc", true},
      {"a*b*c", "aXbYbZ", false},
      {"**x", "abx", true},
      {"report-??.txt", "report-07.txt", true},
      {"report-??.txt", "report-7.txt", false},
      {"[abc]1", "b1", true},
      {"[!abc]1", "b1", false},
      {"[^abc]1", "d1", true},
      {"[a-c]x", "cx", true},
      {"[a-c]x", "dx", false},
      {"[]a]", "]", true},  // a "]" first in a set is a member
      {"[a-]", "-", true},  // so is a "-" last
      {"[*]", "*", true},   // the one way to match a star
      {"[*]", "x", false},
      {"a[b", "a[b", true},  // a set never closed is an ordinary "["
      {"A*", "abc", false},  // case counts
      {"file name *", "file name 1.txt", true},
      {"?", HYO, true},  // one double-byte character is one "?"
      {"??", HYO, false},
      {HYO "*", HYO "x", true},
      {"*" HYO, "a" HYO, true},
      {CHO "*", CHO "abc", true},  // its second byte "[" opens no set
      {"[" CHO "]x", CHO "x", true},
      {"[" KA "-" KI "]", "\x83\x4B", true},  // ガ lies between カ and キ
      {"[" KA "-" KI "]", "\x83\x4D", false},
      {"*\\", HYO, false},  // the backslash inside 表 is no character of its own
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MatchesWildcard(c.pattern, c.name), c.matches) << c.pattern << " / " << c.name;
  }
}

TEST(MatchesWildcard, HiddenNamesTooMatchAnyPatternThatFitsThem) {
  const std::vector<Case> cases = {
      {"*", ".htaccess", true},
      {"*.csv", ".hidden.csv", true},
      {"?profile", ".profile", true},
      {"[.]*", ".x", true},
      {"*.csv", ".hidden.txt", false},  // the rest of the pattern still counts
      {"*", "a.txt", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MatchesWildcard(c.pattern, c.name, /*hidden_too=*/true), c.matches)
        << c.pattern << " / " << c.name;
  }
}

TEST(MatchesWildcard, UnderUtf8ACharacterIsOneSequence) {
  platform::ScopedTextEncoding utf8(platform::TextEncoding::Utf8);
  const std::vector<Case> cases = {
      {"?.txt", "\xC3\xA9.txt", true},  // é
      {"??.txt", "\xC3\xA9.txt", false},
      {"[\xC3\xA0-\xC3\xBF]", "\xC3\xA9", true},   // à-ÿ holds é
      {"*\xE8\xA1\xA8*", "a\xE8\xA1\xA8z", true},  // 表
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MatchesWildcard(c.pattern, c.name), c.matches) << c.pattern << " / " << c.name;
  }
}

}  // namespace
}  // namespace tarnex
