// Certificate fingerprints as people write them: SHA-256 as 64 hex digits, in either case,
// with or without colons between the bytes.
#pragma once

#include <string>
#include <string_view>

namespace tarnex {

// The fingerprint as 64 lower-case hex digits; empty when the text is not one.
std::string NormalizeFingerprint(std::string_view text);

}  // namespace tarnex
