#include "app/script_loader.h"

#include <sys/stat.h>

#include <fstream>
#include <iterator>

#include "documents/script_file.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "text/lines.h"
#include "text/script_encoding.h"
#include "text/texts.h"

namespace tarnex::app {

ScriptLines LoadScriptLines(const std::string& utf8_path, ScriptEncodingChoice choice) {
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
  const std::string text =
      documents::ScriptTextFromFile(bytes, documents::IsEncipheredName(utf8_path));
  ScriptLines script;
  switch (choice) {
    case ScriptEncodingChoice::Auto:
      script.encoding = DetectScriptEncoding(text);
      break;
    case ScriptEncodingChoice::Cp932:
      script.encoding = platform::TextEncoding::Cp932;
      break;
    case ScriptEncodingChoice::Utf8:
      script.encoding = platform::TextEncoding::Utf8;
      break;
  }
  // A CP932 script keeps every byte it has, as it always did.
  script.lines =
      SplitLines(script.encoding == platform::TextEncoding::Utf8 ? WithoutUtf8Bom(text)
                                                                 : std::string_view(text));
  return script;
}

}  // namespace tarnex::app
