#include "sftp/sftp_request_table.h"

#include <string>

#include "sftp/sftp_protocol.h"

namespace tarnex::sftp {

bool MayAnswer(RequestKind kind, uint8_t reply_type) {
  if (reply_type == SSH_FXP_STATUS) return true;
  switch (kind) {
    case RequestKind::Open:
    case RequestKind::Opendir:
      return reply_type == SSH_FXP_HANDLE;
    case RequestKind::Read:
      return reply_type == SSH_FXP_DATA;
    case RequestKind::Readdir:
    case RequestKind::Realpath:
    case RequestKind::Readlink:
      return reply_type == SSH_FXP_NAME;
    case RequestKind::Lstat:
    case RequestKind::Fstat:
    case RequestKind::Stat:
      return reply_type == SSH_FXP_ATTRS;
    case RequestKind::Limits:
    case RequestKind::Statvfs:
      return reply_type == SSH_FXP_EXTENDED_REPLY;
    case RequestKind::Close:
    case RequestKind::Write:
    case RequestKind::Setstat:
    case RequestKind::Fsetstat:
    case RequestKind::Remove:
    case RequestKind::Mkdir:
    case RequestKind::Rmdir:
    case RequestKind::Rename:
    case RequestKind::Symlink:
    case RequestKind::PosixRename:
    case RequestKind::Fsync:
      return false;
  }
  return false;
}

RequestTable::RequestTable(size_t max_in_flight, uint32_t first_id)
    : max_in_flight_(max_in_flight > 0 ? max_in_flight : 1), next_id_(first_id) {}

std::optional<uint32_t> RequestTable::Begin(RequestKind kind) {
  if (Full()) return std::nullopt;
  // Fewer ids are pending than there are ids, so this ends; after a wrap it skips the ids of
  // requests still waiting (or given up on) for their replies.
  while (pending_.contains(next_id_)) ++next_id_;
  const uint32_t id = next_id_++;
  pending_.emplace(id, Pending{kind});
  return id;
}

Decoded<MatchedReply> RequestTable::Match(uint32_t id, uint8_t reply_type) {
  const auto found = pending_.find(id);
  if (found == pending_.end()) {
    return CodecError{CodecFault::UnexpectedReply, std::string(PacketTypeName(reply_type)) +
                                                       " with id " + std::to_string(id) +
                                                       ", which no request is waiting for"};
  }
  const Pending request = found->second;
  if (!MayAnswer(request.kind, reply_type)) {
    return CodecError{CodecFault::UnexpectedReply, std::string(PacketTypeName(reply_type)) +
                                                       " with id " + std::to_string(id) +
                                                       " cannot answer its request"};
  }
  pending_.erase(found);
  if (request.abandoned) --abandoned_;
  return MatchedReply{request.kind, request.abandoned};
}

bool RequestTable::Abandon(uint32_t id) {
  const auto found = pending_.find(id);
  if (found == pending_.end()) return false;
  if (!found->second.abandoned) {
    found->second.abandoned = true;
    ++abandoned_;
  }
  return true;
}

}  // namespace tarnex::sftp
