#include "text/sjis.h"

namespace tarnex {

std::size_t CharLengthAt(std::string_view s, std::size_t offset) {
  const bool double_byte =
      offset + 1 < s.size() && IsLeadByte(static_cast<unsigned char>(s[offset]));
  return double_byte ? 2 : 1;
}

std::size_t CharCount(std::string_view s) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < s.size(); i += CharLengthAt(s, i)) ++count;
  return count;
}

}  // namespace tarnex
