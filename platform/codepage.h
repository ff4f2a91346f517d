// Conversion between the system's 8-bit code page (CP932, Shift-JIS) and UTF-8, the
// encoding of the file system, the terminal and the GUI toolkit.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tarnex::platform {

// A CP932 (Shift-JIS) lead byte: it and the byte after it form one double-byte character.
constexpr bool IsCp932LeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// Strict conversion: nothing when the bytes are not valid CP932.
std::optional<std::string> TryCp932ToUtf8(std::string_view cp932);

// Lenient conversion for display: a byte that does not convert becomes U+FFFD.
std::string Cp932ToUtf8(std::string_view cp932);

// Characters that CP932 cannot hold become '?'.
std::string Utf8ToCp932(std::string_view utf8);

// Strict conversion: nothing when a character has no CP932 form or the bytes are not UTF-8.
std::optional<std::string> TryUtf8ToCp932(std::string_view utf8);

// Text in the thread's text encoding (see text_encoding.h) as UTF-8, for display: UTF-8 text
// as it is, CP932 text as Cp932ToUtf8 gives it.
std::string CurrentTextToUtf8(std::string_view text);

// Text that is edited and written back (a script in the editor) must keep every byte it was
// read with. Each byte of a sequence that is not valid CP932, or that CP932 would write back as
// other bytes, stands for itself as the private-use character kByteEscapeBase + byte.
inline constexpr char32_t kByteEscapeBase = 0xF700;

// Lossless conversion to UTF-8: every other sequence converts as in TryCp932ToUtf8.
std::string Cp932ToUtf8Escaped(std::string_view cp932);

// A character that CP932 cannot hold: where it starts in the UTF-8 text, and what it is.
struct Unrepresentable {
  std::size_t offset = 0;
  char32_t code_point = 0;
};

struct EscapedCp932 {
  std::string bytes;  // each character CP932 cannot hold is '?' here
  std::optional<Unrepresentable> first_unrepresentable;
};

// The way back from Cp932ToUtf8Escaped: each escape becomes its byte again, every other
// character its CP932 form. Bytes that are not UTF-8 count as characters CP932 cannot hold.
EscapedCp932 Utf8ToCp932Escaped(std::string_view utf8);

}  // namespace tarnex::platform
