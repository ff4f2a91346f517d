#include "sftp/sftp_replies.h"

#include <algorithm>

#include "sftp/sftp_protocol.h"

namespace tarnex::sftp {
namespace {

// A NAME entry is two strings and an attribute flags word: twelve bytes at least.
constexpr size_t kMinNameEntrySize = 12;

// What a DATA reply and a WRITE request carry besides the data, in the packet length:
// type, id, the data's length; a WRITE also the handle (at its longest) and the offset.
constexpr uint32_t kDataReplyOverhead = 1 + 4 + 4;
constexpr uint32_t kWriteRequestOverhead = 1 + 4 + 4 + kMaxHandleLength + 8 + 4;

// A reader over the packet's body when its type is the expected one.
std::optional<CodecError> WrongType(const PacketView& packet, uint8_t expected) {
  if (packet.type == expected) return std::nullopt;
  return CodecError{CodecFault::UnexpectedReply, std::string(PacketTypeName(expected)) +
                                                     " expected, got " +
                                                     std::string(PacketTypeName(packet.type)) +
                                                     " (type " + std::to_string(packet.type) + ")"};
}

}  // namespace

Decoded<VersionReply> DecodeVersion(const PacketView& packet) {
  if (auto wrong = WrongType(packet, SSH_FXP_VERSION)) return *wrong;
  WireReader in(packet.body, "SSH_FXP_VERSION");
  VersionReply reply;
  if (!in.U32(reply.version, "version")) return in.Failure();
  // Extension pairs fill the rest of the packet.
  while (!in.AtEnd()) {
    Extension& extension = reply.extensions.emplace_back();
    if (!in.String(extension.name, "extension name") ||
        !in.String(extension.data, "extension data")) {
      return in.Failure();
    }
  }
  return reply;
}

Decoded<StatusReply> DecodeStatus(const PacketView& packet) {
  if (auto wrong = WrongType(packet, SSH_FXP_STATUS)) return *wrong;
  WireReader in(packet.body, "SSH_FXP_STATUS");
  StatusReply reply;
  if (!in.U32(reply.id, "id") || !in.U32(reply.code, "status code")) return in.Failure();
  // Old servers end the packet after the code, or after the message.
  if (!in.AtEnd() && !in.String(reply.message, "message")) return in.Failure();
  if (!in.AtEnd() && !in.String(reply.language, "language tag")) return in.Failure();
  return reply;
}

Decoded<HandleReply> DecodeHandle(const PacketView& packet) {
  if (auto wrong = WrongType(packet, SSH_FXP_HANDLE)) return *wrong;
  WireReader in(packet.body, "SSH_FXP_HANDLE");
  HandleReply reply;
  if (!in.U32(reply.id, "id") || !in.String(reply.handle, "handle")) return in.Failure();
  if (reply.handle.size() > kMaxHandleLength) {
    in.Fail(CodecFault::TooLarge, "handle",
            std::to_string(reply.handle.size()) + " bytes, more than " +
                std::to_string(kMaxHandleLength));
    return in.Failure();
  }
  return reply;
}

Decoded<DataReply> DecodeData(const PacketView& packet) {
  if (auto wrong = WrongType(packet, SSH_FXP_DATA)) return *wrong;
  WireReader in(packet.body, "SSH_FXP_DATA");
  DataReply reply;
  if (!in.U32(reply.id, "id") || !in.String(reply.data, "data")) return in.Failure();
  return reply;
}

Decoded<NameReply> DecodeName(const PacketView& packet) {
  if (auto wrong = WrongType(packet, SSH_FXP_NAME)) return *wrong;
  WireReader in(packet.body, "SSH_FXP_NAME");
  NameReply reply;
  uint32_t count = 0;
  if (!in.U32(reply.id, "id") || !in.Count(count, kMinNameEntrySize, "count")) {
    return in.Failure();
  }
  reply.entries.resize(count);
  for (NameEntry& entry : reply.entries) {
    if (!in.String(entry.filename, "filename") || !in.String(entry.longname, "longname") ||
        !ReadAttributes(in, entry.attributes)) {
      return in.Failure();
    }
  }
  return reply;
}

Decoded<AttrsReply> DecodeAttrs(const PacketView& packet) {
  if (auto wrong = WrongType(packet, SSH_FXP_ATTRS)) return *wrong;
  WireReader in(packet.body, "SSH_FXP_ATTRS");
  AttrsReply reply;
  if (!in.U32(reply.id, "id") || !ReadAttributes(in, reply.attributes)) return in.Failure();
  return reply;
}

Decoded<ExtendedReply> DecodeExtendedReply(const PacketView& packet) {
  if (auto wrong = WrongType(packet, SSH_FXP_EXTENDED_REPLY)) return *wrong;
  WireReader in(packet.body, "SSH_FXP_EXTENDED_REPLY");
  ExtendedReply reply;
  if (!in.U32(reply.id, "id")) return in.Failure();
  reply.data = packet.body.substr(4);
  return reply;
}

Decoded<Limits> DecodeLimits(std::string_view extended_reply_data) {
  WireReader in(extended_reply_data, kLimitsExtension);
  Limits limits;
  if (!in.U64(limits.max_packet_length, "max-packet-length") ||
      !in.U64(limits.max_read_length, "max-read-length") ||
      !in.U64(limits.max_write_length, "max-write-length") ||
      !in.U64(limits.max_open_handles, "max-open-handles")) {
    return in.Failure();
  }
  return limits;
}

Decoded<FileSystemStats> DecodeStatvfs(std::string_view extended_reply_data) {
  WireReader in(extended_reply_data, kStatvfsExtension);
  FileSystemStats stats;
  const std::pair<uint64_t*, const char*> fields[] = {
      {&stats.block_size, "f_bsize"},        {&stats.fragment_size, "f_frsize"},
      {&stats.blocks, "f_blocks"},           {&stats.free_blocks, "f_bfree"},
      {&stats.available_blocks, "f_bavail"}, {&stats.files, "f_files"},
      {&stats.free_files, "f_ffree"},        {&stats.available_files, "f_favail"},
      {&stats.file_system_id, "f_fsid"},     {&stats.mount_flags, "f_flag"},
      {&stats.max_name_length, "f_namemax"},
  };
  for (const auto& [field, name] : fields) {
    if (!in.U64(*field, name)) return in.Failure();
  }
  return stats;
}

Decoded<uint32_t> ReplyId(const PacketView& packet) {
  WireReader in(packet.body, PacketTypeName(packet.type));
  uint32_t id = 0;
  if (packet.type == SSH_FXP_VERSION) {
    in.Fail(CodecFault::UnexpectedReply, "id", "a version packet answers no request");
  } else {
    in.U32(id, "id");
  }
  if (in.Failed()) return in.Failure();
  return id;
}

OfferedExtensions ExtensionsOffered(const VersionReply& version) {
  OfferedExtensions offered;
  // Another version of an extension may have other fields: only those we speak count.
  for (const Extension& extension : version.extensions) {
    if (extension.name == kLimitsExtension && extension.data == "1") offered.limits = true;
    if (extension.name == kPosixRenameExtension && extension.data == "1") {
      offered.posix_rename = true;
    }
    if (extension.name == kFsyncExtension && extension.data == "1") offered.fsync = true;
    if (extension.name == kStatvfsExtension && extension.data == "2") offered.statvfs = true;
  }
  return offered;
}

TransferSizes ChooseTransferSizes(const std::optional<Limits>& limits,
                                  uint32_t our_max_packet_length) {
  if (!limits) return {kDefaultTransferLength, kDefaultTransferLength};
  // A field of 0 states no limit; a packet limit too small for any data is no use either.
  auto stated = [](uint64_t limit, uint64_t overhead) {
    return limit > overhead ? limit - overhead : uint64_t{UINT32_MAX};
  };
  const uint64_t ours = our_max_packet_length > kDataReplyOverhead
                            ? our_max_packet_length - kDataReplyOverhead
                            : kDefaultTransferLength;
  uint64_t read = std::min({ours, stated(limits->max_read_length, 0),
                            stated(limits->max_packet_length, kDataReplyOverhead)});
  uint64_t write = std::min({ours, stated(limits->max_write_length, 0),
                             stated(limits->max_packet_length, kWriteRequestOverhead)});
  return {static_cast<uint32_t>(read), static_cast<uint32_t>(write)};
}

}  // namespace tarnex::sftp
