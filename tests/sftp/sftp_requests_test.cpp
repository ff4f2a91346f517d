#include "sftp/sftp_requests.h"

#include <gtest/gtest.h>

#include "tests/sftp/wire_bytes.h"

namespace tarnex::sftp {
namespace {

using testing::Hex;
using testing::Packet;
using testing::S;
using testing::U32;

TEST(SftpRequests, EveryRequestHasItsExactBytes) {
  const std::string id = U32(7);
  const std::string h = S("H1");
  const std::string offset = Hex("0000000100000002");  // 2^32 + 2: both halves matter
  FileAttributes all;
  all.size = 0x0102030405060708;
  all.owner = OwnerIds{1000, 100};
  all.permissions = 0100644;
  all.times = FileTimes{1, 2};
  all.extended = {{"a@x", "1"}};
  const std::string all_bytes = Hex("8000000f 0102030405060708 000003e8 00000064 000081a4") +
                                U32(1) + U32(2) + U32(1) + S("a@x") + S("1");
  const std::string none = U32(0);
  FileAttributes mode;
  mode.permissions = 0755;
  struct Case {
    const char* what;
    std::string encoded;
    std::string expected;
  } cases[] = {
      {"init", EncodeInit(), Hex("00000005 01 00000003")},
      {"open", EncodeOpen(7, "/f", SSH_FXF_WRITE | SSH_FXF_CREAT | SSH_FXF_TRUNC, all),
       Packet(SSH_FXP_OPEN, id + S("/f") + U32(0x1a) + all_bytes)},
      {"open to read", EncodeOpen(7, "/f", SSH_FXF_READ),
       Packet(SSH_FXP_OPEN, id + S("/f") + U32(1) + none)},
      {"open exclusive, appending", EncodeOpen(7, "f", SSH_FXF_APPEND | SSH_FXF_EXCL),
       Packet(SSH_FXP_OPEN, id + S("f") + U32(0x24) + none)},
      {"close", EncodeClose(7, "H1"), Packet(SSH_FXP_CLOSE, id + h)},
      {"read", EncodeRead(7, "H1", 0x100000002, 0x40000),
       Packet(SSH_FXP_READ, id + h + offset + U32(0x40000))},
      {"write", EncodeWrite(7, "H1", 0x100000002, "data"),
       Packet(SSH_FXP_WRITE, id + h + offset + S("data"))},
      {"lstat", EncodeLstat(7, "/l"), Packet(SSH_FXP_LSTAT, id + S("/l"))},
      {"fstat", EncodeFstat(7, "H1"), Packet(SSH_FXP_FSTAT, id + h)},
      {"setstat", EncodeSetstat(7, "/f", mode),
       Packet(SSH_FXP_SETSTAT, id + S("/f") + U32(4) + U32(0755))},
      {"fsetstat", EncodeFsetstat(7, "H1", all), Packet(SSH_FXP_FSETSTAT, id + h + all_bytes)},
      {"opendir", EncodeOpendir(7, "/d"), Packet(SSH_FXP_OPENDIR, id + S("/d"))},
      {"readdir", EncodeReaddir(7, "H1"), Packet(SSH_FXP_READDIR, id + h)},
      {"remove", EncodeRemove(7, "/f"), Packet(SSH_FXP_REMOVE, id + S("/f"))},
      {"mkdir", EncodeMkdir(7, "/d", mode),
       Packet(SSH_FXP_MKDIR, id + S("/d") + U32(4) + U32(0755))},
      {"mkdir, no attributes", EncodeMkdir(7, "/d"), Packet(SSH_FXP_MKDIR, id + S("/d") + none)},
      {"rmdir", EncodeRmdir(7, "/d"), Packet(SSH_FXP_RMDIR, id + S("/d"))},
      {"realpath", EncodeRealpath(7, "."), Packet(SSH_FXP_REALPATH, id + S("."))},
      {"stat", EncodeStat(7, "/f"), Packet(SSH_FXP_STAT, id + S("/f"))},
      {"rename", EncodeRename(7, "/a", "/b"), Packet(SSH_FXP_RENAME, id + S("/a") + S("/b"))},
      {"readlink", EncodeReadlink(7, "/l"), Packet(SSH_FXP_READLINK, id + S("/l"))},
      // OpenSSH's server reads the target first.
      {"symlink", EncodeSymlink(7, "/link", "/target"),
       Packet(SSH_FXP_SYMLINK, id + S("/target") + S("/link"))},
      {"extended", EncodeExtended(7, "x@y", "zz"), Packet(SSH_FXP_EXTENDED, id + S("x@y") + "zz")},
      {"limits", EncodeLimits(7), Packet(SSH_FXP_EXTENDED, id + S("limits@openssh.com"))},
      {"posix-rename", EncodePosixRename(7, "/a", "/b"),
       Packet(SSH_FXP_EXTENDED, id + S("posix-rename@openssh.com") + S("/a") + S("/b"))},
      {"fsync", EncodeFsync(7, "H1"), Packet(SSH_FXP_EXTENDED, id + S("fsync@openssh.com") + h)},
      {"statvfs", EncodeStatvfs(7, "/"),
       Packet(SSH_FXP_EXTENDED, id + S("statvfs@openssh.com") + S("/"))},
  };
  for (const auto& c : cases) EXPECT_EQ(c.encoded, c.expected) << c.what;
}

TEST(SftpRequests, AWriteHeaderCountsTheDataThatFollowsIt) {
  const std::string data(100000, 'x');
  const std::string header = EncodeWriteHeader(9, "H", 5, static_cast<uint32_t>(data.size()));
  EXPECT_EQ(header + data, EncodeWrite(9, "H", 5, data));
  EXPECT_EQ(header.size(), 4u + 1 + 4 + 5 + 8 + 4);
}

}  // namespace
}  // namespace tarnex::sftp
