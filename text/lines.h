// Splitting a text into lines as an editor holds them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarnex {

// CR, LF and CR LF each end a line; a text that ends with a line break has no empty line
// after it, and an empty text has no lines.
std::vector<std::string> SplitLines(std::string_view text);

// The lines joined with CR LF between them (none after the last).
std::string JoinLines(const std::vector<std::string>& lines);

}  // namespace tarnex
