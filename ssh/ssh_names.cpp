#include "ssh/ssh_names.h"

namespace tarnex::ssh {
namespace {

bool IsControlOrBlank(unsigned char c) {
  return c <= 0x20 || c == 0x7f;
}

bool IsHostCharacter(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         c == '.' || c == '-' || c == '_' || c == ':' || c == '%';
}

}  // namespace

std::string CheckHost(std::string_view host) {
  if (host.empty()) return "no host name is given";
  if (host.front() == '-') return "the host name \"" + std::string(host) + "\" begins with \"-\"";
  for (unsigned char c : host) {
    if (IsHostCharacter(c)) continue;
    // The name itself would show the fault unreadably (a blank, a line break), so say what it is.
    if (IsControlOrBlank(c)) return "the host name holds a blank or control character";
    return "the host name \"" + std::string(host) + "\" holds \"" + std::string(1, c) +
           "\", which is no part of a host name or address";
  }
  return {};
}

std::string CheckUser(std::string_view user) {
  if (user.empty()) return {};
  if (user.front() == '-') return "the user name \"" + std::string(user) + "\" begins with \"-\"";
  for (unsigned char c : user) {
    if (IsControlOrBlank(c)) return "the user name holds a blank or control character";
    // ssh hands the user name to commands of its config (%r in ProxyCommand), which a shell
    // runs.
    if (std::string_view("'`\"$\\;&<>|()").find(static_cast<char>(c)) != std::string_view::npos) {
      return "the user name \"" + std::string(user) + "\" holds \"" + std::string(1, c) +
             "\", which a shell would read";
    }
  }
  return {};
}

}  // namespace tarnex::ssh
