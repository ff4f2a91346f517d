#include "text/printable.h"

#include "platform/text_encoding.h"

namespace tarnex {
namespace {

bool IsC0OrDelete(unsigned char c) {
  return c < 0x20 || c == 0x7F;
}

void AppendEscaped(std::string& out, unsigned char c) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += "\\x";
  out += kHex[c >> 4];
  out += kHex[c & 0x0F];
}

}  // namespace

std::string EscapeControlCharacters(std::string_view text) {
  const bool utf8 = platform::CurrentTextEncoding() == platform::TextEncoding::Utf8;
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (IsC0OrDelete(c)) {
      AppendEscaped(out, c);
    } else if (utf8 && c == 0xC2 && i + 1 < text.size() &&
               static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      AppendEscaped(out, c);
      AppendEscaped(out, static_cast<unsigned char>(text[++i]));
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace tarnex
