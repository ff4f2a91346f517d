// What the execution log shows of a line: the line after substitution, except that a
// password never appears in it.
#pragma once

#include <string>
#include <string_view>

namespace tarnex::script {

inline constexpr std::string_view kMaskedSecret = "****";

// `line` with the password of a Login line ("Login user ****") and the argument of a raw
// "FTP PASS ..." line replaced by "****", also behind "if" conditions; every other byte stays.
std::string MaskSecrets(std::string_view line);

}  // namespace tarnex::script
