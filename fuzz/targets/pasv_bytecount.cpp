// The numbers the data channel reads out of replies: the PASV port and the size a RETR reply
// announces; and the other pure readers of reply and command lines.
#include <string>
#include <vector>

#include "ftpproto/ftp_types.h"
#include "ftpproto/reply_parsing.h"
#include "fuzz/fuzz_target.h"
#include "platform/errors.h"

TARNEX_FUZZ_TARGET(pasv_bytecount) {
  const std::string_view reply = tarnex::fuzz::AsText(data, size);

  try {
    const uint16_t port = tarnex::ParsePasvPort(reply);
    // A port comes only from a reply with at least six comma-separated fields.
    size_t commas = 0;
    for (char c : reply) commas += c == ',';
    FUZZ_CHECK(commas >= 5);
    (void)port;
  } catch (const tarnex::EConvertError&) {
  }

  const tarnex::AnnouncedSize announced = tarnex::ParseAnnouncedSize(reply);
  if (announced.exact) {
    // An exact count is a non-negative number written in the reply, closed by ")".
    FUZZ_CHECK(*announced.exact >= 0 && announced.estimate == announced.exact);
    FUZZ_CHECK(reply.find(std::to_string(*announced.exact)) != std::string_view::npos);
    FUZZ_CHECK(reply.rfind(')') != std::string_view::npos);
  }
  if (announced.estimate) FUZZ_CHECK(*announced.estimate >= 0);

  const int vendor = tarnex::VendorFromSystReply(reply);
  FUZZ_CHECK(vendor >= tarnex::kVendorUnix && vendor <= tarnex::kVendorNetware &&
             vendor != tarnex::kVendorUnknown);

  const tarnex::TCmdType type = tarnex::ClassifyCommand(reply);
  if (type == tarnex::TCmdType::cmdPrintDir) FUZZ_CHECK(reply == "PWD");

  // A reply's code is three digits of 100..599, or there is none.
  if (const auto code = tarnex::ValidReplyCode(reply)) {
    FUZZ_CHECK(*code >= 100 && *code <= 599 && reply.size() >= 3);
  }
  try {
    const uint16_t port = tarnex::ParseEpsvPort(reply);
    FUZZ_CHECK(port >= 1 && reply.find('(') != std::string_view::npos);
  } catch (const tarnex::EConvertError&) {
  }
  if (const auto size_given = tarnex::ParseSizeReply(reply)) {
    FUZZ_CHECK(*size_given >= 0 && tarnex::ValidReplyCode(reply) == int16_t{213});
  }
  // FEAT: every line but the first and the last is a feature, none of them empty.
  std::vector<std::string> lines;
  for (size_t start = 0; start < reply.size();) {
    const size_t end = reply.find('\n', start);
    lines.emplace_back(reply.substr(start, end == std::string_view::npos ? end : end - start + 1));
    start = end == std::string_view::npos ? reply.size() : end + 1;
  }
  for (const std::string& feature : tarnex::FeatureLines(lines)) FUZZ_CHECK(!feature.empty());
  if (auto name = tarnex::LocalNameForDownload(reply)) {
    // A local name never leads anywhere but into the local folder.
    FUZZ_CHECK(!name->empty() && *name != "." && *name != "..");
  }
}
