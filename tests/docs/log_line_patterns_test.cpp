// How docs/log-lines.md's tables become patterns: a mistake here would let undescribed lines
// through (a pattern too wide) or fail lines the page describes.
#include "tests/docs/log_line_patterns.h"

#include <gtest/gtest.h>

namespace tarnex::docs {
namespace {

constexpr char kLegend[] =
    "| placeholder | stands for |\n|---|---|\n"
    "| `NNN` | a reply code |\n| `N`, `M` | numbers |\n| `R` | a rate |\n| `NAME` | a name |\n";

std::string PageWithRow(const std::string& first_column) {
  return std::string(kLegend) + "\n| line | meaning |\n|---|---|\n| " + first_column + " | x |\n";
}

TEST(LogLinePatterns, PlaceholdersMatchWhatTheLegendSaysAndTheRestIsLiteral) {
  struct Case {
    const char* row;
    const char* line;
    bool described;
  } cases[] = {
      {"`NNN Connect success`", "230 Connect success", true},
      {"`NNN Connect success`", "23 Connect success", false},
      {"`NNN Connect success`", "abc Connect success", false},
      {"`    Retrived End N Byte (RByte/sec)`", "    Retrived End 12 Byte (3.50Byte/sec)", true},
      {"`    Retrived End N Byte (RByte/sec)`", "    Retrived End 12 Byte (3Byte/sec)", false},
      {"`Download incomplete: N of M bytes received`", "Download incomplete: 1 of 2 bytes received",
       true},
      {"`Already complete: NAME`", "Already complete: a b.txt", true},
      // Capitals the legend does not list, and capitals inside a word, are literal.
      {"`SIZE refused: N`", "SIZE refused: 4", true},
      {"`SIZE refused: N`", "7 refused: 4", false},
      {"`Not Connected`", "Not Connected", true},
      {"`Not Connected`", "5ot Connected", false},
      // Characters a regular expression would take as operators are literal.
      {"`D*N:(x)`", "D*5:(x)", true},
      {"`D*N:(x)`", "DDD5:x", false},
      // Every code span of the first column is a line; other columns are no lines.
      {"`Invalid passive port in reply`, `Invalid extended passive reply`",
       "Invalid extended passive reply", true},
  };
  for (const Case& c : cases) {
    const PagePatterns page = LinePatternsOfPage(PageWithRow(c.row));
    ASSERT_TRUE(page.problems.empty()) << c.row;
    EXPECT_EQ(Describing(page.patterns, c.line) != nullptr, c.described)
        << c.row << " / " << c.line;
  }
}

TEST(LogLinePatterns, ARowWithoutACodeSpanDescribesNoLine) {
  EXPECT_TRUE(LinePatternsOfPage(PageWithRow("the script line itself")).patterns.empty());
}

TEST(LogLinePatterns, ALegendTheCheckCannotReadIsReported) {
  EXPECT_FALSE(LinePatternsOfPage("| line |\n|---|\n| `x` |\n").problems.empty());  // no legend
  const PagePatterns unknown = LinePatternsOfPage(
      PageWithRow("`x`") + "\n| placeholder | stands for |\n|---|---|\n| `QQ` | ? |\n");
  ASSERT_EQ(unknown.problems.size(), 1u);
  EXPECT_NE(unknown.problems[0].find("QQ"), std::string::npos);
}

}  // namespace
}  // namespace tarnex::docs
