#include "text/string_helpers.h"

#include <algorithm>
#include <charconv>

#include "platform/errors.h"
#include "text/sjis.h"

namespace tarnex {
namespace {

// Byte `pos` (0-based) lies inside a character rather than at its start.
bool IsSecondByteAt(std::string_view s, std::size_t pos) {
  return CharStartOf(s, pos) != pos;
}

// 0-based byte offset of the 0-based character `chars` (the size when the text is shorter).
std::size_t OffsetOfChar(std::string_view s, std::size_t chars) {
  std::size_t offset = 0;
  for (; chars > 0 && offset < s.size(); --chars) offset += CharLengthAt(s, offset);
  return offset;
}

bool IsSeparator(char c, std::string_view seps) {
  // A loop over the few separators, not a library search per character.
  for (char sep : seps) {
    if (c == sep) return true;
  }
  return false;
}

char FoldAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

bool IsTrailByte(std::string_view s, std::size_t i) {
  if (i < 1 || i > s.size()) throw Exception("Illegal Index");
  return IsSecondByteAt(s, i - 1);
}

std::string CharCopy(std::string_view s, std::size_t index, std::size_t count) {
  if (index == 0) index = 1;
  const std::size_t begin = OffsetOfChar(s, index - 1);
  const std::size_t end = begin + OffsetOfChar(s.substr(begin), count);
  return std::string(s.substr(begin, end - begin));
}

void CharDelete(std::string& s, std::size_t index, std::size_t count) {
  if (index == 0) return;
  const std::string_view view = s;
  const std::size_t begin = OffsetOfChar(view, index - 1);
  const std::size_t end = begin + OffsetOfChar(view.substr(begin), count);
  s.erase(begin, end - begin);
}

std::size_t CharPos(std::string_view needle, std::string_view s) {
  const std::size_t pos = BytePos(needle, s);
  if (pos == 0) return 0;
  return CharCount(s.substr(0, pos - 1)) + 1;
}

std::size_t BytePos(std::string_view needle, std::string_view s) {
  if (needle.empty()) return 0;
  // `boundary` walks the character starts in step with the candidates of find(), so every
  // byte is looked at a bounded number of times however long the line is.
  std::size_t boundary = 0;
  for (std::size_t found = s.find(needle); found != std::string_view::npos;
       found = s.find(needle, found + 1)) {
    while (boundary < found) boundary += CharLengthAt(s, boundary);
    if (boundary == found) return found + 1;
  }
  return 0;
}

namespace {

// SplitAtSeparator on a view: the token, and `s` moved past it and its one separator.
std::string_view SplitView(std::string_view& s, std::string_view seps) {
  std::string_view token = s;
  // A byte below 0x40 is never a part of a double-byte character (CP932's second bytes start
  // there, UTF-8's at 0x80): such separators are found byte by byte, without decoding.
  const bool bytewise = std::all_of(seps.begin(), seps.end(),
                                    [](char c) { return static_cast<unsigned char>(c) < 0x40; });
  if (!seps.empty()) {
    for (std::size_t i = 0; i < s.size(); i += bytewise ? 1 : CharLengthAt(s, i)) {
      if (IsSeparator(s[i], seps)) {
        token = s.substr(0, i);
        s.remove_prefix(i + 1);
        return token;
      }
    }
  }
  s = s.substr(s.size());
  return token;
}

}  // namespace

std::string SplitAtSeparator(std::string& s, std::string_view seps) {
  std::string_view rest = s;
  std::string token(SplitView(rest, seps));
  s.erase(0, s.size() - rest.size());
  return token;
}

std::string_view NextTokenIn(std::string_view& s, std::string_view seps) {
  std::size_t skip = 0;
  while (skip < s.size()) {
    const std::size_t len = CharLengthAt(s, skip);
    if (BytePos(s.substr(skip, len), seps) == 0) break;
    skip += len;
  }
  s.remove_prefix(skip);
  return SplitView(s, seps);
}

std::string NextToken(std::string& s, std::string_view seps) {
  std::string_view rest = s;
  std::string token(NextTokenIn(rest, seps));
  s.erase(0, s.size() - rest.size());
  return token;
}

std::string TrimBlanks(std::string_view s) {
  const std::string_view full_width = FullWidthSpace();
  while (!s.empty()) {
    if (s.front() == ' ') {
      s.remove_prefix(1);
    } else if (s.starts_with(full_width)) {
      s.remove_prefix(full_width.size());
    } else {
      break;
    }
  }
  // From the right, one whole character at a time: the bytes of a blank at the end may also
  // be the tail of another character.
  while (!s.empty()) {
    const std::string_view last = s.substr(CharStartOf(s, s.size() - 1));
    if (last != " " && last != full_width) break;
    s.remove_suffix(last.size());
  }
  return std::string(s);
}

int32_t StrToIntSafe(std::string_view s) {
  std::string digits;
  digits.reserve(s.size());
  for (char c : s) {
    if (c != ',') digits += c;  // ',' is below 0x40, so never a second byte
  }
  if (digits.size() > 10) return 0;
  const std::string text = TrimBlanks(digits);
  std::string_view rest = text;
  bool negative = false;
  if (!rest.empty() && (rest.front() == '-' || rest.front() == '+')) {
    negative = rest.front() == '-';
    rest.remove_prefix(1);
  }
  // from_chars would accept a second sign; only digits may follow ours.
  if (rest.empty() || rest.front() < '0' || rest.front() > '9') return 0;
  int64_t magnitude = 0;  // at most 10 digits: always fits
  const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), magnitude);
  if (error != std::errc() || end != rest.data() + rest.size()) return 0;
  const int64_t value = negative ? -magnitude : magnitude;
  if (value < INT32_MIN || value > INT32_MAX) return 0;
  return static_cast<int32_t>(value);
}

std::string_view NextArgumentIn(std::string_view& rest) {
  std::string_view after_word = rest;
  const std::string_view word = NextTokenIn(after_word, " ");
  if (word.empty() || word.front() != '"') {
    rest = after_word;
    return word;
  }
  // Only spaces precede the opening quote: drop them with it and read up to the next quote.
  rest.remove_prefix(BytePos("\"", rest));
  return NextTokenIn(rest, "\"");
}

std::string NextArgument(std::string& rest) {
  std::string_view left = rest;
  std::string argument(NextArgumentIn(left));
  rest.erase(0, rest.size() - left.size());
  return argument;
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size();) {
    const std::size_t length = CharLengthAt(a, i);
    if (length > 1) {
      // A second byte may look like an ASCII letter (0x83 0x41 vs 0x83 0x61): compare the
      // whole character exactly.
      if (a.compare(i, length, b, i, length) != 0) return false;
    } else if (FoldAscii(a[i]) != FoldAscii(b[i])) {
      return false;
    }
    i += length;
  }
  return true;
}

std::string FileNamePart(std::string_view path) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < path.size(); i += CharLengthAt(path, i)) {
    if (path[i] == '/' || path[i] == '\\') start = i + 1;
  }
  return std::string(path.substr(start));
}

}  // namespace tarnex
