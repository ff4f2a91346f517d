// The client's packets, whole and ready to be written to the server.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "sftp/sftp_attributes.h"
#include "sftp/sftp_protocol.h"

namespace tarnex::sftp {

std::string EncodeInit(uint32_t version = kProtocolVersion);

// pflags: SSH_FXF_READ, WRITE, APPEND, CREAT, TRUNC, EXCL.
std::string EncodeOpen(uint32_t id, std::string_view path, uint32_t pflags,
                       const FileAttributes& attributes = {});
std::string EncodeClose(uint32_t id, std::string_view handle);
std::string EncodeRead(uint32_t id, std::string_view handle, uint64_t offset, uint32_t length);

// A WRITE without its data: the length it announces counts `data_length` more bytes, which the
// caller sends right after it (from its own buffer, or the file's pages), so the data is not
// copied into a packet of its own.
std::string EncodeWriteHeader(uint32_t id, std::string_view handle, uint64_t offset,
                              uint32_t data_length);
// The header and the data in one, for callers that have both at hand anyway.
std::string EncodeWrite(uint32_t id, std::string_view handle, uint64_t offset,
                        std::string_view data);

std::string EncodeLstat(uint32_t id, std::string_view path);
std::string EncodeFstat(uint32_t id, std::string_view handle);
std::string EncodeStat(uint32_t id, std::string_view path);
std::string EncodeSetstat(uint32_t id, std::string_view path, const FileAttributes& attributes);
std::string EncodeFsetstat(uint32_t id, std::string_view handle, const FileAttributes& attributes);
std::string EncodeOpendir(uint32_t id, std::string_view path);
std::string EncodeReaddir(uint32_t id, std::string_view handle);
std::string EncodeRemove(uint32_t id, std::string_view path);
std::string EncodeMkdir(uint32_t id, std::string_view path, const FileAttributes& attributes = {});
std::string EncodeRmdir(uint32_t id, std::string_view path);
std::string EncodeRealpath(uint32_t id, std::string_view path);
std::string EncodeRename(uint32_t id, std::string_view from, std::string_view to);
std::string EncodeReadlink(uint32_t id, std::string_view path);
// A link at `link_path` that points to `target`. The two travel in the order OpenSSH's
// server reads them, the target first (servers that follow the protocol's text to the letter
// read them the other way round).
std::string EncodeSymlink(uint32_t id, std::string_view link_path, std::string_view target);

// An extended request: its name, then fields of its own.
std::string EncodeExtended(uint32_t id, std::string_view name, std::string_view fields = {});
// The OpenSSH extensions; use each only when the server's VERSION offers it.
std::string EncodeLimits(uint32_t id);
std::string EncodePosixRename(uint32_t id, std::string_view from, std::string_view to);
std::string EncodeFsync(uint32_t id, std::string_view handle);
std::string EncodeStatvfs(uint32_t id, std::string_view path);

}  // namespace tarnex::sftp
