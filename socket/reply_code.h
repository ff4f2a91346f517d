// The code at the start of a reply line.
#pragma once

#include <cstdint>
#include <string_view>

namespace tarnex {

// The leading decimal digits of `line` (at most ten, up to the first non-digit) as a number:
// "220 Ready" gives 220, "Hello" 0. A number that does not fit a signed 16-bit code raises
// EConvertError naming the digits.
int16_t ParseReplyCode(std::string_view line);

}  // namespace tarnex
