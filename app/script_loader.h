// Reads a script file into its lines for the headless runner.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/text_encoding.h"

namespace tarnex::app {

// The encoding a script file is read in: auto lets the text decide (see DetectScriptEncoding).
enum class ScriptEncodingChoice { Auto, Cp932, Utf8 };

struct ScriptLines {
  std::vector<std::string> lines;
  platform::TextEncoding encoding = platform::TextEncoding::Cp932;
};

// A script that cannot be run: the runner's own message (UTF-8, in the user's language).
class ScriptFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The lines of the script at `utf8_path` (CR, LF and CR LF each end a line), deciphered when
// the file name's extension is ".fcx" in any case, and the encoding they are in. A UTF-8 text
// loses its byte order mark. Raises ScriptFileError naming the script when it cannot be read,
// is not a regular file (a folder, a device), has a record that cannot be deciphered or is
// beyond what the editor holds.
ScriptLines LoadScriptLines(const std::string& utf8_path, ScriptEncodingChoice choice);

}  // namespace tarnex::app
