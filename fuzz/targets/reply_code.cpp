// Reply lines: the code at the start of a line, the continuation test, and the result the
// facade gives for a refusal.
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

  // The facade's result for a refusal: its three-character number, or 999.
  std::string_view text = line;
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  const int32_t result = tarnex::RefusalResult(line);
  const bool numbered = text.size() >= 4 && text[3] == ' ' &&
                        (IsDigit(text[0]) || text[0] == '-') && IsDigit(text[1]) &&
                        IsDigit(text[2]);
  if (!numbered) {
    FUZZ_CHECK(result == 999);
  } else {
    FUZZ_CHECK(result >= -99 && result <= 999);
    FUZZ_CHECK(std::to_string(result).size() <= 3 || text[0] == '-');
  }
}
