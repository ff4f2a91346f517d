// A file's attributes as SFTP version 3 carries them: each group of fields is there only when
// its flag is set, in the order of the flags.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sftp/sftp_wire.h"

namespace tarnex::sftp {

struct OwnerIds {
  uint32_t uid = 0;
  uint32_t gid = 0;
  bool operator==(const OwnerIds&) const = default;
};

struct FileTimes {
  uint32_t atime = 0;  // seconds since 1970-01-01 UTC
  uint32_t mtime = 0;
  bool operator==(const FileTimes&) const = default;
};

struct ExtendedAttribute {
  std::string type;
  std::string data;
  bool operator==(const ExtendedAttribute&) const = default;
};

struct FileAttributes {
  std::optional<uint64_t> size;
  std::optional<OwnerIds> owner;
  std::optional<uint32_t> permissions;  // st_mode: the file type bits and the permission bits
  std::optional<FileTimes> times;
  std::vector<ExtendedAttribute> extended;  // flagged only when not empty
  bool operator==(const FileAttributes&) const = default;
};

// The file type bits of st_mode, as the server sends them in `permissions`.
inline constexpr uint32_t kFileTypeMask = 0170000;
inline constexpr uint32_t kTypeFolder = 0040000;
inline constexpr uint32_t kTypeFile = 0100000;
inline constexpr uint32_t kTypeLink = 0120000;

// The flags word and the fields it announces.
void AppendAttributes(PacketBuilder& packet, const FileAttributes& attributes);

// Reads an attribute block at the reader's position. A flag this version does not define
// is malformed: the fields it stands for have no known size, so nothing after it could be read.
bool ReadAttributes(WireReader& in, FileAttributes& attributes);

}  // namespace tarnex::sftp
