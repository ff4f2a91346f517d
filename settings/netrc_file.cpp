#include "settings/netrc_file.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/scope_guard.h"

namespace tarnex::settings {
namespace {

NetrcFile WithStatus(NetrcFile::Status status, int error_number = 0) {
  NetrcFile file;
  file.status = status;
  file.error_number = error_number;
  return file;
}

// The whole file, read from the descriptor whose state was checked (no second open that
// another file could have taken the place of).
bool ReadAll(int fd, std::string& text) {
  char buffer[16384];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) return true;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    text.append(buffer, static_cast<size_t>(n));
    if (static_cast<long>(text.size()) > kMaxNetrcBytes) return true;
  }
}

}  // namespace

NetrcFile LoadNetrcFile(const std::string& path) {
  // O_NONBLOCK: a FIFO in its place must not hold the run; it is refused below.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    const int error = errno;
    return WithStatus(error == ENOENT ? NetrcFile::Status::Missing : NetrcFile::Status::Unreadable,
                      error);
  }
  ScopeExit close_file([fd] { ::close(fd); });
  struct stat info {};
  if (::fstat(fd, &info) != 0) return WithStatus(NetrcFile::Status::Unreadable, errno);
  if (!S_ISREG(info.st_mode)) return WithStatus(NetrcFile::Status::Unreadable, EINVAL);
  NetrcFile file;
  file.mode = info.st_mode & 07777;
  if ((info.st_mode & 077) != 0) {
    file.status = NetrcFile::Status::TooOpen;
    return file;
  }
  if (info.st_uid != ::geteuid() && info.st_uid != 0) {
    file.status = NetrcFile::Status::NotOwned;
    return file;
  }
  if (info.st_size > kMaxNetrcBytes) {
    file.status = NetrcFile::Status::TooLarge;
    return file;
  }
  std::string text;
  if (!ReadAll(fd, text)) return WithStatus(NetrcFile::Status::Unreadable, errno);
  if (static_cast<long>(text.size()) > kMaxNetrcBytes) {
    file.status = NetrcFile::Status::TooLarge;
    return file;
  }
  NetrcParse parse = ParseNetrc(text);
  if (!parse.error.empty()) {
    file.status = NetrcFile::Status::Malformed;
    file.parse_error = std::move(parse.error);
    return file;
  }
  file.status = NetrcFile::Status::Loaded;
  file.entries = std::move(parse.entries);
  return file;
}

std::string DefaultNetrcPath() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    return std::string(home) + "/.netrc";
  }
  if (const passwd* account = ::getpwuid(::geteuid()); account != nullptr && account->pw_dir) {
    return std::string(account->pw_dir) + "/.netrc";
  }
  return {};
}

}  // namespace tarnex::settings
