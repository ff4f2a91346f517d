#include "platform/codepage.h"

#include <cerrno>
#include <iconv.h>

#include <memory>
#include <stdexcept>

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

}  // namespace

std::optional<std::string> TryCp932ToUtf8(std::string_view cp932) {
  std::string out;
  if (!FromCp932().Convert(cp932, out, [](std::string&, size_t) { return size_t{0}; })) {
    return std::nullopt;
  }
  return out;
}

std::string Cp932ToUtf8(std::string_view cp932) {
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

}  // namespace tarnex::platform
