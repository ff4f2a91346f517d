// The numbers of SFTP version 3 as they travel between the client and the server: packet
// types, status codes, open flags, attribute flags, and the OpenSSH extensions we use.
#pragma once

#include <cstdint>
#include <string_view>

namespace tarnex::sftp {

inline constexpr uint32_t kProtocolVersion = 3;

// A packet: uint32 length (of what follows it), byte type, then the type's fields.
inline constexpr size_t kLengthFieldSize = 4;

// The largest packet length we accept by default: a READ of 256 KiB (the most OpenSSH's server
// allows) plus its reply's header, with room for a long NAME reply. A larger length is a
// protocol error, refused before anything is allocated for it.
inline constexpr uint32_t kDefaultMaxPacketLength = 256 * 1024 + 1024;

enum PacketType : uint8_t {
  SSH_FXP_INIT = 1,
  SSH_FXP_VERSION = 2,
  SSH_FXP_OPEN = 3,
  SSH_FXP_CLOSE = 4,
  SSH_FXP_READ = 5,
  SSH_FXP_WRITE = 6,
  SSH_FXP_LSTAT = 7,
  SSH_FXP_FSTAT = 8,
  SSH_FXP_SETSTAT = 9,
  SSH_FXP_FSETSTAT = 10,
  SSH_FXP_OPENDIR = 11,
  SSH_FXP_READDIR = 12,
  SSH_FXP_REMOVE = 13,
  SSH_FXP_MKDIR = 14,
  SSH_FXP_RMDIR = 15,
  SSH_FXP_REALPATH = 16,
  SSH_FXP_STAT = 17,
  SSH_FXP_RENAME = 18,
  SSH_FXP_READLINK = 19,
  SSH_FXP_SYMLINK = 20,
  SSH_FXP_STATUS = 101,
  SSH_FXP_HANDLE = 102,
  SSH_FXP_DATA = 103,
  SSH_FXP_NAME = 104,
  SSH_FXP_ATTRS = 105,
  SSH_FXP_EXTENDED = 200,
  SSH_FXP_EXTENDED_REPLY = 201,
};

// The name of a packet type for messages ("SSH_FXP_NAME"); "packet type N" for an unknown one
// is left to the caller (this gives "unknown").
std::string_view PacketTypeName(uint8_t type);

enum StatusCode : uint32_t {
  SSH_FX_OK = 0,
  SSH_FX_EOF = 1,
  SSH_FX_NO_SUCH_FILE = 2,
  SSH_FX_PERMISSION_DENIED = 3,
  SSH_FX_FAILURE = 4,
  SSH_FX_BAD_MESSAGE = 5,
  SSH_FX_NO_CONNECTION = 6,
  SSH_FX_CONNECTION_LOST = 7,
  SSH_FX_OP_UNSUPPORTED = 8,
};

// SSH_FXP_OPEN's pflags.
enum OpenFlag : uint32_t {
  SSH_FXF_READ = 0x01,
  SSH_FXF_WRITE = 0x02,
  SSH_FXF_APPEND = 0x04,
  SSH_FXF_CREAT = 0x08,
  SSH_FXF_TRUNC = 0x10,
  SSH_FXF_EXCL = 0x20,
};

// Which fields an attribute block holds, in this order on the wire.
enum AttributeFlag : uint32_t {
  SSH_FILEXFER_ATTR_SIZE = 0x01,
  SSH_FILEXFER_ATTR_UIDGID = 0x02,
  SSH_FILEXFER_ATTR_PERMISSIONS = 0x04,
  SSH_FILEXFER_ATTR_ACMODTIME = 0x08,
  SSH_FILEXFER_ATTR_EXTENDED = 0x80000000,
};

// The OpenSSH extensions, by the name and version the server's VERSION packet announces.
inline constexpr std::string_view kLimitsExtension = "limits@openssh.com";
inline constexpr std::string_view kPosixRenameExtension = "posix-rename@openssh.com";
inline constexpr std::string_view kFsyncExtension = "fsync@openssh.com";
inline constexpr std::string_view kStatvfsExtension = "statvfs@openssh.com";

}  // namespace tarnex::sftp
