// Character boundaries of the strings the core handles, in the thread's text encoding
// (platform/text_encoding.h). In CP932 (Shift-JIS) a lead byte and the byte after it form one
// double-byte character; the second byte may take any value from 0x40 up, so a backslash or an
// '@' inside a Japanese name is never a character of its own. In UTF-8 a character is one
// well-formed sequence; its bytes after the first are all 0x80 or above, so no ASCII byte is
// ever inside a character.
#pragma once

#include <cstddef>
#include <string_view>

namespace tarnex {

// Length in bytes (1 to 4) of the well-formed UTF-8 sequence that starts at the 0-based
// `offset`; 0 when the byte there starts none (a stray continuation byte, an overlong form, a
// surrogate, a sequence cut short).
std::size_t Utf8SequenceLength(std::string_view s, std::size_t offset);

// Length in bytes of the character that starts at the 0-based `offset`, in the thread's
// encoding. CP932: 1 or 2; a lead byte at the very end has no second byte and counts as a
// character of one byte. UTF-8: the sequence's length; a byte that starts no well-formed
// sequence counts as a character of one byte.
std::size_t CharLengthAt(std::string_view s, std::size_t offset);

// The 0-based offset of the character that holds byte `pos`: `pos` itself when a character
// starts there. Requires pos < s.size().
std::size_t CharStartOf(std::string_view s, std::size_t pos);

// Number of characters in `s`, double-byte characters counted once.
std::size_t CharCount(std::string_view s);

// The full-width blank in the thread's encoding (U+3000): 0x81 0x40 in CP932.
std::string_view FullWidthSpace();

}  // namespace tarnex
