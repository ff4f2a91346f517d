#include "sftp/sftp_replies.h"

#include <gtest/gtest.h>

#include <set>

#include "sftp/sftp_protocol.h"
#include "tests/sftp/wire_bytes.h"

namespace tarnex::sftp {
namespace {

using testing::Hex;
using testing::S;
using testing::U32;

template <class T>
std::optional<CodecError> FaultOf(const Decoded<T>& decoded) {
  if (decoded) return std::nullopt;
  return decoded.error();
}

// The decoder of the packet's own type.
std::optional<CodecError> DecodeFault(const PacketView& packet) {
  switch (packet.type) {
    case SSH_FXP_VERSION:
      return FaultOf(DecodeVersion(packet));
    case SSH_FXP_STATUS:
      return FaultOf(DecodeStatus(packet));
    case SSH_FXP_HANDLE:
      return FaultOf(DecodeHandle(packet));
    case SSH_FXP_DATA:
      return FaultOf(DecodeData(packet));
    case SSH_FXP_NAME:
      return FaultOf(DecodeName(packet));
    case SSH_FXP_ATTRS:
      return FaultOf(DecodeAttrs(packet));
    default:
      return FaultOf(DecodeExtendedReply(packet));
  }
}

const std::string kAllAttributes = Hex("8000000f 0000000000001000 000003e8 00000064 000081a4") +
                                   U32(1700000000) + U32(1700000001) + U32(1) + S("t") + S("d");
const std::string kLimitsData =
    Hex("0000000000040000 000000000003fc00 000000000003fc00 00000000000000ff");

TEST(SftpReplies, GoodRepliesDecodeAndEveryShorterCutFailsCleanly) {
  const std::string pair1 = S("limits@openssh.com") + S("1");
  const std::string message = S("No such file");
  struct Case {
    uint8_t type;
    std::string body;
    std::set<size_t> complete_cuts;  // shorter cuts that are whole packets of their own
  } cases[] = {
      {SSH_FXP_VERSION, U32(3) + pair1 + S("fsync@openssh.com") + S("1"), {4, 4 + pair1.size()}},
      // Old servers send no message, or no language tag.
      {SSH_FXP_STATUS, U32(9) + U32(2) + message + S("en"), {8, 8 + message.size()}},
      {SSH_FXP_HANDLE, U32(9) + S("H1"), {}},
      {SSH_FXP_DATA, U32(9) + S("hello"), {}},
      {SSH_FXP_NAME,
       U32(9) + U32(2) + S("a") + S("-rw-r--r-- 1 u g 4096 Dec  8 12:00 a") + kAllAttributes +
           S("b") + S("") + U32(0),
       {}},
      {SSH_FXP_ATTRS, U32(9) + kAllAttributes, {}},
      {SSH_FXP_EXTENDED_REPLY, U32(9) + kLimitsData, {}},
  };
  for (const auto& c : cases) {
    const auto fault = DecodeFault({c.type, c.body});
    EXPECT_FALSE(fault) << PacketTypeName(c.type) << ": " << fault->message;
    for (size_t cut = 0; cut < c.body.size(); ++cut) {
      // Copied, so that the address sanitizer sees a read past the cut.
      const std::string shorter = c.body.substr(0, cut);
      const bool whole =
          c.complete_cuts.contains(cut) || (c.type == SSH_FXP_EXTENDED_REPLY && cut >= 4);
      EXPECT_EQ(DecodeFault({c.type, shorter}).has_value(), !whole)
          << PacketTypeName(c.type) << " cut at " << cut;
    }
  }
}

TEST(SftpReplies, FieldsComeOutAsSent) {
  const auto version =
      DecodeVersion({SSH_FXP_VERSION, U32(3) + S("limits@openssh.com") + S("1") + S("x") + S("")});
  ASSERT_TRUE(version);
  EXPECT_EQ(version->version, 3u);
  EXPECT_EQ(version->extensions, (std::vector<Extension>{{"limits@openssh.com", "1"}, {"x", ""}}));

  const auto status = DecodeStatus({SSH_FXP_STATUS, U32(5) + U32(3) + S("Permission denied")});
  ASSERT_TRUE(status);
  EXPECT_EQ(status->id, 5u);
  EXPECT_EQ(status->code, uint32_t{SSH_FX_PERMISSION_DENIED});
  EXPECT_EQ(status->message, "Permission denied");
  EXPECT_EQ(status->language, "");

  const std::string data_body = U32(6) + S("hello") + "ignored";
  const auto data = DecodeData({SSH_FXP_DATA, data_body});
  ASSERT_TRUE(data);
  EXPECT_EQ(data->data, "hello");
  EXPECT_EQ(data->data.data(), data_body.data() + 8) << "a view into the packet, not a copy";

  const auto name =
      DecodeName({SSH_FXP_NAME, U32(7) + U32(1) + S("a b") + S("long") + kAllAttributes});
  ASSERT_TRUE(name);
  ASSERT_EQ(name->entries.size(), 1u);
  EXPECT_EQ(name->entries[0].filename, "a b");
  EXPECT_EQ(name->entries[0].longname, "long");
  const FileAttributes& a = name->entries[0].attributes;
  EXPECT_EQ(a.size, 4096u);
  EXPECT_EQ(a.owner, (OwnerIds{1000, 100}));
  EXPECT_EQ(a.permissions, 0100644u);
  EXPECT_EQ(a.times, (FileTimes{1700000000, 1700000001}));
  EXPECT_EQ(a.extended, (std::vector<ExtendedAttribute>{{"t", "d"}}));

  // Attributes come back as they were written.
  PacketBuilder packet(SSH_FXP_ATTRS);
  packet.U32(8);
  AppendAttributes(packet, a);
  const std::string whole = packet.Finish();
  const auto attrs = DecodeAttrs({SSH_FXP_ATTRS, std::string_view(whole).substr(5)});
  ASSERT_TRUE(attrs);
  EXPECT_EQ(attrs->attributes, a);

  const auto limits = DecodeLimits(kLimitsData);
  ASSERT_TRUE(limits);
  EXPECT_EQ(*limits, (Limits{0x40000, 0x3fc00, 0x3fc00, 0xff}));
  std::string statvfs_data;
  for (uint32_t field = 1; field <= 11; ++field) statvfs_data += U32(0) + U32(field);
  const auto stats = DecodeStatvfs(statvfs_data);
  ASSERT_TRUE(stats);
  EXPECT_EQ(stats->block_size, 1u);
  EXPECT_EQ(stats->max_name_length, 11u);
  for (size_t cut = 0; cut < statvfs_data.size(); ++cut) {
    EXPECT_FALSE(DecodeStatvfs(statvfs_data.substr(0, cut))) << cut;
    if (cut < kLimitsData.size()) {
      EXPECT_FALSE(DecodeLimits(kLimitsData.substr(0, cut))) << cut;
    }
  }
}

TEST(SftpReplies, MalformedRepliesAreFaultsOfTheirKind) {
  struct Case {
    const char* what;
    uint8_t type;
    std::string body;
    CodecFault fault;
  } cases[] = {
      {"a count no packet can hold", SSH_FXP_NAME, U32(1) + U32(0xffffffff), CodecFault::TooLarge},
      {"more entries than sent", SSH_FXP_NAME,
       U32(1) + U32(2) + S("a") + S("longer than 12") + U32(0), CodecFault::Truncated},
      {"a string length past the end", SSH_FXP_HANDLE, U32(1) + U32(0xffffffff) + "H",
       CodecFault::Truncated},
      {"data shorter than announced", SSH_FXP_DATA, U32(1) + U32(100) + "hello",
       CodecFault::Truncated},
      {"a handle no server makes", SSH_FXP_HANDLE, U32(1) + S(std::string(257, 'h')),
       CodecFault::TooLarge},
      {"an attribute flag of no known size", SSH_FXP_ATTRS, U32(1) + U32(0x10) + U32(0),
       CodecFault::Malformed},
      {"an extended attribute count no packet can hold", SSH_FXP_ATTRS,
       U32(1) + U32(SSH_FILEXFER_ATTR_EXTENDED) + U32(0x20000000), CodecFault::TooLarge},
      {"half a message length", SSH_FXP_STATUS, U32(1) + U32(4) + Hex("0000"),
       CodecFault::Truncated},
      {"an extension without its data", SSH_FXP_VERSION, U32(3) + S("x"), CodecFault::Truncated},
      {"no version at all", SSH_FXP_VERSION, "", CodecFault::Truncated},
  };
  for (const auto& c : cases) {
    const auto fault = DecodeFault({c.type, c.body});
    ASSERT_TRUE(fault) << c.what;
    EXPECT_EQ(fault->fault, c.fault) << c.what << ": " << fault->message;
  }
  // A decoder takes only its own type.
  const auto wrong = DecodeStatus({SSH_FXP_HANDLE, U32(1) + S("H")});
  ASSERT_FALSE(wrong);
  EXPECT_EQ(wrong.error().fault, CodecFault::UnexpectedReply);
  EXPECT_EQ(wrong.error().message, "SSH_FXP_STATUS expected, got SSH_FXP_HANDLE (type 102)");
}

TEST(SftpReplies, ReplyIdIsTheFirstFieldOfEveryReplyButVersion) {
  EXPECT_EQ(*ReplyId({SSH_FXP_DATA, U32(0xdeadbeef) + S("x")}), 0xdeadbeefu);
  EXPECT_EQ(ReplyId({SSH_FXP_STATUS, Hex("000000")}).error().fault, CodecFault::Truncated);
  EXPECT_EQ(ReplyId({SSH_FXP_VERSION, U32(3)}).error().fault, CodecFault::UnexpectedReply);
}

TEST(SftpReplies, OnlyTheExtensionVersionsWeSpeakAreOffered) {
  VersionReply openssh{3,
                       {{"posix-rename@openssh.com", "1"},
                        {"statvfs@openssh.com", "2"},
                        {"fstatvfs@openssh.com", "2"},
                        {"fsync@openssh.com", "1"},
                        {"limits@openssh.com", "1"}}};
  EXPECT_EQ(ExtensionsOffered(openssh), (OfferedExtensions{true, true, true, true}));
  VersionReply other{3,
                     {{"posix-rename@openssh.com", "2"},
                      {"statvfs@openssh.com", "1"},
                      {"limits@openssh.com", ""},
                      {"fsync@example.com", "1"}}};
  EXPECT_EQ(ExtensionsOffered(other), (OfferedExtensions{}));
}

TEST(SftpReplies, TransferSizesAreTheLargestTheLimitsAllow) {
  struct Case {
    const char* what;
    std::optional<Limits> limits;
    TransferSizes sizes;
  } cases[] = {
      {"no limits: what every server takes", std::nullopt, {32768, 32768}},
      {"OpenSSH's", Limits{262144, 261120, 261120, 0}, {261120, 261120}},
      {"the packet limit binds", Limits{65536, 261120, 261120, 0}, {65536 - 9, 65536 - 277}},
      {"0 states no limit: ours binds", Limits{0, 0, 0, 0}, {263159, 263159}},
      {"small read and write limits", Limits{0, 1000, 2000, 0}, {1000, 2000}},
  };
  for (const auto& c : cases) EXPECT_EQ(ChooseTransferSizes(c.limits), c.sizes) << c.what;
}

}  // namespace
}  // namespace tarnex::sftp
