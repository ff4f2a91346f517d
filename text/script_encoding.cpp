#include "text/script_encoding.h"

#include "text/sjis.h"

namespace tarnex {

platform::TextEncoding DetectScriptEncoding(std::string_view text) {
  if (text.starts_with(kUtf8Bom)) return platform::TextEncoding::Utf8;
  bool multi_byte = false;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = Utf8SequenceLength(text, i);
    if (length == 0) return platform::TextEncoding::Cp932;
    multi_byte = multi_byte || length > 1;
    i += length;
  }
  return multi_byte ? platform::TextEncoding::Utf8 : platform::TextEncoding::Cp932;
}

std::string_view WithoutUtf8Bom(std::string_view text) {
  if (text.starts_with(kUtf8Bom)) text.remove_prefix(kUtf8Bom.size());
  return text;
}

}  // namespace tarnex
