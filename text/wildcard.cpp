#include "text/wildcard.h"

#include <cstdint>
#include <optional>

#include "text/sjis.h"

namespace tarnex {
namespace {

// One character: its bytes, and a value that orders characters for ranges (the bytes read
// as one big-endian number, which keeps the code order of UTF-8 and of Shift-JIS alike).
struct Char {
  std::string_view bytes;
  uint32_t value = 0;
};

Char CharAt(std::string_view s, size_t offset) {
  const size_t length = CharLengthAt(s, offset);
  Char c{s.substr(offset, length), 0};
  for (unsigned char b : c.bytes) c.value = (c.value << 8) | b;
  return c;
}

bool IsSpecial(const Char& c, char special) {
  return c.bytes.size() == 1 && c.bytes[0] == special;
}

// A "[...]" set that starts at `open`: where it ends (just past its "]") and whether
// `candidate` is in it. Nothing when the set is never closed: the "[" is then an ordinary
// character.
struct SetMatch {
  size_t end = 0;
  bool matches = false;
};

std::optional<SetMatch> MatchSet(std::string_view pattern, size_t open, uint32_t candidate) {
  size_t at = open + 1;
  bool negated = false;
  if (at < pattern.size()) {
    const Char first = CharAt(pattern, at);
    if (IsSpecial(first, '!') || IsSpecial(first, '^')) {
      negated = true;
      at += first.bytes.size();
    }
  }
  bool found = false;
  bool first_item = true;
  while (at < pattern.size()) {
    const Char low = CharAt(pattern, at);
    // A "]" right at the start is a member, not the end.
    if (IsSpecial(low, ']') && !first_item) return SetMatch{at + 1, found != negated};
    first_item = false;
    at += low.bytes.size();
    uint32_t high = low.value;
    if (at + 1 < pattern.size() && pattern[at] == '-' && pattern[at + 1] != ']') {
      const Char upper = CharAt(pattern, at + 1);
      high = upper.value;
      at += 1 + upper.bytes.size();
    }
    if (candidate >= low.value && candidate <= high) found = true;
  }
  return std::nullopt;
}

}  // namespace

bool MatchesWildcard(std::string_view pattern, std::string_view name, bool hidden_too) {
  if (!hidden_too && !name.empty() && name.front() == '.' &&
      (pattern.empty() || pattern.front() != '.')) {
    return false;
  }
  size_t p = 0;
  size_t n = 0;
  // Where the last "*" was, to try it on one character more when the rest does not match.
  std::optional<size_t> star_pattern;
  size_t star_name = 0;
  while (n < name.size()) {
    bool advanced = false;
    if (p < pattern.size()) {
      const Char pc = CharAt(pattern, p);
      const Char nc = CharAt(name, n);
      if (IsSpecial(pc, '*')) {
        star_pattern = ++p;
        star_name = n;
        continue;
      }
      if (IsSpecial(pc, '?')) {
        p += 1;
        n += nc.bytes.size();
        advanced = true;
      } else if (auto set = IsSpecial(pc, '[') ? MatchSet(pattern, p, nc.value) : std::nullopt) {
        if (set->matches) {
          p = set->end;
          n += nc.bytes.size();
          advanced = true;
        }
      } else if (pc.bytes == nc.bytes) {
        p += pc.bytes.size();
        n += nc.bytes.size();
        advanced = true;
      }
    }
    if (advanced) continue;
    if (!star_pattern) return false;
    star_name += CharAt(name, star_name).bytes.size();
    n = star_name;
    p = *star_pattern;
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace tarnex
