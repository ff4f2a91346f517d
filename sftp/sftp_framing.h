// Cuts the byte stream from the server into packets, however the bytes arrive.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "sftp/sftp_protocol.h"
#include "sftp/sftp_wire.h"

namespace tarnex::sftp {

// One packet as it lies in the reader's buffer: its type and everything after the type byte.
struct PacketView {
  uint8_t type = 0;
  std::string_view body;
};

// Bytes in, whole packets out. The bytes may come in any pieces, down to one at a time; the
// caller may also read straight into the reader's buffer (Space, then Commit), so that a
// download's data is copied once, from the pipe into the buffer, and written to the file from
// the view the packet gives.
//
// A length over the limit, or a length of 0 (no room for the type), is a protocol error: it
// is refused as soon as the four length bytes are in, before anything is allocated for it,
// and the reader stays failed (the stream cannot be resynchronised).
class PacketReader {
 public:
  explicit PacketReader(uint32_t max_packet_length = kDefaultMaxPacketLength);

  // Copies bytes in.
  void Feed(std::string_view bytes);
  // Room for at least `at_least` bytes (more when there is) at the end of what is buffered,
  // to read into directly; Commit then says how many were written there.
  std::span<char> Space(size_t at_least);
  void Commit(size_t count);
  // Makes the buffer hold at least `bytes` (a reader fed in big pieces moves the unfinished
  // packet at its end to the front less often).
  void Reserve(size_t bytes);

  // The next whole packet, nothing while it is still incomplete, or the protocol error. The
  // view stays valid until the next call of Next, Feed or Space.
  Decoded<std::optional<PacketView>> Next();

  bool Failed() const { return failure_.has_value(); }
  size_t Buffered() const { return end_ - start_; }
  uint32_t MaxPacketLength() const { return max_packet_length_; }

 private:
  void MakeRoom(size_t at_least);

  uint32_t max_packet_length_;
  std::unique_ptr<char[]> buffer_;
  size_t capacity_ = 0;
  size_t start_ = 0;  // the first byte not yet handed out as a packet
  size_t end_ = 0;    // one past the last byte received
  std::optional<CodecError> failure_;
};

}  // namespace tarnex::sftp
