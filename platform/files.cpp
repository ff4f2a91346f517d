#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/text_encoding.h"

namespace tarnex::platform {
namespace {

std::string Format(const char* utf8_format, std::string_view name) {
  // The format holds one %s; the name goes in as its bytes, in the same encoding.
  const bool utf8 = CurrentTextEncoding() == TextEncoding::Utf8;
  std::string format = utf8 ? std::string(utf8_format) : Utf8ToCp932(utf8_format);
  std::string out;
  size_t at = format.find("%s");
  out.append(format, 0, at);
  out.append(name);
  out.append(format, at + 2);
  return out;
}

int OpenNative(std::string_view name, int flags) {
  std::string path = NativePath(name);
  if (path.empty()) {
    errno = ENOENT;
    return -1;
  }
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

std::string FileOpenErrorText(std::string_view name) { return Format("ファイル %s は開けません", name); }
std::string FileCreateErrorText(std::string_view name) {
  return Format("ファイル %s を作成できません", name);
}
std::string FileWriteErrorText(std::string_view name) {
  return Format("ファイル %s に書き込めません", name);
}
std::string FileReadErrorText(std::string_view name) {
  return Format("ファイル %s を読み込めません", name);
}

std::string NativePath(std::string_view name) {
  if (CurrentTextEncoding() == TextEncoding::Utf8) return std::string(name);
  if (auto utf8 = TryCp932ToUtf8(name)) return *utf8;
  return std::string(name);
}

bool SetCurrentDir(std::string_view name) {
  std::string path = NativePath(name);
  return !path.empty() && ::chdir(path.c_str()) == 0;
}

bool DeleteFile(std::string_view name) {
  std::string path = NativePath(name);
  struct stat info {};
  if (path.empty() || ::lstat(path.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) return false;
  return ::unlink(path.c_str()) == 0;
}

bool FileExists(std::string_view name) {
  std::string path = NativePath(name);
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

std::string ReadFileBytes(std::string_view name) {
  File file = File::OpenRead(name);
  std::string bytes;
  char buffer[65536];
  while (size_t n = file.Read(buffer)) bytes.append(buffer, n);
  return bytes;
}

void WriteFileBytes(std::string_view name, std::string_view bytes) {
  File file = File::Create(name);
  file.Write(bytes);
  file.Close();
}

void WriteLines(std::string_view name, const std::vector<std::string>& lines) {
  std::string text;
  size_t size = 0;
  for (const auto& line : lines) size += line.size() + 2;
  text.reserve(size);
  for (const auto& line : lines) {
    text += line;
    text += "\r\n";
  }
  WriteFileBytes(name, text);
}

File File::OpenRead(std::string_view name) {
  int fd = OpenNative(name, O_RDONLY);
  struct stat info {};
  if (fd >= 0 && (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode))) {
    ::close(fd);
    fd = -1;
  }
  if (fd < 0) throw EFileError(FileOpenErrorText(name));
  return File(fd, std::string(name));
}

File File::Create(std::string_view name) {
  int fd = OpenNative(name, O_WRONLY | O_CREAT | O_TRUNC);
  if (fd < 0) throw EFileError(FileCreateErrorText(name));
  return File(fd, std::string(name));
}

File::File(File&& other) noexcept : fd_(other.fd_), name_(std::move(other.name_)) {
  other.fd_ = -1;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    name_ = std::move(other.name_);
    other.fd_ = -1;
  }
  return *this;
}

File::~File() {
  if (fd_ >= 0) ::close(fd_);
}

size_t File::Read(std::span<char> buffer) {
  for (;;) {
    ssize_t n = ::read(fd_, buffer.data(), buffer.size());
    if (n >= 0) return static_cast<size_t>(n);
    if (errno != EINTR) throw EFileError(FileReadErrorText(name_));
  }
}

void File::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw EFileError(FileWriteErrorText(name_));
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

int64_t File::Size() const {
  struct stat info {};
  return ::fstat(fd_, &info) == 0 ? static_cast<int64_t>(info.st_size) : 0;
}

int64_t File::Position() const { return ::lseek(fd_, 0, SEEK_CUR); }

void File::Seek(int64_t offset) {
  if (::lseek(fd_, offset, SEEK_SET) != offset) throw EFileError(FileReadErrorText(name_));
}

void File::Close() {
  if (fd_ < 0) return;
  int fd = fd_;
  fd_ = -1;
  // A failing close can mean data that never reached the disk (e.g. a full NFS volume).
  if (::close(fd) != 0 && errno != EINTR) throw EFileError(FileWriteErrorText(name_));
}

std::string RunningProgramFolder() {
  std::string path(4096, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
  if (n <= 0 || static_cast<size_t>(n) >= path.size()) return {};
  path.resize(static_cast<size_t>(n));
  return path.substr(0, path.rfind('/'));
}

}  // namespace tarnex::platform
