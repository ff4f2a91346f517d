// The wire format's building blocks: big-endian integers and length-prefixed strings, read
// from a buffer that is never read past, and written into a packet whose length is filled in
// at the end. Decoding never throws: a fault comes back as a value.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace tarnex::sftp {

enum class CodecFault {
  Truncated,        // a field runs past the end of its packet
  TooLarge,         // a length or count beyond what we accept or the packet can hold
  Malformed,        // a value the protocol does not allow here
  UnexpectedReply,  // a reply no request of ours is waiting for, or of a type it cannot get
};

struct CodecError {
  CodecFault fault;
  std::string message;
};

// A decoded value or the fault that stopped its decoding.
template <class T>
class Decoded {
 public:
  Decoded(T value) : state_(std::move(value)) {}           // NOLINT: implicit on purpose
  Decoded(CodecError error) : state_(std::move(error)) {}  // NOLINT
  explicit operator bool() const { return std::holds_alternative<T>(state_); }
  T& operator*() { return std::get<T>(state_); }
  const T& operator*() const { return std::get<T>(state_); }
  T* operator->() { return &std::get<T>(state_); }
  const T* operator->() const { return &std::get<T>(state_); }
  const CodecError& error() const { return std::get<CodecError>(state_); }

 private:
  std::variant<T, CodecError> state_;
};

// Reads the fields of one message in order. The first field that does not fit stops it: every
// later read fails too, and Failure() says which field of which message it was.
class WireReader {
 public:
  WireReader(std::string_view bytes, std::string_view message_name)
      : rest_(bytes), message_(message_name) {}

  bool U8(uint8_t& value, std::string_view field);
  bool U32(uint32_t& value, std::string_view field);
  bool U64(uint64_t& value, std::string_view field);
  // A view into the buffer: valid as long as the bytes given to the reader are.
  bool String(std::string_view& value, std::string_view field);
  bool String(std::string& value, std::string_view field);
  // A count of items of at least `min_item_size` bytes each: one the rest of the packet cannot
  // hold is refused before anything is reserved for it.
  bool Count(uint32_t& value, size_t min_item_size, std::string_view field);

  bool AtEnd() const { return rest_.empty(); }
  size_t Remaining() const { return rest_.size(); }
  bool Failed() const { return failure_.has_value(); }
  // Marks the message as faulty with a reason of the caller's (a value out of range).
  void Fail(CodecFault fault, std::string_view field, std::string_view reason);
  CodecError Failure() const;

 private:
  bool Take(size_t count, std::string_view field, std::string_view& bytes);

  std::string_view rest_;
  std::string_view message_;
  std::optional<CodecError> failure_;
};

// Builds one packet: the length is left open until Finish.
class PacketBuilder {
 public:
  explicit PacketBuilder(uint8_t type);

  PacketBuilder& U8(uint8_t value);
  PacketBuilder& U32(uint32_t value);
  PacketBuilder& U64(uint64_t value);
  PacketBuilder& String(std::string_view value);
  PacketBuilder& Raw(std::string_view bytes);

  // The packet with its length filled in. `bytes_to_follow` are sent right after it by the
  // caller (the data of a WRITE) and counted in the length, but not copied here.
  std::string Finish(uint32_t bytes_to_follow = 0);  // the builder is spent after it

 private:
  std::string bytes_;
};

// Big-endian integers into a buffer of at least their size.
void StoreU32(char* at, uint32_t value);
uint32_t LoadU32(const char* at);

}  // namespace tarnex::sftp
