#include "app/script_loader.h"

#include <fstream>
#include <iterator>

#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "text/lines.h"

namespace tarnex::app {

std::vector<std::string> LoadScriptLines(const std::string& utf8_path) {
  // The path comes from the command line in the terminal's encoding and is used as it is.
  std::ifstream in(utf8_path, std::ios::binary);
  if (!in) throw EFileError(platform::FileOpenErrorText(platform::Utf8ToCp932(utf8_path)));
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw EFileError(platform::FileReadErrorText(platform::Utf8ToCp932(utf8_path)));
  return SplitLines(bytes);
}

}  // namespace tarnex::app
