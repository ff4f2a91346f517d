// Reply lines: the code at the start of a line, the continuation test, and the code the
// facade reads out of a log line.
#include "ftpclient/facade_text.h"
#include "ftpproto/reply_parsing.h"
#include "fuzz/fuzz_target.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

TARNEX_FUZZ_TARGET(reply_code) {
  const std::string_view line = tarnex::fuzz::AsText(data, size);

  // The code: three digits of 100 to 599, then a blank, a dash, a line end or nothing.
  const auto code = tarnex::ValidReplyCode(line);
  const bool digits = line.size() >= 3 && IsDigit(line[0]) && IsDigit(line[1]) && IsDigit(line[2]);
  const bool ended =
      line.size() == 3 ||
      (line.size() > 3 && std::string_view(" -\r\n").find(line[3]) != std::string_view::npos);
  if (!digits || !ended || line[0] == '0' || line[0] > '5') {
    FUZZ_CHECK(!code);
  } else {
    FUZZ_CHECK(code && *code == std::stoi(std::string(line.substr(0, 3))));
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
