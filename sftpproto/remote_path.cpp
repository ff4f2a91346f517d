#include "sftpproto/remote_path.h"

namespace tarnex {

std::string JoinRemotePath(std::string_view folder, std::string_view name) {
  if (name.empty()) return std::string(folder);
  if (name.front() == '/' || folder.empty()) return std::string(name);
  std::string path(folder);
  if (path.back() != '/') path += '/';
  path += name;
  return path;
}

bool ShowsInListing(std::string_view name, ListScope scope) {
  if (name == "." || name == "..") return false;
  return scope == ListScope::WithHidden || name.empty() || name.front() != '.';
}

std::string CurrentFolderLine(std::string_view folder) {
  std::string line = "257 \"";
  for (const char c : folder) {
    line += c;
    if (c == '"') line += '"';
  }
  line += "\" is the current directory";
  return line;
}

}  // namespace tarnex
