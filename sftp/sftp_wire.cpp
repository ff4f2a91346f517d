#include "sftp/sftp_wire.h"

#include "sftp/sftp_protocol.h"

namespace tarnex::sftp {

std::string_view PacketTypeName(uint8_t type) {
  switch (type) {
    case SSH_FXP_INIT:
      return "SSH_FXP_INIT";
    case SSH_FXP_VERSION:
      return "SSH_FXP_VERSION";
    case SSH_FXP_OPEN:
      return "SSH_FXP_OPEN";
    case SSH_FXP_CLOSE:
      return "SSH_FXP_CLOSE";
    case SSH_FXP_READ:
      return "SSH_FXP_READ";
    case SSH_FXP_WRITE:
      return "SSH_FXP_WRITE";
    case SSH_FXP_LSTAT:
      return "SSH_FXP_LSTAT";
    case SSH_FXP_FSTAT:
      return "SSH_FXP_FSTAT";
    case SSH_FXP_SETSTAT:
      return "SSH_FXP_SETSTAT";
    case SSH_FXP_FSETSTAT:
      return "SSH_FXP_FSETSTAT";
    case SSH_FXP_OPENDIR:
      return "SSH_FXP_OPENDIR";
    case SSH_FXP_READDIR:
      return "SSH_FXP_READDIR";
    case SSH_FXP_REMOVE:
      return "SSH_FXP_REMOVE";
    case SSH_FXP_MKDIR:
      return "SSH_FXP_MKDIR";
    case SSH_FXP_RMDIR:
      return "SSH_FXP_RMDIR";
    case SSH_FXP_REALPATH:
      return "SSH_FXP_REALPATH";
    case SSH_FXP_STAT:
      return "SSH_FXP_STAT";
    case SSH_FXP_RENAME:
      return "SSH_FXP_RENAME";
    case SSH_FXP_READLINK:
      return "SSH_FXP_READLINK";
    case SSH_FXP_SYMLINK:
      return "SSH_FXP_SYMLINK";
    case SSH_FXP_STATUS:
      return "SSH_FXP_STATUS";
    case SSH_FXP_HANDLE:
      return "SSH_FXP_HANDLE";
    case SSH_FXP_DATA:
      return "SSH_FXP_DATA";
    case SSH_FXP_NAME:
      return "SSH_FXP_NAME";
    case SSH_FXP_ATTRS:
      return "SSH_FXP_ATTRS";
    case SSH_FXP_EXTENDED:
      return "SSH_FXP_EXTENDED";
    case SSH_FXP_EXTENDED_REPLY:
      return "SSH_FXP_EXTENDED_REPLY";
    default:
      return "unknown";
  }
}

void StoreU32(char* at, uint32_t value) {
  for (int i = 3; i >= 0; --i, value >>= 8) at[i] = static_cast<char>(value & 0xff);
}

uint32_t LoadU32(const char* at) {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value = (value << 8) | static_cast<unsigned char>(at[i]);
  return value;
}

bool WireReader::Take(size_t count, std::string_view field, std::string_view& bytes) {
  if (failure_) return false;
  if (count > rest_.size()) {
    Fail(CodecFault::Truncated, field,
         "needs " + std::to_string(count) + " bytes, " + std::to_string(rest_.size()) + " left");
    return false;
  }
  bytes = rest_.substr(0, count);
  rest_.remove_prefix(count);
  return true;
}

bool WireReader::U8(uint8_t& value, std::string_view field) {
  std::string_view bytes;
  if (!Take(1, field, bytes)) return false;
  value = static_cast<uint8_t>(bytes[0]);
  return true;
}

bool WireReader::U32(uint32_t& value, std::string_view field) {
  std::string_view bytes;
  if (!Take(4, field, bytes)) return false;
  value = LoadU32(bytes.data());
  return true;
}

bool WireReader::U64(uint64_t& value, std::string_view field) {
  std::string_view bytes;
  if (!Take(8, field, bytes)) return false;
  value = (uint64_t{LoadU32(bytes.data())} << 32) | LoadU32(bytes.data() + 4);
  return true;
}

bool WireReader::String(std::string_view& value, std::string_view field) {
  uint32_t length = 0;
  return U32(length, field) && Take(length, field, value);
}

bool WireReader::String(std::string& value, std::string_view field) {
  std::string_view view;
  if (!String(view, field)) return false;
  value.assign(view);
  return true;
}

bool WireReader::Count(uint32_t& value, size_t min_item_size, std::string_view field) {
  if (!U32(value, field)) return false;
  if (value > rest_.size() / min_item_size) {
    Fail(CodecFault::TooLarge, field,
         std::to_string(value) + " items cannot fit in the " + std::to_string(rest_.size()) +
             " bytes left");
    return false;
  }
  return true;
}

void WireReader::Fail(CodecFault fault, std::string_view field, std::string_view reason) {
  if (failure_) return;
  failure_ = CodecError{
      fault, std::string(message_) + ": " + std::string(field) + ": " + std::string(reason)};
}

CodecError WireReader::Failure() const {
  return failure_ ? *failure_
                  : CodecError{CodecFault::Malformed, std::string(message_) + ": no fault"};
}

PacketBuilder::PacketBuilder(uint8_t type) : bytes_(kLengthFieldSize, '\0') {
  U8(type);
}

PacketBuilder& PacketBuilder::U8(uint8_t value) {
  bytes_.push_back(static_cast<char>(value));
  return *this;
}

PacketBuilder& PacketBuilder::U32(uint32_t value) {
  char field[4];
  StoreU32(field, value);
  bytes_.append(field, sizeof field);
  return *this;
}

PacketBuilder& PacketBuilder::U64(uint64_t value) {
  U32(static_cast<uint32_t>(value >> 32));
  return U32(static_cast<uint32_t>(value));
}

PacketBuilder& PacketBuilder::String(std::string_view value) {
  U32(static_cast<uint32_t>(value.size()));
  return Raw(value);
}

PacketBuilder& PacketBuilder::Raw(std::string_view bytes) {
  bytes_.append(bytes);
  return *this;
}

std::string PacketBuilder::Finish(uint32_t bytes_to_follow) {
  StoreU32(bytes_.data(),
           static_cast<uint32_t>(bytes_.size() - kLengthFieldSize) + bytes_to_follow);
  return std::move(bytes_);
}

}  // namespace tarnex::sftp
