// The double-byte aware string helpers that take script lines and replies apart. The first
// byte chooses the separators (up to three of the next bytes); the rest is the text.
#include <string>

#include "fuzz/fuzz_target.h"
#include "platform/errors.h"
#include "text/sjis.h"
#include "text/string_helpers.h"

namespace {

// True when some separator stands at a character boundary of `s`.
bool HasSeparator(std::string_view s, std::string_view seps) {
  for (size_t i = 0; i < s.size(); i += tarnex::CharLengthAt(s, i)) {
    if (seps.find(s[i]) != std::string_view::npos) return true;
  }
  return false;
}

}  // namespace

TARNEX_FUZZ_TARGET(tokenizer) {
  if (size == 0) return;
  const size_t sep_count = std::min<size_t>(data[0] % 4, size - 1);
  const std::string seps(reinterpret_cast<const char*>(data + 1), sep_count);
  const std::string text(reinterpret_cast<const char*>(data + 1 + sep_count),
                         size - 1 - sep_count);

  // NextToken: every token is free of separators and every call makes progress.
  {
    std::string rest = text;
    size_t calls = 0;
    while (!rest.empty()) {
      const size_t before = rest.size();
      const std::string token = tarnex::NextToken(rest, seps);
      FUZZ_CHECK(++calls <= text.size() + 1);
      FUZZ_CHECK(rest.size() < before || seps.empty());
      FUZZ_CHECK(token.size() + rest.size() <= before);
      if (!seps.empty()) FUZZ_CHECK(!HasSeparator(token, seps));
      if (seps.empty()) FUZZ_CHECK(token == text && rest.empty());
    }
  }

  // SplitAtSeparator: token, the one separator and the rest make up the text again.
  {
    std::string rest = text;
    const std::string token = tarnex::SplitAtSeparator(rest, seps);
    FUZZ_CHECK(token.size() + rest.size() == text.size() ||
               token.size() + rest.size() + 1 == text.size());
    FUZZ_CHECK(text.compare(0, token.size(), token) == 0);
    FUZZ_CHECK(text.compare(text.size() - rest.size(), rest.size(), rest) == 0);
  }

  // NextArgument: each call takes something off until nothing is left.
  {
    std::string rest = text;
    size_t calls = 0;
    while (!rest.empty() && ++calls <= text.size() + 1) {
      const size_t before = rest.size();
      const std::string argument = tarnex::NextArgument(rest);
      FUZZ_CHECK(rest.size() < before);
      FUZZ_CHECK(argument.size() <= before);
    }
    FUZZ_CHECK(rest.empty());
  }

  // TrimBlanks: a part of the text, trimmed once for all.
  {
    const std::string trimmed = tarnex::TrimBlanks(text);
    FUZZ_CHECK(text.find(trimmed) != std::string::npos);
    FUZZ_CHECK(tarnex::TrimBlanks(trimmed) == trimmed);
    FUZZ_CHECK(trimmed.empty() || trimmed.front() != ' ');
  }

  // StrToIntSafe: a plain number of up to nine digits converts to itself.
  {
    const int32_t value = tarnex::StrToIntSafe(text);
    const bool plain = !text.empty() && text.size() <= 9 &&
                       text.find_first_not_of("0123456789") == std::string::npos;
    if (plain) FUZZ_CHECK(value == std::stoi(text));
  }

  // The positional helpers, with positions taken from the separators.
  {
    const size_t index = sep_count > 0 ? static_cast<unsigned char>(seps[0]) : 0;
    try {
      tarnex::IsTrailByte(text, index);
      FUZZ_CHECK(index >= 1 && index <= text.size());
    } catch (const tarnex::Exception&) {
      FUZZ_CHECK(index == 0 || index > text.size());
    }
    const std::string copied = tarnex::CharCopy(text, index, sep_count * 7);
    FUZZ_CHECK(copied.size() <= text.size());
    std::string shortened = text;
    tarnex::CharDelete(shortened, index, sep_count * 5);
    FUZZ_CHECK(shortened.size() <= text.size());
    const size_t char_pos = tarnex::CharPos(seps, text);
    FUZZ_CHECK(char_pos <= tarnex::CharCount(text));
    const size_t byte_pos = tarnex::BytePos(seps, text);
    if (byte_pos != 0) FUZZ_CHECK(text.compare(byte_pos - 1, seps.size(), seps) == 0);
    FUZZ_CHECK(tarnex::SameText(text, text));
  }
}
