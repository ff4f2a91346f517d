// Reads a netrc file, refusing one that other users could read or change, as ssh refuses such
// a key: whoever can read it has the passwords, whoever can write it chooses them.
#pragma once

#include <string>
#include <vector>

#include "settings/netrc.h"

namespace tarnex::settings {

struct NetrcFile {
  enum class Status {
    Loaded,
    Missing,     // no such file
    Unreadable,  // cannot be opened or read, or is no regular file (error_number tells)
    TooOpen,     // group or others have some right to it (mode tells)
    NotOwned,    // owned by another user than the one running (nor by root)
    TooLarge,    // beyond kMaxNetrcBytes
    Malformed,   // the text is no netrc file (parse_error tells)
  };
  Status status = Status::Missing;
  std::vector<NetrcEntry> entries;  // only when Loaded
  unsigned mode = 0;                // the file's permission bits, when they were read
  int error_number = 0;
  std::string parse_error;
};

inline constexpr long kMaxNetrcBytes = 1 << 20;

// The file at `path` (UTF-8, as given).
NetrcFile LoadNetrcFile(const std::string& path);

// $HOME/.netrc, or in the home folder of the user's account when HOME is not set; empty when
// neither is known.
std::string DefaultNetrcPath();

}  // namespace tarnex::settings
