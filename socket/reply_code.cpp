#include "socket/reply_code.h"

#include <cstdint>
#include <string>

#include "platform/errors.h"

namespace tarnex {

int16_t ParseReplyCode(std::string_view line) {
  constexpr size_t kMaxDigits = 10;
  size_t count = 0;
  int64_t value = 0;  // ten digits always fit
  while (count < line.size() && count < kMaxDigits && line[count] >= '0' && line[count] <= '9') {
    value = value * 10 + (line[count] - '0');
    ++count;
  }
  if (value > INT16_MAX) {
    throw EConvertError("Reply code out of range: " + std::string(line.substr(0, count)));
  }
  return static_cast<int16_t>(value);
}

}  // namespace tarnex
