#include "text/fingerprint.h"

namespace tarnex {

std::string NormalizeFingerprint(std::string_view text) {
  std::string hex;
  for (char c : text) {
    if (c == ':') continue;
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return {};
    hex += c;
  }
  return hex.size() == 64 ? hex : std::string();
}

bool IsSshHostKeyFingerprint(std::string_view text) {
  constexpr std::string_view kPrefix = "SHA256:";
  constexpr std::string_view kBase64 =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  if (!text.starts_with(kPrefix) || text.size() != kPrefix.size() + 43) return false;
  const std::string_view digits = text.substr(kPrefix.size());
  for (char c : digits) {
    if (kBase64.find(c) == std::string_view::npos) return false;
  }
  return kBase64.find(digits.back()) % 4 == 0;  // 258 bits written for 256
}

}  // namespace tarnex
