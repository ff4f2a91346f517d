// The lexical helpers that take script lines and server replies apart. They work on the bytes
// of the thread's text encoding (CP932 unless a UTF-8 script runs) and are multi-byte aware: a
// separator is recognised only at a byte that starts a character, never at the second byte of
// a double-byte character. Positions and indexes are 1-based; 0 means "none".
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarnex {

// The whole of `text` as a decimal number of type T, or nothing: an empty text, anything before
// or after the digits, or a value T cannot hold. A '-' may lead only for a signed T.
template <typename T>
std::optional<T> WholeNumber(std::string_view text) {
  T value{};
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
  return value;
}

// True when byte i (1-based) is inside a character rather than at its start (in CP932: the
// second byte of a double-byte character). Throws
// tarnex::Exception("Illegal Index") when i is 0 or past the end.
bool IsTrailByte(std::string_view s, std::size_t i);

// `count` characters starting at the 1-based character `index`; a double-byte character is
// never cut. An index of 0 counts as 1.
std::string CharCopy(std::string_view s, std::size_t index, std::size_t count);

// Deletes `count` characters starting at the 1-based character `index` (nothing for index 0).
void CharDelete(std::string& s, std::size_t index, std::size_t count);

// 1-based character index of the first occurrence of `needle` in `s`; 0 when there is none or
// either is empty.
std::size_t CharPos(std::string_view needle, std::string_view s);

// 1-based byte position of the first occurrence of `needle` in `s` that does not start on a
// second byte; 0 when there is none or `needle` is empty.
std::size_t BytePos(std::string_view needle, std::string_view s);

// Returns the text before the first byte of `s` that is one of `seps` and leaves in `s` what
// follows that one separator. With no separator the whole of `s` is the token.
std::string SplitAtSeparator(std::string& s, std::string_view seps);

// Skips leading separator characters, then splits like SplitAtSeparator: only the one
// separator after the token is consumed ('  open  host' gives "open" and leaves " host").
std::string NextToken(std::string& s, std::string_view seps);

// NextToken on a view, for walking a long text: `s` moves past the token and its separator
// instead of being cut, so taking every token of a text costs time in proportion to it.
std::string_view NextTokenIn(std::string_view& s, std::string_view seps);

// `s` without leading and trailing blanks: ASCII spaces and full-width spaces (U+3000, 0x81 0x40
// in CP932). Tabs are not blanks.
std::string TrimBlanks(std::string_view s);

// The signed decimal value of `s` with every "," removed and blanks trimmed; 0 for anything
// that does not convert, overflows 32 bits or is longer than 10 bytes without its commas.
int32_t StrToIntSafe(std::string_view s);

// Takes the next argument off the argument text `rest`: a word ended by a space, or the text
// between double quotes when the word begins with one (no closing quote: to the end of the line).
std::string NextArgument(std::string& rest);
// NextArgument on a view: `rest` moves past the argument, which is a view into it (for a
// quoted one, what lies between the quotes).
std::string_view NextArgumentIn(std::string_view& rest);

// The file-name part of a path: what follows its last "/" or "\" (a "\" that is the second
// byte of a double-byte character does not count).
std::string FileNamePart(std::string_view path);

// Keyword comparison: equal length, ASCII letters compared without case, every other byte and
// every double-byte character exactly.
bool SameText(std::string_view a, std::string_view b);

}  // namespace tarnex
