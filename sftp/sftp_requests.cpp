#include "sftp/sftp_requests.h"

#include "sftp/sftp_protocol.h"

namespace tarnex::sftp {
namespace {

// The many requests that are an id and one string.
std::string IdAndString(uint8_t type, uint32_t id, std::string_view text) {
  return PacketBuilder(type).U32(id).String(text).Finish();
}

std::string IdStringAndAttributes(uint8_t type, uint32_t id, std::string_view text,
                                  const FileAttributes& attributes) {
  PacketBuilder packet(type);
  packet.U32(id).String(text);
  AppendAttributes(packet, attributes);
  return packet.Finish();
}

PacketBuilder ExtendedPacket(uint32_t id, std::string_view name) {
  PacketBuilder packet(SSH_FXP_EXTENDED);
  packet.U32(id).String(name);
  return packet;
}

}  // namespace

std::string EncodeInit(uint32_t version) {
  return PacketBuilder(SSH_FXP_INIT).U32(version).Finish();
}

std::string EncodeOpen(uint32_t id, std::string_view path, uint32_t pflags,
                       const FileAttributes& attributes) {
  PacketBuilder packet(SSH_FXP_OPEN);
  packet.U32(id).String(path).U32(pflags);
  AppendAttributes(packet, attributes);
  return packet.Finish();
}

std::string EncodeClose(uint32_t id, std::string_view handle) {
  return IdAndString(SSH_FXP_CLOSE, id, handle);
}

std::string EncodeRead(uint32_t id, std::string_view handle, uint64_t offset, uint32_t length) {
  return PacketBuilder(SSH_FXP_READ).U32(id).String(handle).U64(offset).U32(length).Finish();
}

std::string EncodeWriteHeader(uint32_t id, std::string_view handle, uint64_t offset,
                              uint32_t data_length) {
  return PacketBuilder(SSH_FXP_WRITE)
      .U32(id)
      .String(handle)
      .U64(offset)
      .U32(data_length)
      .Finish(data_length);
}

std::string EncodeWrite(uint32_t id, std::string_view handle, uint64_t offset,
                        std::string_view data) {
  std::string packet = EncodeWriteHeader(id, handle, offset, static_cast<uint32_t>(data.size()));
  packet.append(data);
  return packet;
}

std::string EncodeLstat(uint32_t id, std::string_view path) {
  return IdAndString(SSH_FXP_LSTAT, id, path);
}

std::string EncodeFstat(uint32_t id, std::string_view handle) {
  return IdAndString(SSH_FXP_FSTAT, id, handle);
}

std::string EncodeStat(uint32_t id, std::string_view path) {
  return IdAndString(SSH_FXP_STAT, id, path);
}

std::string EncodeSetstat(uint32_t id, std::string_view path, const FileAttributes& attributes) {
  return IdStringAndAttributes(SSH_FXP_SETSTAT, id, path, attributes);
}

std::string EncodeFsetstat(uint32_t id, std::string_view handle, const FileAttributes& attributes) {
  return IdStringAndAttributes(SSH_FXP_FSETSTAT, id, handle, attributes);
}

std::string EncodeOpendir(uint32_t id, std::string_view path) {
  return IdAndString(SSH_FXP_OPENDIR, id, path);
}

std::string EncodeReaddir(uint32_t id, std::string_view handle) {
  return IdAndString(SSH_FXP_READDIR, id, handle);
}

std::string EncodeRemove(uint32_t id, std::string_view path) {
  return IdAndString(SSH_FXP_REMOVE, id, path);
}

std::string EncodeMkdir(uint32_t id, std::string_view path, const FileAttributes& attributes) {
  return IdStringAndAttributes(SSH_FXP_MKDIR, id, path, attributes);
}

std::string EncodeRmdir(uint32_t id, std::string_view path) {
  return IdAndString(SSH_FXP_RMDIR, id, path);
}

std::string EncodeRealpath(uint32_t id, std::string_view path) {
  return IdAndString(SSH_FXP_REALPATH, id, path);
}

std::string EncodeRename(uint32_t id, std::string_view from, std::string_view to) {
  return PacketBuilder(SSH_FXP_RENAME).U32(id).String(from).String(to).Finish();
}

std::string EncodeReadlink(uint32_t id, std::string_view path) {
  return IdAndString(SSH_FXP_READLINK, id, path);
}

std::string EncodeSymlink(uint32_t id, std::string_view link_path, std::string_view target) {
  return PacketBuilder(SSH_FXP_SYMLINK).U32(id).String(target).String(link_path).Finish();
}

std::string EncodeExtended(uint32_t id, std::string_view name, std::string_view fields) {
  return ExtendedPacket(id, name).Raw(fields).Finish();
}

std::string EncodeLimits(uint32_t id) {
  return ExtendedPacket(id, kLimitsExtension).Finish();
}

std::string EncodePosixRename(uint32_t id, std::string_view from, std::string_view to) {
  return ExtendedPacket(id, kPosixRenameExtension).String(from).String(to).Finish();
}

std::string EncodeFsync(uint32_t id, std::string_view handle) {
  return ExtendedPacket(id, kFsyncExtension).String(handle).Finish();
}

std::string EncodeStatvfs(uint32_t id, std::string_view path) {
  return ExtendedPacket(id, kStatvfsExtension).String(path).Finish();
}

}  // namespace tarnex::sftp
