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

}  // namespace tarnex
