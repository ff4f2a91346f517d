// The SFTP codec over an arbitrary stream from the server: the packet reader fed in pieces of
// every size (and through its own buffer), every decoder over every packet, the request table
// over the replies' ids, and the listing lines and outcomes of what decodes.
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_target.h"
#include "sftp/sftp_codec.h"

namespace {

using namespace tarnex::sftp;

constexpr uint32_t kFuzzMaxPacketLength = 2048;

struct Read {
  std::vector<std::pair<uint8_t, std::string>> packets;
  bool failed = false;
};

void Drain(PacketReader& reader, Read& read) {
  while (!read.failed) {
    auto next = reader.Next();
    if (!next) {
      read.failed = true;
      FUZZ_CHECK(reader.Failed());
      return;
    }
    if (!*next) return;
    FUZZ_CHECK((*next)->body.size() < kFuzzMaxPacketLength);
    read.packets.emplace_back((*next)->type, std::string((*next)->body));
  }
}

Read ReadAtOnce(std::string_view stream) {
  PacketReader reader(kFuzzMaxPacketLength);
  Read read;
  reader.Feed(stream);
  Drain(reader, read);
  return read;
}

// Feeds `stream` in pieces whose sizes the `sizes` bytes choose, through Feed or Space/Commit.
Read ReadInPieces(std::string_view stream, std::string_view sizes) {
  PacketReader reader(kFuzzMaxPacketLength);
  Read read;
  size_t turn = 0;
  while (!stream.empty()) {
    const uint8_t choice = sizes.empty() ? 0 : static_cast<uint8_t>(sizes[turn++ % sizes.size()]);
    const size_t piece = std::min<size_t>(stream.size(), 1 + choice % 64);
    if (choice & 0x80) {
      const std::span<char> space = reader.Space(1);
      FUZZ_CHECK(space.size() >= 1);
      const size_t count = std::min(piece, space.size());
      std::memcpy(space.data(), stream.data(), count);
      reader.Commit(count);
      stream.remove_prefix(count);
    } else {
      reader.Feed(stream.substr(0, piece));
      stream.remove_prefix(piece);
    }
    Drain(reader, read);
  }
  return read;
}

void CheckAttributesRoundTrip(const FileAttributes& attributes) {
  PacketBuilder packet(SSH_FXP_ATTRS);
  packet.U32(1);
  AppendAttributes(packet, attributes);
  const std::string bytes = packet.Finish();
  FUZZ_CHECK(LoadU32(bytes.data()) == bytes.size() - 4);
  const auto again = DecodeAttrs({SSH_FXP_ATTRS, std::string_view(bytes).substr(5)});
  FUZZ_CHECK(again && again->attributes == attributes);
}

void DecodeEveryWay(uint8_t type, const std::string& body, RequestTable& table) {
  constexpr int64_t kNow = 1'796'731'200;
  const PacketView as_sent{type, body};
  if (auto id = ReplyId(as_sent)) {
    // Whatever answers, an id is matched once at the most.
    if (auto matched = table.Match(*id, type)) FUZZ_CHECK(!table.Match(*id, type));
  }
  if (auto version = DecodeVersion({SSH_FXP_VERSION, body})) ExtensionsOffered(*version);
  if (auto status = DecodeStatus({SSH_FXP_STATUS, body})) {
    const Outcome outcome = OutcomeOfStatus(status->code, status->message, Action::EndTransfer);
    FUZZ_CHECK(outcome.line.starts_with(std::to_string(outcome.code) + " "));
    FUZZ_CHECK(outcome.line.find_first_of("\r\n") == std::string::npos);
  }
  if (auto handle = DecodeHandle({SSH_FXP_HANDLE, body})) {
    FUZZ_CHECK(handle->handle.size() <= kMaxHandleLength);
  }
  if (auto data = DecodeData({SSH_FXP_DATA, body})) {
    FUZZ_CHECK(data->data.data() >= body.data() &&
               data->data.data() + data->data.size() <= body.data() + body.size());
  }
  if (auto name = DecodeName({SSH_FXP_NAME, body})) {
    for (const NameEntry& entry : name->entries) {
      const std::string line = ListLineOf(entry, kNow);
      FUZZ_CHECK(line.ends_with(entry.filename) || LongnameIsUsable(entry));
      CheckAttributesRoundTrip(entry.attributes);
    }
  }
  if (auto attrs = DecodeAttrs({SSH_FXP_ATTRS, body})) CheckAttributesRoundTrip(attrs->attributes);
  if (auto extended = DecodeExtendedReply({SSH_FXP_EXTENDED_REPLY, body})) {
    if (auto limits = DecodeLimits(extended->data)) {
      const TransferSizes sizes = ChooseTransferSizes(*limits, kFuzzMaxPacketLength);
      FUZZ_CHECK(sizes.read_length >= 1 && sizes.read_length <= kFuzzMaxPacketLength);
      FUZZ_CHECK(sizes.write_length >= 1 && sizes.write_length <= kFuzzMaxPacketLength);
    }
    DecodeStatvfs(extended->data);
  }
}

}  // namespace

TARNEX_FUZZ_TARGET(sftp_packets) {
  const std::string_view input = tarnex::fuzz::AsText(data, size);
  // The first bytes choose the pieces; the rest is the stream.
  const size_t choices = input.empty() ? 0 : static_cast<uint8_t>(input[0]) % 16;
  const std::string_view sizes = input.substr(input.empty() ? 0 : 1, choices);
  const std::string_view stream = input.substr(std::min(input.size(), 1 + choices));

  const Read whole = ReadAtOnce(stream);
  const Read pieces = ReadInPieces(stream, sizes);
  FUZZ_CHECK(whole.packets == pieces.packets);
  FUZZ_CHECK(whole.failed == pieces.failed);

  // Requests of every kind in flight, some given up on; the replies' ids go against them.
  RequestTable table(8);
  for (int kind = 0; kind <= static_cast<int>(RequestKind::Statvfs) && !table.Full(); ++kind) {
    const auto id = table.Begin(static_cast<RequestKind>(kind));
    if (id && *id % 3 == 0) table.Abandon(*id);
  }
  for (const auto& [type, body] : whole.packets) DecodeEveryWay(type, body, table);
  FUZZ_CHECK(table.InFlight() <= 8);
}
