// What the execution log shows of a line: the line after substitution, except that a
// password or the value of a secret variable never appears in it.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace tarnex::script {

inline constexpr std::string_view kMaskedSecret = "****";

// A variable whose value is kept from sight, in the log and in the desktop's variables panel
// alike: its name holds "pass" in any case ("password", "FtpPass"), as characters of the
// thread's encoding (the second byte of a double-byte character is no letter).
bool IsSecretName(std::string_view name);

// `line` with "****" for the password of a Login line (quotes and all: `Login user ****`), for
// what follows the command word of a raw "FTP PASS ..." line (as the trace shows it) and for
// the value a `set` line gives a secret variable; also behind "if" conditions. The words are
// taken as the engine takes them when it runs the line; every other byte stays.
std::string MaskSecrets(std::string_view line);

// The log line of the script line `written`: its references expanded by `read`, those of a
// secret variable as "****" for each of the value's words, then MaskSecrets.
std::string LoggedLine(std::string_view written,
                       const std::function<std::string(const std::string&)>& read);

}  // namespace tarnex::script
