// Shift-JIS (CP932) character boundaries. A lead byte and the byte after it form one
// double-byte character; the second byte may take any value from 0x40 up, so a backslash
// or an '@' inside a Japanese name is never a character of its own.
#pragma once

#include <cstddef>
#include <string_view>

namespace tarnex {

constexpr bool IsLeadByte(unsigned char b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// Length in bytes (1 or 2) of the character that starts at the 0-based `offset`. A lead byte
// at the very end has no second byte and counts as a character of one byte.
std::size_t CharLengthAt(std::string_view s, std::size_t offset);

// Number of characters in `s`, double-byte characters counted once.
std::size_t CharCount(std::string_view s);

}  // namespace tarnex
