#include "text/lines.h"

#include <gtest/gtest.h>

namespace tarnex {
namespace {

TEST(SplitLines, EveryLineBreakFormEndsALine) {
  using Lines = std::vector<std::string>;
  struct Case {
    std::string text;
    Lines lines;
  } cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\r\n", {"a"}},
      {"a\r\nb", {"a", "b"}},
      {"a\nb\rc\r\nd", {"a", "b", "c", "d"}},
      {"\r\n\r\n", {"", ""}},
      {"a\n\rb", {"a", "", "b"}},  // LF then CR are two line ends
      {"a\r\r\n", {"a", ""}},
      {"\x95\x5C\r\n\x83\r", {"\x95\x5C", "\x83"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitLines(c.text), c.lines) << c.text;
}

TEST(JoinLines, PutsCrLfBetweenLines) {
  EXPECT_EQ(JoinLines({}), "");
  EXPECT_EQ(JoinLines({"a"}), "a");
  EXPECT_EQ(JoinLines({"a", "", "b"}), "a\r\n\r\nb");
}

}  // namespace
}  // namespace tarnex
