#include "platform/codepage.h"

#include <iconv.h>
#include <cerrno>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <utility>

#include "platform/text_encoding.h"

namespace tarnex::platform {
namespace {

// One conversion descriptor per direction and thread, closed at thread exit.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv: CP932 unavailable");
  }
  ~Converter() { iconv_close(cd_); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts `in`; on a byte sequence that does not convert calls `on_invalid(out, in_pos)`,
  // which appends a replacement and returns how many input bytes to skip (0 = give up).
  template <typename OnInvalid>
  bool Convert(std::string_view in, std::string& out, OnInvalid on_invalid) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    out.clear();
    out.reserve(in.size() * 3 / 2 + 8);
    char* src = const_cast<char*>(in.data());
    size_t src_left = in.size();
    char buffer[4096];
    while (src_left > 0) {
      char* dst = buffer;
      size_t dst_left = sizeof buffer;
      size_t rc = iconv(cd_, &src, &src_left, &dst, &dst_left);
      out.append(buffer, sizeof buffer - dst_left);
      if (rc != static_cast<size_t>(-1)) continue;
      if (errno == E2BIG) continue;
      size_t skip = on_invalid(out, static_cast<size_t>(src - in.data()));
      if (skip == 0) return false;
      if (skip > src_left) skip = src_left;
      src += skip;
      src_left -= skip;
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
    char* dst = buffer;
    size_t dst_left = sizeof buffer;
    iconv(cd_, nullptr, nullptr, &dst, &dst_left);
    out.append(buffer, sizeof buffer - dst_left);
    return true;
  }

 private:
  iconv_t cd_;
};

Converter& FromCp932() {
  thread_local Converter converter("UTF-8", "CP932");
  return converter;
}

Converter& ToCp932() {
  thread_local Converter converter("CP932", "UTF-8");
  return converter;
}

// True when `utf8` is written back as exactly `cp932`. CP932 has duplicate codes (NEC and IBM
// rows of the same characters); only one of them is written, so reading alone does not prove
// that the bytes survive.
bool WritesBackAs(std::string_view utf8, std::string_view cp932) {
  const std::optional<std::string> back = TryUtf8ToCp932(utf8);
  return back && *back == cp932;
}

// The escape of `byte`, a character of three UTF-8 bytes.
void AppendByteEscape(std::string& out, unsigned char byte) {
  const char32_t escape = kByteEscapeBase + byte;
  out += static_cast<char>(0xE0 | (escape >> 12));
  out += static_cast<char>(0x80 | ((escape >> 6) & 0x3F));
  out += static_cast<char>(0x80 | (escape & 0x3F));
}

struct Utf8Char {
  char32_t code_point;
  size_t length;
};

constexpr Utf8Char kBadUtf8{0xFFFD, 1};

// The character starting at `pos`; a byte that does not start a well-formed sequence is one
// bad character.
Utf8Char Utf8At(std::string_view text, size_t pos) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[pos + i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return {lead, 1};
  const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
  if (length == 0 || lead > 0xF4 || pos + length > text.size()) return kBadUtf8;
  char32_t code_point = lead & (0x3F >> (length - 1));
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return kBadUtf8;
    code_point = (code_point << 6) | (byte(i) & 0x3F);
  }
  static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  const bool surrogate = code_point >= 0xD800 && code_point <= 0xDFFF;
  if (code_point < kLeast[length] || code_point > 0x10FFFF || surrogate) return kBadUtf8;
  return {code_point, length};
}

bool IsByteEscape(char32_t code_point) {
  return code_point >= kByteEscapeBase && code_point <= kByteEscapeBase + 0xFF;
}

// Slow path of Cp932ToUtf8Escaped, for text that holds a sequence to escape.
std::string EscapeCp932(std::string_view cp932) {
  std::string out;
  out.reserve(cp932.size() * 2);
  size_t pos = 0;
  while (pos < cp932.size()) {
    const auto lead = static_cast<unsigned char>(cp932[pos]);
    if (lead < 0x80) {
      out += static_cast<char>(lead);
      ++pos;
      continue;
    }
    const size_t length = IsCp932LeadByte(lead) && pos + 1 < cp932.size() ? 2 : 1;
    const std::string_view sequence = cp932.substr(pos, length);
    const std::optional<std::string> decoded = TryCp932ToUtf8(sequence);
    if (decoded && WritesBackAs(*decoded, sequence)) {
      out += *decoded;
      pos += length;
      continue;
    }
    // An invalid lead byte goes alone (what follows may be a character of its own); a valid
    // sequence that would be written back otherwise goes whole.
    const size_t escaped = decoded ? length : 1;
    for (size_t i = 0; i < escaped; ++i) {
      AppendByteEscape(out, static_cast<unsigned char>(sequence[i]));
    }
    pos += escaped;
  }
  return out;
}

}  // namespace

std::optional<std::string> TryCp932ToUtf8(std::string_view cp932) {
  std::string out;
  if (!FromCp932().Convert(cp932, out, [](std::string&, size_t) { return size_t{0}; })) {
    return std::nullopt;
  }
  return out;
}

std::optional<std::string> TryUtf8ToCp932(std::string_view utf8) {
  std::string out;
  if (!ToCp932().Convert(utf8, out, [](std::string&, size_t) { return size_t{0}; })) {
    return std::nullopt;
  }
  return out;
}

std::string CurrentTextToUtf8(std::string_view text) {
  if (CurrentTextEncoding() == TextEncoding::Utf8) return std::string(text);
  return Cp932ToUtf8(text);
}

std::string Cp932ToUtf8(std::string_view cp932) {
  // ASCII is the same in both; most lines are nothing else.
  if (std::all_of(cp932.begin(), cp932.end(), [](char c) { return (c & 0x80) == 0; })) {
    return std::string(cp932);
  }
  std::string out;
  FromCp932().Convert(cp932, out, [](std::string& o, size_t) {
    o += "\xEF\xBF\xBD";
    return size_t{1};
  });
  return out;
}

std::string Utf8ToCp932(std::string_view utf8) {
  std::string out;
  ToCp932().Convert(utf8, out, [&utf8](std::string& o, size_t pos) {
    o += '?';
    // Skip the whole UTF-8 sequence that did not convert.
    unsigned char lead = static_cast<unsigned char>(utf8[pos]);
    size_t len = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    return len;
  });
  return out;
}

std::string Cp932ToUtf8Escaped(std::string_view cp932) {
  // Almost every script converts both ways in one go.
  std::optional<std::string> utf8 = TryCp932ToUtf8(cp932);
  if (utf8 && WritesBackAs(*utf8, cp932)) return std::move(*utf8);
  return EscapeCp932(cp932);
}

EscapedCp932 Utf8ToCp932Escaped(std::string_view utf8) {
  EscapedCp932 result;
  result.bytes.reserve(utf8.size());
  for (size_t pos = 0; pos < utf8.size();) {
    const Utf8Char ch = Utf8At(utf8, pos);
    const std::string_view sequence = utf8.substr(pos, ch.length);
    if (ch.code_point < 0x80) {
      result.bytes += static_cast<char>(ch.code_point);
    } else if (IsByteEscape(ch.code_point)) {
      result.bytes += static_cast<char>(ch.code_point - kByteEscapeBase);
    } else if (std::optional<std::string> cp932 = TryUtf8ToCp932(sequence);
               cp932 && !cp932->empty()) {
      // (The converter writes nothing at all for some characters, the tag characters.)
      result.bytes += *cp932;
    } else {
      result.bytes += '?';
      if (!result.first_unrepresentable)
        result.first_unrepresentable = Unrepresentable{pos, ch.code_point};
    }
    pos += ch.length;
  }
  return result;
}

}  // namespace tarnex::platform
