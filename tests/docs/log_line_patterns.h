// The lines docs/log-lines.md describes, as patterns to hold logged lines against.
//
// Every table whose first column is headed "line" describes log lines: each code span in a
// row's first column is one line, literally, except for the placeholders that the page's
// legend (the table whose first column is headed "placeholder") lists. A placeholder is an
// upper-case word of its own (`NAME`, `NNN`) or in front of a capitalised word (`R` in
// `(RByte/sec)`); `SIZE` or `PASV` stay literal unless the legend lists them.
#pragma once

#include <regex>
#include <string>
#include <string_view>
#include <vector>

namespace tarnex::docs {

struct LinePattern {
  std::string text;  // as the page writes it
  std::regex regex;
};

struct PagePatterns {
  std::vector<LinePattern> patterns;
  std::vector<std::string> problems;  // a legend the check cannot read, and what is wrong
};

PagePatterns LinePatternsOfPage(std::string_view page);

// The first pattern that `line` matches whole; nullptr when none does.
const LinePattern* Describing(const std::vector<LinePattern>& patterns, const std::string& line);

}  // namespace tarnex::docs
