// Remote paths and names as an SFTP session uses them: the server knows no current folder, so
// the session keeps one and makes every name a path from it.
#pragma once

#include <string>
#include <string_view>

#include "ftpproto/ftp_types.h"

namespace tarnex {

// `name` as a path from `folder`: a name starting with "/" as it is, an empty one the folder
// itself, any other one below it. Nothing is resolved ("..", links): the server does that.
std::string JoinRemotePath(std::string_view folder, std::string_view name);

// Whether a folder's entry shows in a listing: "." and ".." never, other names starting with
// "." only WithHidden.
bool ShowsInListing(std::string_view name, ListScope scope);

// The reply that names the current folder, as a 257 reply to PWD does: "/a "b"" becomes
// 257 "/a ""b""" is the current directory (a quote inside doubled).
std::string CurrentFolderLine(std::string_view folder);

}  // namespace tarnex
