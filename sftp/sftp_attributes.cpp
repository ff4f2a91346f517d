#include "sftp/sftp_attributes.h"

#include "sftp/sftp_protocol.h"

namespace tarnex::sftp {
namespace {

constexpr uint32_t kKnownFlags = SSH_FILEXFER_ATTR_SIZE | SSH_FILEXFER_ATTR_UIDGID |
                                 SSH_FILEXFER_ATTR_PERMISSIONS | SSH_FILEXFER_ATTR_ACMODTIME |
                                 SSH_FILEXFER_ATTR_EXTENDED;

// An extended attribute is two strings: eight bytes at least.
constexpr size_t kMinExtendedAttributeSize = 8;

}  // namespace

void AppendAttributes(PacketBuilder& packet, const FileAttributes& attributes) {
  uint32_t flags = 0;
  if (attributes.size) flags |= SSH_FILEXFER_ATTR_SIZE;
  if (attributes.owner) flags |= SSH_FILEXFER_ATTR_UIDGID;
  if (attributes.permissions) flags |= SSH_FILEXFER_ATTR_PERMISSIONS;
  if (attributes.times) flags |= SSH_FILEXFER_ATTR_ACMODTIME;
  if (!attributes.extended.empty()) flags |= SSH_FILEXFER_ATTR_EXTENDED;
  packet.U32(flags);
  if (attributes.size) packet.U64(*attributes.size);
  if (attributes.owner) packet.U32(attributes.owner->uid).U32(attributes.owner->gid);
  if (attributes.permissions) packet.U32(*attributes.permissions);
  if (attributes.times) packet.U32(attributes.times->atime).U32(attributes.times->mtime);
  if (!attributes.extended.empty()) {
    packet.U32(static_cast<uint32_t>(attributes.extended.size()));
    for (const ExtendedAttribute& pair : attributes.extended) {
      packet.String(pair.type).String(pair.data);
    }
  }
}

bool ReadAttributes(WireReader& in, FileAttributes& attributes) {
  attributes = {};
  uint32_t flags = 0;
  if (!in.U32(flags, "attribute flags")) return false;
  if ((flags & ~kKnownFlags) != 0) {
    in.Fail(CodecFault::Malformed, "attribute flags",
            "unknown flags " + std::to_string(flags & ~kKnownFlags));
    return false;
  }
  if (flags & SSH_FILEXFER_ATTR_SIZE) {
    uint64_t size = 0;
    if (!in.U64(size, "size")) return false;
    attributes.size = size;
  }
  if (flags & SSH_FILEXFER_ATTR_UIDGID) {
    OwnerIds owner;
    if (!in.U32(owner.uid, "uid") || !in.U32(owner.gid, "gid")) return false;
    attributes.owner = owner;
  }
  if (flags & SSH_FILEXFER_ATTR_PERMISSIONS) {
    uint32_t permissions = 0;
    if (!in.U32(permissions, "permissions")) return false;
    attributes.permissions = permissions;
  }
  if (flags & SSH_FILEXFER_ATTR_ACMODTIME) {
    FileTimes times;
    if (!in.U32(times.atime, "atime") || !in.U32(times.mtime, "mtime")) return false;
    attributes.times = times;
  }
  if (flags & SSH_FILEXFER_ATTR_EXTENDED) {
    uint32_t count = 0;
    if (!in.Count(count, kMinExtendedAttributeSize, "extended attribute count")) return false;
    attributes.extended.resize(count);
    for (ExtendedAttribute& pair : attributes.extended) {
      if (!in.String(pair.type, "extended attribute type") ||
          !in.String(pair.data, "extended attribute data")) {
        return false;
      }
    }
  }
  return true;
}

}  // namespace tarnex::sftp
