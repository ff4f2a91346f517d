#include "ssh/ssh_config_word.h"

namespace tarnex::ssh {

std::string CheckPathForSsh(std::string_view path) {
  if (path.empty()) return "an empty path";
  for (unsigned char c : path) {
    if (c < 0x20 || c == 0x7f) return "the path holds a control character";
    if (c == '"' || c == '\\') {
      return "the path \"" + std::string(path) + "\" holds " +
             (c == '"' ? "a double quote" : "a backslash") + ", which ssh would not pass on";
    }
  }
  if (path.find("${") != std::string_view::npos) {
    return "the path \"" + std::string(path) + "\" holds \"${\", which ssh would expand";
  }
  return {};
}

std::string QuotedPathWithTokens(std::string_view path) {
  std::string quoted = "\"";
  for (char c : path) {
    quoted += c;
    if (c == '%') quoted += '%';
  }
  return quoted + "\"";
}

std::string QuotedPath(std::string_view path) {
  return "\"" + std::string(path) + "\"";
}

}  // namespace tarnex::ssh
