#include "app/script_loader.h"

#include <sys/stat.h>

#include <fstream>
#include <iterator>

#include "documents/script_file.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "text/lines.h"
#include "text/texts.h"

namespace tarnex::app {

std::vector<std::string> LoadScriptLines(const std::string& utf8_path) {
  // The path comes from the command line in the terminal's encoding and is used as it is.
  struct stat info {};
  if (::stat(utf8_path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
    // A folder or a device: reading it would fail later, and with a less helpful text.
    throw EFileError(platform::Utf8ToCp932(utf8_path) + " is not a regular file");
  }
  std::ifstream in(utf8_path, std::ios::binary | std::ios::ate);
  if (!in) throw EFileError(platform::FileOpenErrorText(platform::Utf8ToCp932(utf8_path)));
  // A file too large for any script is refused before it is read.
  if (const std::streamoff size = in.tellg();
      size > 0 && static_cast<std::size_t>(size) / 2 > documents::kMaxScriptTextBytes) {
    throw Exception(texts::TextTooLarge());
  }
  in.seekg(0);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw EFileError(platform::FileReadErrorText(platform::Utf8ToCp932(utf8_path)));
  return SplitLines(documents::ScriptTextFromFile(bytes, documents::IsEncipheredName(utf8_path)));
}

}  // namespace tarnex::app
