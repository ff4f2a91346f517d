#include "sftp/sftp_framing.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/sftp/wire_bytes.h"

namespace tarnex::sftp {
namespace {

using testing::Packet;
using testing::S;
using testing::U32;

struct Seen {
  uint8_t type;
  std::string body;
  bool operator==(const Seen&) const = default;
};

// Every whole packet the reader has; a fault fails the test.
void Drain(PacketReader& reader, std::vector<Seen>& seen) {
  while (true) {
    auto next = reader.Next();
    ASSERT_TRUE(next) << next.error().message;
    if (!*next) return;
    seen.push_back({(*next)->type, std::string((*next)->body)});
  }
}

const std::string kStream = Packet(SSH_FXP_STATUS, U32(1) + U32(0)) +
                            Packet(SSH_FXP_DATA, U32(2) + S(std::string(300, 'd'))) +
                            Packet(SSH_FXP_HANDLE, U32(3) + S("H"));
const std::vector<Seen> kPackets = {{SSH_FXP_STATUS, U32(1) + U32(0)},
                                    {SSH_FXP_DATA, U32(2) + S(std::string(300, 'd'))},
                                    {SSH_FXP_HANDLE, U32(3) + S("H")}};

TEST(PacketReader, ThePacketsComeWholeHoweverTheBytesAreSplit) {
  for (size_t split = 0; split <= kStream.size(); ++split) {
    PacketReader reader;
    std::vector<Seen> seen;
    reader.Feed(std::string_view(kStream).substr(0, split));
    Drain(reader, seen);
    reader.Feed(std::string_view(kStream).substr(split));
    Drain(reader, seen);
    EXPECT_EQ(seen, kPackets) << "split at " << split;
    EXPECT_EQ(reader.Buffered(), 0u);
  }
  PacketReader reader;
  std::vector<Seen> seen;
  for (char byte : kStream) {
    reader.Feed(std::string_view(&byte, 1));
    Drain(reader, seen);
  }
  EXPECT_EQ(seen, kPackets) << "one byte at a time";
}

TEST(PacketReader, ReadsStraightIntoItsBufferAndHandsOutViewsOfIt) {
  PacketReader reader;
  std::vector<Seen> seen;
  size_t at = 0;
  for (size_t piece : {3, 200, 1, 10000}) {
    const std::span<char> space = reader.Space(1);
    const size_t count = std::min({piece, space.size(), kStream.size() - at});
    std::memcpy(space.data(), kStream.data() + at, count);
    reader.Commit(count);
    at += count;
    Drain(reader, seen);
  }
  EXPECT_EQ(seen, kPackets);

  // A packet is a view of the bytes where they were read to: no copy in between.
  PacketReader direct;
  const std::span<char> space = direct.Space(kStream.size());
  std::memcpy(space.data(), kStream.data(), kStream.size());
  direct.Commit(kStream.size());
  for (int packet = 0; packet < 3; ++packet) {
    const auto next = direct.Next();
    ASSERT_TRUE(next && *next);
    EXPECT_GE((*next)->body.data(), space.data());
    EXPECT_LE((*next)->body.data() + (*next)->body.size(), space.data() + kStream.size());
  }
  // An announced packet gets room for all of itself at once.
  PacketReader big;
  big.Feed(U32(200000));
  EXPECT_GE(big.Space(1).size(), 200000u);
}

TEST(PacketReader, ALengthOverTheLimitOrOfNothingIsAProtocolError) {
  struct Case {
    const char* what;
    uint32_t length;
    CodecFault fault;
  } cases[] = {
      {"one byte over the limit", 1001, CodecFault::TooLarge},
      {"4 GiB", 0xffffffff, CodecFault::TooLarge},
      {"no room for the type", 0, CodecFault::Malformed},
  };
  for (const auto& c : cases) {
    PacketReader reader(1000);
    reader.Feed(U32(c.length));  // refused on the length alone, before any body arrives
    auto next = reader.Next();
    ASSERT_FALSE(next) << c.what;
    EXPECT_EQ(next.error().fault, c.fault) << c.what;
    // The stream cannot be trusted after it: the reader stays failed.
    reader.Feed(Packet(SSH_FXP_STATUS, U32(1) + U32(0)));
    EXPECT_FALSE(reader.Next()) << c.what;
    EXPECT_LT(reader.Space(1).size(), size_t{1} << 20) << c.what;
  }
  PacketReader reader(1000);
  reader.Feed(Packet(SSH_FXP_DATA, std::string(999, 'x')));  // exactly the limit
  auto next = reader.Next();
  ASSERT_TRUE(next && *next);
  EXPECT_EQ((*next)->body.size(), 999u);
}

}  // namespace
}  // namespace tarnex::sftp
