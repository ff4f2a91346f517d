// The entries of a local folder, for mput and mirror, and the making and removing of folders.
// Names are in the thread's text encoding, as everywhere in platform/files.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnex::platform {

enum class LocalKind { File, Folder, Link, Other };

struct LocalEntry {
  std::string name;
  LocalKind kind = LocalKind::Other;  // of the entry itself: a link is a link
  int64_t size = 0;
  int64_t modified = 0;     // seconds since 1970-01-01 UTC
  std::string link_target;  // for a link whose target the thread's encoding can hold
};

struct LocalListing {
  std::vector<LocalEntry> entries;  // in no particular order, without "." and ".."
  // Names the thread's encoding cannot hold (in UTF-8, for a message): such a file could not
  // be named again, so it is left out.
  std::vector<std::string> unnamed;
};

// Nothing when the folder cannot be read.
std::optional<LocalListing> ListLocalFolder(std::string_view folder);

// What `path` itself is (a link is not followed); nothing when it does not exist.
std::optional<LocalEntry> LocalEntryOf(std::string_view path);

// mkdir (with the permissions a new folder gets) and rmdir of an empty folder.
bool MakeLocalFolder(std::string_view name);
bool RemoveLocalFolder(std::string_view name);

}  // namespace tarnex::platform
