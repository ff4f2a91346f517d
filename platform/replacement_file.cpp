#include "platform/replacement_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <utility>

#include "platform/background_close.h"
#include "platform/errors.h"
#include "platform/temp_file_registry.h"

namespace tarnex::platform {
namespace {

// Room for "." + name + ".tarnex-XXXXXX" within the longest file name a folder takes.
constexpr size_t kMaxBaseBytes = 200;
constexpr int kNameAttempts = 64;
// A replaced file smaller than this is let go at once: freeing its pages takes less than
// handing it to another thread.
constexpr off_t kBackgroundReleaseBytes = off_t{16} << 20;

std::string RandomSuffix() {
  static constexpr char kLetters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  unsigned char bytes[6];
  if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
    // Only the name's uniqueness depends on it; O_EXCL keeps any clash harmless.
    for (unsigned char& b : bytes) b = static_cast<unsigned char>(std::rand());
  }
  std::string suffix;
  for (unsigned char b : bytes) suffix += kLetters[b % (sizeof kLetters - 1)];
  return suffix;
}

// The target itself when it is a link to a regular file, so that the link stays a link.
std::string ResolvedTarget(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
  return real ? std::string(real.get()) : path;
}

int OpenDirect(const std::string& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// A fresh hidden sibling of `target`, created with the mode a new file gets (0666 less the
// umask) and registered for removal by an ending signal (`slot`); -1 when none can be made.
int OpenSibling(const std::string& target, std::string& temp_path, int& slot) {
  const size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  if (base.size() > kMaxBaseBytes) base.resize(kMaxBaseBytes);
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    temp_path = folder + "." + base + ".tarnex-" + RandomSuffix();
    // Registered before it exists: a signal between the two would otherwise leave it behind.
    slot = RegisterTempFile(temp_path);
    int fd = ::open(temp_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) return fd;
    const int error = errno;
    UnregisterTempFile(slot);
    if (error != EEXIST && error != EINTR) break;
  }
  temp_path.clear();
  slot = -1;
  return -1;
}

// The file at `path` itself (not where a link there leads), held so that its pages outlive
// its name; -1 when there is none.
int HoldFile(const std::string& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Lets go of a file held by HoldFile: on the closing thread when this frees a big file's
// pages (its last name is gone), else at once.
void ReleaseFile(int fd) {
  if (fd < 0) return;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && info.st_nlink == 0 && info.st_size >= kBackgroundReleaseBytes) {
    CloseInBackground(fd);
  } else {
    ::close(fd);
  }
}

}  // namespace

std::optional<std::string> InTheWayOfServerName(std::string_view cp932_name) {
  const std::string path = NativePath(cp932_name);
  struct stat info {};
  if (path.empty() || ::lstat(path.c_str(), &info) != 0 || S_ISREG(info.st_mode)) {
    return std::nullopt;
  }
  if (S_ISLNK(info.st_mode)) return "a link is in the way";
  if (S_ISDIR(info.st_mode)) return "a folder is in the way";
  return "something that is no file is in the way";
}

ReplacementFile ReplacementFile::Create(std::string_view cp932_name, TargetName chosen) {
  const std::string path = NativePath(cp932_name);
  const std::string name(cp932_name);
  if (path.empty()) throw EFileError(FileCreateErrorText(name));
  if (chosen == TargetName::FromServer) {
    if (const std::optional<std::string> in_the_way = InTheWayOfServerName(cp932_name)) {
      throw EFileError(name + ": " + *in_the_way);
    }
  }
  struct stat info {};
  const bool exists = ::stat(path.c_str(), &info) == 0;
  if (exists && !S_ISREG(info.st_mode)) {
    // A device or a FIFO is written in place; a folder fails here as it always did.
    int fd = OpenDirect(path);
    if (fd < 0) throw EFileError(FileCreateErrorText(name));
    return ReplacementFile(File(fd, name), path, {}, -1);
  }
  const std::string target = exists ? ResolvedTarget(path) : path;
  std::string temp;
  int slot = -1;
  int fd = OpenSibling(target, temp, slot);
  if (fd < 0) throw EFileError(FileCreateErrorText(name));
  // The new file takes the old one's permission bits; failing that it keeps a new file's.
  if (exists) (void)::fchmod(fd, info.st_mode & 07777);
  return ReplacementFile(File(fd, name), target, temp, slot);
}

ReplacementFile ReplacementFile::CreateContinuing(std::string_view cp932_name, int64_t offset,
                                                  TargetName chosen) {
  ReplacementFile file = Create(cp932_name, chosen);
  if (file.temp_path_.empty()) throw EFileError(FileCreateErrorText(cp932_name));
  // The part already there is copied by the kernel (or shared, where the file system can).
  File old = File::OpenRead(cp932_name);
  loff_t from = 0;
  while (from < offset) {
    const ssize_t n = ::copy_file_range(old.Descriptor(), &from, file.file_.Descriptor(), nullptr,
                                        static_cast<size_t>(offset - from), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw EFileError(FileCreateErrorText(cp932_name));
  }
  return file;
}

ReplacementFile::ReplacementFile(File file, std::string target_path, std::string temp_path,
                                 int slot)
    : file_(std::move(file)),
      target_path_(std::move(target_path)),
      temp_path_(std::move(temp_path)),
      signal_slot_(slot) {}

ReplacementFile::ReplacementFile(ReplacementFile&& other) noexcept
    : file_(std::move(other.file_)),
      target_path_(std::move(other.target_path_)),
      temp_path_(std::exchange(other.temp_path_, {})),
      signal_slot_(std::exchange(other.signal_slot_, -1)) {}

ReplacementFile::~ReplacementFile() { Discard(); }

void ReplacementFile::Commit() {
  if (temp_path_.empty()) {
    file_.Close();
    return;
  }
  // The bytes reach the disk before the name moves: a crash then leaves the old file or the
  // new one, never an empty one.
  int sync;
  do {
    sync = ::fdatasync(file_.Descriptor());
  } while (sync != 0 && errno == EINTR);
  if (sync != 0) throw EFileError(FileWriteErrorText(file_.Name()));
  file_.Close();
  // The file the new one replaces would be freed within the rename, which then takes as long
  // as freeing its pages; held past it, the file is let go on the closing thread instead.
  const int replaced = HoldFile(target_path_);
  const int renamed = ::rename(temp_path_.c_str(), target_path_.c_str());
  ReleaseFile(replaced);
  if (renamed != 0) throw EFileError(FileWriteErrorText(file_.Name()));
  UnregisterTempFile(signal_slot_);
  signal_slot_ = -1;
  temp_path_.clear();
}

void ReplacementFile::Discard() noexcept {
  if (temp_path_.empty()) return;
  try {
    file_.Close();
  } catch (const EFileError&) {
    // The file is removed next; what its close says no longer matters.
  }
  ::unlink(temp_path_.c_str());
  UnregisterTempFile(signal_slot_);
  signal_slot_ = -1;
  temp_path_.clear();
}

}  // namespace tarnex::platform
