#include "app/translation.h"

#include <libintl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <locale.h>
#include <string.h>

#include <cerrno>
#include <clocale>
#include <cstdarg>
#include <cstdio>

#include "platform/files.h"

namespace tarnex::app {
namespace {

constexpr char kTextDomain[] = "tarnex-run";

bool IsFolder(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string CatalogueFolder() {
  const std::string folder = platform::RunningProgramFolder();
  if (!folder.empty()) {
    const std::string beside = folder + "/" TARNEX_LOCALEDIR_FROM_BINDIR;
    if (IsFolder(beside)) return beside;
  }
  return TARNEX_LOCALEDIR;
}

}  // namespace

void InitTranslations() {
  // A locale that is not installed leaves messages in English (gettext also ignores LANGUAGE
  // under the plain "C" locale, by design).
  std::setlocale(LC_MESSAGES, "");
  ::bindtextdomain(kTextDomain, CatalogueFolder().c_str());
  // The runner writes UTF-8 whatever the terminal's locale says; the character type category
  // stays "C", which would otherwise turn every Japanese character into "?".
  ::bind_textdomain_codeset(kTextDomain, "UTF-8");
}

const char* Tr(const char* msgid) {
  return ::dgettext(kTextDomain, msgid);
}

std::string SystemErrorText(int error_number) {
  switch (error_number) {
    case ENOENT:
      return Tr("no such file or folder");
    case EACCES:
    case EPERM:
      return Tr("permission denied");
    case EISDIR:
      return Tr("it is a folder");
    case ENOTDIR:
      return Tr("a part of the path is not a folder");
    case ENOSPC:
      return Tr("no space left on the device");
    case EROFS:
      return Tr("the file system is read-only");
    default:
      return SystemErrorTextInEnglish(error_number);
  }
}

std::string SystemErrorTextInEnglish(int error_number) {
  static const locale_t c_locale = ::newlocale(LC_ALL_MASK, "C", nullptr);
  return c_locale != nullptr ? ::strerror_l(error_number, c_locale)
                             : "error " + std::to_string(error_number);
}

std::string Format(const char* pattern, ...) {
  va_list args;
  va_start(args, pattern);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, pattern, args);
  va_end(args);
  std::string text;
  if (length > 0) {
    text.resize(static_cast<size_t>(length) + 1);
    std::vsnprintf(text.data(), text.size(), pattern, again);
    text.resize(static_cast<size_t>(length));
  }
  va_end(again);
  return text;
}

}  // namespace tarnex::app
