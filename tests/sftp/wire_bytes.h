// Packets written out for the tests: hex for numbers, S("text") for a length-prefixed string.
#pragma once

#include <string>
#include <string_view>

namespace tarnex::sftp::testing {

// "00000005 01" gives those bytes; blanks are ignored.
inline std::string Hex(std::string_view hex) {
  std::string bytes;
  int high = -1;
  for (char c : hex) {
    if (c == ' ') continue;
    const int digit = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
    if (high < 0) {
      high = digit;
    } else {
      bytes.push_back(static_cast<char>(high * 16 + digit));
      high = -1;
    }
  }
  return bytes;
}

inline std::string U32(uint32_t value) {
  std::string bytes(4, '\0');
  for (int i = 3; i >= 0; --i, value >>= 8) bytes[i] = static_cast<char>(value & 0xff);
  return bytes;
}

inline std::string S(std::string_view text) {
  return U32(static_cast<uint32_t>(text.size())) + std::string(text);
}

// A whole packet: the length, the type, the fields.
inline std::string Packet(uint8_t type, std::string_view fields) {
  return U32(static_cast<uint32_t>(fields.size() + 1)) + static_cast<char>(type) +
         std::string(fields);
}

}  // namespace tarnex::sftp::testing
