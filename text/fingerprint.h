// Certificate fingerprints as people write them: SHA-256 as 64 hex digits, in either case,
// with or without colons between the bytes.
#pragma once

#include <string>
#include <string_view>

namespace tarnex {

// The fingerprint as 64 lower-case hex digits; empty when the text is not one.
std::string NormalizeFingerprint(std::string_view text);

// An SSH host key's fingerprint as OpenSSH writes it: "SHA256:" and the 32 bytes in base64
// without padding (43 characters, the last carrying two unused bits that are zero).
bool IsSshHostKeyFingerprint(std::string_view text);

}  // namespace tarnex
