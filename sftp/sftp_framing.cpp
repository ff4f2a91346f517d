#include "sftp/sftp_framing.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace tarnex::sftp {
namespace {

// What a read into the buffer gets at the least, so that small packets do not cost a system
// call each.
constexpr size_t kMinimumReadSpace = 64 * 1024;

}  // namespace

PacketReader::PacketReader(uint32_t max_packet_length) : max_packet_length_(max_packet_length) {}

void PacketReader::MakeRoom(size_t at_least) {
  if (capacity_ - end_ >= at_least) return;
  // Only the unfinished packet at the end is kept; what was handed out is gone.
  const size_t kept = end_ - start_;
  if (capacity_ - kept >= at_least) {
    std::memmove(buffer_.get(), buffer_.get() + start_, kept);
  } else {
    const size_t capacity = std::max(kept + at_least, capacity_ * 2);
    auto larger = std::make_unique_for_overwrite<char[]>(capacity);
    if (kept > 0) std::memcpy(larger.get(), buffer_.get() + start_, kept);
    buffer_ = std::move(larger);
    capacity_ = capacity;
  }
  start_ = 0;
  end_ = kept;
}

void PacketReader::Reserve(size_t bytes) {
  if (capacity_ >= bytes) return;
  MakeRoom(bytes - (end_ - start_));
}

void PacketReader::Feed(std::string_view bytes) {
  if (failure_ || bytes.empty()) return;
  MakeRoom(bytes.size());
  std::memcpy(buffer_.get() + end_, bytes.data(), bytes.size());
  end_ += bytes.size();
}

std::span<char> PacketReader::Space(size_t at_least) {
  // A packet already announced gets room for all of itself at once.
  size_t wanted = std::max(at_least, kMinimumReadSpace);
  if (!failure_ && end_ - start_ >= kLengthFieldSize) {
    const size_t whole = kLengthFieldSize + LoadU32(buffer_.get() + start_);
    if (whole <= kLengthFieldSize + size_t{max_packet_length_} && whole > end_ - start_) {
      wanted = std::max(wanted, whole - (end_ - start_));
    }
  }
  MakeRoom(wanted);
  return {buffer_.get() + end_, capacity_ - end_};
}

void PacketReader::Commit(size_t count) {
  end_ += std::min(count, capacity_ - end_);
}

Decoded<std::optional<PacketView>> PacketReader::Next() {
  if (failure_) return *failure_;
  const size_t buffered = end_ - start_;
  if (buffered < kLengthFieldSize) return std::optional<PacketView>();
  const uint32_t length = LoadU32(buffer_.get() + start_);
  if (length == 0 || length > max_packet_length_) {
    failure_ = CodecError{
        length == 0 ? CodecFault::Malformed : CodecFault::TooLarge,
        "packet length " + std::to_string(length) +
            (length == 0 ? " leaves no room for its type"
                         : " is over the limit of " + std::to_string(max_packet_length_))};
    return *failure_;
  }
  if (buffered - kLengthFieldSize < length) return std::optional<PacketView>();
  const char* packet = buffer_.get() + start_ + kLengthFieldSize;
  start_ += kLengthFieldSize + length;
  if (start_ == end_) start_ = end_ = 0;  // the buffer is empty: the next read starts at its front
  return std::optional<PacketView>(
      PacketView{static_cast<uint8_t>(packet[0]), std::string_view(packet + 1, length - 1)});
}

}  // namespace tarnex::sftp
