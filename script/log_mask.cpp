#include "script/log_mask.h"

#include "script/command_table.h"
#include "text/string_helpers.h"

namespace tarnex::script {
namespace {

// Replaces the bytes `secret` (a view into `line`) by the mask.
std::string Masked(std::string_view line, std::string_view secret) {
  const size_t at = static_cast<size_t>(secret.data() - line.data());
  std::string out(line.substr(0, at));
  out += kMaskedSecret;
  out += line.substr(at + secret.size());
  return out;
}

}  // namespace

std::string MaskSecrets(std::string_view line) {
  // The words are taken exactly as the engine takes them when it executes the line.
  std::string_view rest = line;
  for (;;) {
    const auto command = LookupCommand(TrimBlanks(NextTokenIn(rest, " ")));
    if (!command) return std::string(line);
    switch (*command) {
      case Command::If:
        NextTokenIn(rest, " ");  // the condition; the rest is a command line of its own
        continue;
      case Command::Login: {
        NextTokenIn(rest, " ");  // the user
        const std::string_view password = NextTokenIn(rest, " ");
        return password.empty() ? std::string(line) : Masked(line, password);
      }
      case Command::Ftp: {
        // The raw text goes to the server as it stands; PASS carries the rest of it.
        std::string_view raw = rest;
        if (!SameText(NextTokenIn(raw, " "), "PASS") || raw.empty()) return std::string(line);
        return Masked(line, raw);
      }
      default:
        return std::string(line);
    }
  }
}

}  // namespace tarnex::script
