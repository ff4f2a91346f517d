// The server's packets, read from a PacketView. Every decoder checks the packet's type and
// returns a CodecError, never throws, for a packet that is truncated, announces more than it
// holds or carries a value the protocol does not allow. Bytes after the last field are
// ignored, as later versions of the protocol add fields at the end.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sftp/sftp_attributes.h"
#include "sftp/sftp_framing.h"

namespace tarnex::sftp {

// A handle longer than this is refused: no server makes one, and each is sent back with every
// request on the file.
inline constexpr size_t kMaxHandleLength = 256;

struct Extension {
  std::string name;
  std::string data;
  bool operator==(const Extension&) const = default;
};

struct VersionReply {
  uint32_t version = 0;
  std::vector<Extension> extensions;
};

// The OpenSSH extensions the server offers, in the versions we speak.
struct OfferedExtensions {
  bool limits = false;
  bool posix_rename = false;
  bool fsync = false;
  bool statvfs = false;
  bool operator==(const OfferedExtensions&) const = default;
};

struct StatusReply {
  uint32_t id = 0;
  uint32_t code = 0;
  std::string message;  // empty when an old server sends none
  std::string language;
};

struct HandleReply {
  uint32_t id = 0;
  std::string handle;
};

// The data lies in the packet's buffer: write it out before the reader is called again.
struct DataReply {
  uint32_t id = 0;
  std::string_view data;
};

struct NameEntry {
  std::string filename;
  std::string longname;  // the server's "ls -l" line; see ListLineOf
  FileAttributes attributes;
};

struct NameReply {
  uint32_t id = 0;
  std::vector<NameEntry> entries;
};

struct AttrsReply {
  uint32_t id = 0;
  FileAttributes attributes;
};

// Its fields depend on the request it answers: DecodeLimits, DecodeStatvfs.
struct ExtendedReply {
  uint32_t id = 0;
  std::string_view data;
};

// limits@openssh.com: 0 in a field means the server states no limit there.
struct Limits {
  uint64_t max_packet_length = 0;
  uint64_t max_read_length = 0;
  uint64_t max_write_length = 0;
  uint64_t max_open_handles = 0;
  bool operator==(const Limits&) const = default;
};

// statvfs@openssh.com: the fields of statvfs(3), in its order.
struct FileSystemStats {
  uint64_t block_size = 0;
  uint64_t fragment_size = 0;
  uint64_t blocks = 0;
  uint64_t free_blocks = 0;
  uint64_t available_blocks = 0;
  uint64_t files = 0;
  uint64_t free_files = 0;
  uint64_t available_files = 0;
  uint64_t file_system_id = 0;
  uint64_t mount_flags = 0;
  uint64_t max_name_length = 0;
  bool operator==(const FileSystemStats&) const = default;
};

Decoded<VersionReply> DecodeVersion(const PacketView& packet);
Decoded<StatusReply> DecodeStatus(const PacketView& packet);
Decoded<HandleReply> DecodeHandle(const PacketView& packet);
Decoded<DataReply> DecodeData(const PacketView& packet);
Decoded<NameReply> DecodeName(const PacketView& packet);
Decoded<AttrsReply> DecodeAttrs(const PacketView& packet);
Decoded<ExtendedReply> DecodeExtendedReply(const PacketView& packet);
Decoded<Limits> DecodeLimits(std::string_view extended_reply_data);
Decoded<FileSystemStats> DecodeStatvfs(std::string_view extended_reply_data);

// The request id every reply but VERSION begins with.
Decoded<uint32_t> ReplyId(const PacketView& packet);

OfferedExtensions ExtensionsOffered(const VersionReply& version);

// How much one READ asks for and one WRITE carries: as much as the server's limits allow, up
// to what our packet reader accepts, and 32 KiB (what every server takes) without limits.
struct TransferSizes {
  uint32_t read_length = 0;
  uint32_t write_length = 0;
  bool operator==(const TransferSizes&) const = default;
};
inline constexpr uint32_t kDefaultTransferLength = 32 * 1024;
TransferSizes ChooseTransferSizes(const std::optional<Limits>& limits,
                                  uint32_t our_max_packet_length = kDefaultMaxPacketLength);

}  // namespace tarnex::sftp
