#include "platform/file_times.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <string>

#include "platform/files.h"

namespace tarnex::platform {

std::optional<int64_t> ModificationTime(std::string_view name) {
  const std::string path = NativePath(name);
  struct stat info {};
  if (path.empty() || ::stat(path.c_str(), &info) != 0) return std::nullopt;
  return static_cast<int64_t>(info.st_mtim.tv_sec);
}

bool SetModificationTime(std::string_view name, int64_t seconds) {
  const std::string path = NativePath(name);
  if (path.empty()) return false;
  const timespec times[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
  return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

}  // namespace tarnex::platform
