#include "platform/local_folder.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/text_encoding.h"

namespace tarnex::platform {
namespace {

// The name a native (UTF-8) name has in the thread's encoding: one that leads back to the
// same native name, or nothing.
std::optional<std::string> ThreadName(const std::string& native) {
  if (CurrentTextEncoding() == TextEncoding::Utf8) return native;
  std::string name = Utf8ToCp932(native);
  if (NativePath(name) != native) return std::nullopt;
  return name;
}

LocalEntry EntryOf(const struct stat& info) {
  LocalEntry entry;
  if (S_ISREG(info.st_mode)) {
    entry.kind = LocalKind::File;
  } else if (S_ISDIR(info.st_mode)) {
    entry.kind = LocalKind::Folder;
  } else if (S_ISLNK(info.st_mode)) {
    entry.kind = LocalKind::Link;
  }
  entry.size = static_cast<int64_t>(info.st_size);
  entry.modified = static_cast<int64_t>(info.st_mtim.tv_sec);
  return entry;
}

std::string LinkTarget(const std::string& native_path) {
  std::string target(4096, '\0');
  const ssize_t length = ::readlink(native_path.c_str(), target.data(), target.size());
  if (length <= 0 || static_cast<size_t>(length) >= target.size()) return {};
  target.resize(static_cast<size_t>(length));
  return ThreadName(target).value_or(std::string());
}

}  // namespace

std::optional<LocalListing> ListLocalFolder(std::string_view folder) {
  const std::string path = NativePath(folder.empty() ? std::string_view(".") : folder);
  std::unique_ptr<DIR, decltype(&::closedir)> dir(::opendir(path.c_str()), &::closedir);
  if (!dir) return std::nullopt;
  LocalListing listing;
  while (const dirent* item = ::readdir(dir.get())) {
    const std::string native = item->d_name;
    if (native == "." || native == "..") continue;
    std::optional<std::string> name = ThreadName(native);
    if (!name) {
      listing.unnamed.push_back(native);
      continue;
    }
    const std::string native_path = path + "/" + native;
    struct stat info {};
    if (::lstat(native_path.c_str(), &info) != 0) continue;  // gone meanwhile
    LocalEntry entry = EntryOf(info);
    entry.name = std::move(*name);
    if (entry.kind == LocalKind::Link) entry.link_target = LinkTarget(native_path);
    listing.entries.push_back(std::move(entry));
  }
  return listing;
}

std::optional<LocalEntry> LocalEntryOf(std::string_view path) {
  const std::string native = NativePath(path);
  struct stat info {};
  if (native.empty() || ::lstat(native.c_str(), &info) != 0) return std::nullopt;
  LocalEntry entry = EntryOf(info);
  entry.name = std::string(path);
  if (entry.kind == LocalKind::Link) entry.link_target = LinkTarget(native);
  return entry;
}

bool MakeLocalFolder(std::string_view name) {
  const std::string path = NativePath(name);
  return !path.empty() && ::mkdir(path.c_str(), 0777) == 0;
}

bool RemoveLocalFolder(std::string_view name) {
  const std::string path = NativePath(name);
  return !path.empty() && ::rmdir(path.c_str()) == 0;
}

}  // namespace tarnex::platform
