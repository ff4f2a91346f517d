// Reads a script file into its lines for the headless runner.
#pragma once

#include <string>
#include <vector>

namespace tarnex::app {

// The lines of the script at `utf8_path` (CR, LF and CR LF each end a line); raises the file
// error naming the script when it cannot be read.
std::vector<std::string> LoadScriptLines(const std::string& utf8_path);

}  // namespace tarnex::app
