// The requests in flight, by id: which reply each may get, and which were given up on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <unordered_map>

#include "sftp/sftp_wire.h"

namespace tarnex::sftp {

// What a request asks, as far as its reply goes.
enum class RequestKind : uint8_t {
  Open,
  Close,
  Read,
  Write,
  Lstat,
  Fstat,
  Setstat,
  Fsetstat,
  Opendir,
  Readdir,
  Remove,
  Mkdir,
  Rmdir,
  Realpath,
  Stat,
  Rename,
  Readlink,
  Symlink,
  Limits,
  PosixRename,
  Fsync,
  Statvfs,
};

// True when a request of this kind may be answered with a packet of this type: every request
// with a STATUS, and some with their own reply (OPEN with a HANDLE, READ with DATA, ...).
bool MayAnswer(RequestKind kind, uint8_t reply_type);

// A reply matched to its request.
struct MatchedReply {
  RequestKind kind;
  // The request was given up on: its reply comes late and must be dropped, not taken for the
  // answer to anything else.
  bool late = false;
};

// Hands out request ids and matches each reply to the one request that is waiting for it.
// An id is never handed out again while its request is pending, given up on or not, so a late
// reply can never be taken for the answer to a newer request. Requests given up on still count
// as in flight: the server still owes their replies.
class RequestTable {
 public:
  // `first_id`: where the ids start (they go round past 2^32 - 1).
  explicit RequestTable(size_t max_in_flight = 64, uint32_t first_id = 0);

  // A fresh id for a request of `kind`; nothing while max_in_flight requests are pending.
  std::optional<uint32_t> Begin(RequestKind kind);
  // The request of the reply with this id and type, which is then no longer pending. A reply
  // with an id no request has, or of a type its request cannot get, is a protocol error (the
  // request then stays pending: its id is not handed out again).
  Decoded<MatchedReply> Match(uint32_t id, uint8_t reply_type);
  // Gives up on a request: its reply, when it comes, is dropped. False for an unknown id.
  bool Abandon(uint32_t id);

  size_t InFlight() const { return pending_.size(); }
  size_t Abandoned() const { return abandoned_; }
  bool Full() const { return pending_.size() >= max_in_flight_; }
  // How many more requests may begin now.
  size_t Room() const { return Full() ? 0 : max_in_flight_ - pending_.size(); }

 private:
  struct Pending {
    RequestKind kind;
    bool abandoned = false;
  };

  size_t max_in_flight_;
  uint32_t next_id_;
  size_t abandoned_ = 0;
  std::unordered_map<uint32_t, Pending> pending_;
};

}  // namespace tarnex::sftp
