// The netrc parser and lookup: whatever the file holds, parsing ends, an error names a line,
// and what was read is read again the same when written back with quotes.
#include <string>

#include "fuzz/fuzz_target.h"
#include "settings/netrc.h"

namespace {

using tarnex::settings::NetrcEntry;

std::string Quoted(const std::string& word) {
  std::string quoted = "\"";
  for (char c : word) {
    switch (c) {
      case '"':
        quoted += "\\\"";
        break;
      case '\\':
        quoted += "\\\\";
        break;
      case '\n':
        quoted += "\\n";
        break;
      case '\r':
        quoted += "\\r";
        break;
      case '\t':
        quoted += "\\t";
        break;
      default:
        quoted += c;
    }
  }
  return quoted + "\"";
}

std::string Written(const std::vector<NetrcEntry>& entries) {
  std::string text;
  for (const NetrcEntry& entry : entries) {
    text += entry.is_default ? "default" : "machine " + Quoted(entry.machine);
    if (entry.login) text += " login " + Quoted(*entry.login);
    if (entry.password) text += " password " + Quoted(*entry.password);
    if (entry.account) text += " account " + Quoted(*entry.account);
    text += "\n";
  }
  return text;
}

}  // namespace

TARNEX_FUZZ_TARGET(netrc) {
  const auto parse = tarnex::settings::ParseNetrc(tarnex::fuzz::AsText(data, size));
  if (!parse.error.empty()) {
    FUZZ_CHECK(parse.error.rfind("line ", 0) == 0);
    FUZZ_CHECK(parse.entries.empty());
    return;
  }
  const auto again = tarnex::settings::ParseNetrc(Written(parse.entries));
  FUZZ_CHECK(again.error.empty());
  FUZZ_CHECK(again.entries == parse.entries);
  for (const NetrcEntry& entry : parse.entries) {
    const auto login = tarnex::settings::FindNetrcLogin(parse.entries, entry.machine, "");
    if (!entry.is_default && (entry.login || entry.password)) FUZZ_CHECK(login.has_value());
  }
}
