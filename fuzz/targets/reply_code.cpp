// Reply lines: the code at the start of a line, the continuation test, and the code the
// facade reads out of a log line.
#include "ftpclient/facade_text.h"
#include "ftpproto/reply_parsing.h"
#include "fuzz/fuzz_target.h"
#include "platform/errors.h"
#include "socket/reply_code.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

TARNEX_FUZZ_TARGET(reply_code) {
  const std::string_view line = tarnex::fuzz::AsText(data, size);

  // The code: the leading digits, at most ten; beyond the 16-bit range a conversion error.
  int64_t expected = 0;
  size_t digits = 0;
  while (digits < line.size() && digits < 10 && IsDigit(line[digits])) {
    expected = expected * 10 + (line[digits] - '0');
    ++digits;
  }
  try {
    const int16_t code = tarnex::ParseReplyCode(line);
    FUZZ_CHECK(expected <= INT16_MAX);
    FUZZ_CHECK(code == expected);
  } catch (const tarnex::EConvertError&) {
    FUZZ_CHECK(expected > INT16_MAX);
  }

  const bool continues = tarnex::IsReplyContinuation(line);
  FUZZ_CHECK(continues == ((!line.empty() && line[0] == ' ') || (line.size() >= 4 && line[3] == '-')));

  // The facade's result for a log line: its three-character number, or 999.
  const int32_t result = tarnex::ReplyCodeOfLogLine(line);
  const bool numbered = line.size() >= 4 && line[3] == ' ' &&
                        tarnex::IsIntegerText(line.substr(0, 3));
  if (!numbered) {
    FUZZ_CHECK(result == 999);
  } else {
    FUZZ_CHECK(result >= -99 && result <= 999);
    FUZZ_CHECK(std::to_string(result).size() <= 3 || line[0] == '-');
  }
}
