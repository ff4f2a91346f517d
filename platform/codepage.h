// Conversion between the system's 8-bit code page (CP932, Shift-JIS) and UTF-8, the
// encoding of the file system, the terminal and the GUI toolkit.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarnex::platform {

// Strict conversion: nothing when the bytes are not valid CP932.
std::optional<std::string> TryCp932ToUtf8(std::string_view cp932);

// Lenient conversion for display: a byte that does not convert becomes U+FFFD.
std::string Cp932ToUtf8(std::string_view cp932);

// Characters that CP932 cannot hold become '?'.
std::string Utf8ToCp932(std::string_view utf8);

}  // namespace tarnex::platform
