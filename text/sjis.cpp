#include "text/sjis.h"

#include "platform/codepage.h"
#include "platform/text_encoding.h"

namespace tarnex {
namespace {

bool IsUtf8() {
  return platform::CurrentTextEncoding() == platform::TextEncoding::Utf8;
}

bool InRange(unsigned char b, unsigned char low, unsigned char high) {
  return b >= low && b <= high;
}

}  // namespace

std::size_t Utf8SequenceLength(std::string_view s, std::size_t offset) {
  if (offset >= s.size()) return 0;
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[offset + i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  // The second byte's range depends on the lead: it rules out overlong forms, surrogates and
  // code points above U+10FFFF; every further byte is a plain continuation byte.
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (InRange(lead, 0xC2, 0xDF)) {
    length = 2;
  } else if (InRange(lead, 0xE0, 0xEF)) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (InRange(lead, 0xF0, 0xF4)) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (offset + length > s.size() || !InRange(byte(1), low, high)) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (!InRange(byte(i), 0x80, 0xBF)) return 0;
  }
  return length;
}

std::size_t CharLengthAt(std::string_view s, std::size_t offset) {
  if (IsUtf8()) {
    const std::size_t length = Utf8SequenceLength(s, offset);
    return length == 0 ? 1 : length;
  }
  const bool double_byte =
      offset + 1 < s.size() && platform::IsCp932LeadByte(static_cast<unsigned char>(s[offset]));
  return double_byte ? 2 : 1;
}

std::size_t CharStartOf(std::string_view s, std::size_t pos) {
  if (IsUtf8()) {
    // A sequence is at most 4 bytes long, so its start lies at most 3 bytes back.
    for (std::size_t back = 1; back <= 3 && back <= pos; ++back) {
      const std::size_t start = pos - back;
      const auto b = static_cast<unsigned char>(s[start]);
      if (b < 0x80 || b >= 0xC0) {
        return Utf8SequenceLength(s, start) > back ? start : pos;
      }
    }
    return pos;
  }
  // A second byte follows an odd number of lead bytes in a row. A run of lead bytes is short
  // in real text, so this stays cheap.
  std::size_t leads = 0;
  for (std::size_t i = pos;
       i > 0 && platform::IsCp932LeadByte(static_cast<unsigned char>(s[i - 1])); --i) {
    ++leads;
  }
  return leads % 2 == 1 ? pos - 1 : pos;
}

std::size_t CharCount(std::string_view s) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < s.size(); i += CharLengthAt(s, i)) ++count;
  return count;
}

std::string_view FullWidthSpace() {
  return IsUtf8() ? "\xE3\x80\x80" : "\x81\x40";
}

}  // namespace tarnex
