#include "app/script_loader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "app/translation.h"
#include "documents/script_file.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/scope_guard.h"
#include "text/lines.h"
#include "text/script_encoding.h"

namespace tarnex::app {
namespace {

[[noreturn]] void Refuse(const char* pattern, const std::string& path) {
  throw ScriptFileError(Format(Tr(pattern), path.c_str()));
}

[[noreturn]] void RefuseWithReason(const char* pattern, const std::string& path, int error) {
  throw ScriptFileError(Format(Tr(pattern), path.c_str(), SystemErrorText(error).c_str()));
}

void CheckTextSize(std::size_t text_bytes, const std::string& path) {
  if (text_bytes > documents::kMaxScriptTextBytes) {
    throw ScriptFileError(Format(Tr("the script %s is too large (more than %zu bytes of text)"),
                                 path.c_str(), documents::kMaxScriptTextBytes));
  }
}

// The file's bytes; a file of more than twice the text limit cannot fit (a record of n bytes
// gives at least (n - 1) / 2 bytes of text) and is refused before it is read.
std::string ReadScriptBytes(const std::string& path) {
  // The path comes from the command line in the terminal's encoding and is used as it is.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) RefuseWithReason(N_("cannot open the script %s: %s"), path, errno);
  ScopeExit close_file([fd] { ::close(fd); });
  struct stat info {};
  if (::fstat(fd, &info) != 0) RefuseWithReason(N_("cannot read the script %s: %s"), path, errno);
  // A folder or a device: reading it would fail later, or never end.
  if (!S_ISREG(info.st_mode)) Refuse(N_("%s is not a regular file"), path);
  CheckTextSize(static_cast<std::size_t>(info.st_size) / 2, path);
  std::string bytes;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) return bytes;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) RefuseWithReason(N_("cannot read the script %s: %s"), path, errno);
    bytes.append(buffer, static_cast<std::size_t>(n));
    CheckTextSize(bytes.size() / 2, path);  // a file that grows while it is read
  }
}

}  // namespace

ScriptLines LoadScriptLines(const std::string& utf8_path, ScriptEncodingChoice choice) {
  const std::string bytes = ReadScriptBytes(utf8_path);
  std::string text;
  try {
    // No limit inside: the size is checked here, with the runner's own message.
    text = documents::ScriptTextFromFile(bytes, documents::IsEncipheredName(utf8_path),
                                         std::string::npos);
  } catch (const EConvertError& e) {
    // The cipher's own text says which record is unreadable.
    throw ScriptFileError(Format(Tr("the script %s cannot be deciphered: %s"), utf8_path.c_str(),
                                 platform::Cp932ToUtf8(e.Message()).c_str()));
  }
  CheckTextSize(text.size(), utf8_path);
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
