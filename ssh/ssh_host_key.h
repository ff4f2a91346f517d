// Host keys as ssh names them: a pinned key's fingerprint, and the key types as people read
// them (what `ssh-keygen -l` prints).
#pragma once

#include <string>
#include <string_view>

namespace tarnex::ssh {

// A pin is ssh's SHA-256 fingerprint: "SHA256:" and 43 base64 characters, without padding.
bool IsHostKeyPin(std::string_view text);

// "ssh-ed25519" -> "ED25519", "ssh-rsa" -> "RSA", "ecdsa-sha2-nistp256" -> "ECDSA"; a type it
// does not know stays as it is.
std::string KeyTypeForPeople(std::string_view ssh_type);

}  // namespace tarnex::ssh
