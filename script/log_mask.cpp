#include "script/log_mask.h"

#include "ftpproto/reply_parsing.h"
#include "script/command_table.h"
#include "script/variables.h"
#include "text/string_helpers.h"

namespace tarnex::script {
namespace {

// Replaces the bytes `secret` (a view into `line`) by the mask; nothing to hide, no change.
std::string Masked(std::string_view line, std::string_view secret) {
  if (secret.empty()) return std::string(line);
  const size_t at = static_cast<size_t>(secret.data() - line.data());
  std::string out(line.substr(0, at));
  out += kMaskedSecret;
  out += line.substr(at + secret.size());
  return out;
}

// The next argument as it is written, its quotes included, taken as NextArgument takes it.
std::string_view WrittenArgument(std::string_view& rest) {
  const std::string_view before = rest;
  const std::string_view value = NextArgumentIn(rest);
  const size_t start = before.find_first_not_of(' ');
  if (start == std::string_view::npos) return {};
  const char* end = value.data() + value.size();
  if (end != before.data() + before.size() && *end == '"') ++end;  // the closing quote
  return before.substr(start, static_cast<size_t>(end - before.data()) - start);
}

// The value of a `set` word ("name=value") when the name is a secret one.
std::string_view SecretValue(std::string_view rest) {
  std::string_view word = NextTokenIn(rest, " ");
  const std::string_view name = NextTokenIn(word, "=");
  return IsSecretName(name) ? word : std::string_view();
}

// Every word of a secret value as the mask, the blanks between them kept: the logged line
// falls into the same words as the line that runs, so MaskSecrets finds the same password.
std::string MaskedWords(std::string_view value) {
  std::string out;
  bool in_word = false;
  for (const char c : value) {
    if (c == ' ') {
      out += c;
      in_word = false;
    } else if (!in_word) {
      out += kMaskedSecret;
      in_word = true;
    }
  }
  return out;
}

}  // namespace

bool IsSecretName(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  // A second byte folded as a letter is harmless: BytePos never starts a match there, and
  // no first byte is a letter of "pass".
  return BytePos("pass", folded) != 0;
}

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
      case Command::Login:
        NextArgumentIn(rest);  // the user
        return Masked(line, WrittenArgument(rest));
      case Command::Ftp:
        // The raw text goes to the server as it stands, leading blanks included.
        return std::string(line.substr(0, line.size() - rest.size())) + CommandForTrace(rest);
      case Command::Set:
        return Masked(line, SecretValue(rest));
      default:
        return std::string(line);
    }
  }
}

std::string LoggedLine(std::string_view written,
                       const std::function<std::string(const std::string&)>& read) {
  const std::string expanded = ExpandVariables(written, [&](const std::string& name) {
    return IsSecretName(name) ? MaskedWords(read(name)) : read(name);
  });
  return MaskSecrets(expanded);
}

}  // namespace tarnex::script
