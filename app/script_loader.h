// Reads a script file into its lines for the headless runner.
#pragma once

#include <string>
#include <vector>

namespace tarnex::app {

// The lines of the script at `utf8_path` (CR, LF and CR LF each end a line), deciphered when
// the file name's extension is ".fcx" in any case. Raises the file error naming the script
// when it cannot be read or is not a regular file (a folder, a device), the cipher's conversion error for an unreadable record, and the
// too-large error for a script beyond what the editor holds.
std::vector<std::string> LoadScriptLines(const std::string& utf8_path);

}  // namespace tarnex::app
