// Which encoding a script file's text is in, when the user has not said.
#pragma once

#include <string_view>

#include "platform/text_encoding.h"

namespace tarnex {

inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// UTF-8 when the text starts with a UTF-8 byte order mark, or when it is entirely valid UTF-8
// and holds at least one multi-byte sequence; anything else (plain ASCII included, which reads
// the same either way) is CP932.
platform::TextEncoding DetectScriptEncoding(std::string_view text);

// `text` without a leading UTF-8 byte order mark, which would otherwise stick to the first
// line's command word.
std::string_view WithoutUtf8Bom(std::string_view text);

}  // namespace tarnex
