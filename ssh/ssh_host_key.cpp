#include "ssh/ssh_host_key.h"

namespace tarnex::ssh {
namespace {

bool IsBase64Character(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         c == '+' || c == '/';
}

}  // namespace

bool IsHostKeyPin(std::string_view text) {
  constexpr std::string_view kPrefix = "SHA256:";
  // 32 bytes are 43 base64 characters and one "=" of padding, which ssh leaves out.
  constexpr size_t kDigits = 43;
  if (!text.starts_with(kPrefix) || text.size() != kPrefix.size() + kDigits) return false;
  for (unsigned char c : text.substr(kPrefix.size())) {
    if (!IsBase64Character(c)) return false;
  }
  return true;
}

std::string KeyTypeForPeople(std::string_view ssh_type) {
  struct Name {
    std::string_view ssh;
    std::string_view people;
  };
  static constexpr Name kNames[] = {
      {"ssh-ed25519", "ED25519"},
      {"ssh-rsa", "RSA"},
      {"ssh-dss", "DSA"},
      {"ecdsa-sha2-nistp256", "ECDSA"},
      {"ecdsa-sha2-nistp384", "ECDSA"},
      {"ecdsa-sha2-nistp521", "ECDSA"},
      {"sk-ssh-ed25519@openssh.com", "ED25519-SK"},
      {"sk-ecdsa-sha2-nistp256@openssh.com", "ECDSA-SK"},
  };
  for (const Name& name : kNames) {
    if (name.ssh == ssh_type) return std::string(name.people);
  }
  return std::string(ssh_type);
}

}  // namespace tarnex::ssh
