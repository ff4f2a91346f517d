// Faults on the data connection and in local files, driven through the facade. Besides the
// result, the log line and the time: nothing the user already had is damaged, except the file
// a download writes.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "platform/codepage.h"
#include "tests/faults/fault_fixture.h"

namespace tarnex::faults {
namespace {

using namespace std::chrono_literals;
using platform::Utf8ToCp932;
using testing::Close;
using testing::Expect;
using testing::FakeFtpServer;
using testing::Reply;
using testing::Session;
using testing::Silence;
namespace Data = testing::Data;

const std::string kPayload(1 << 20, 'd');  // 1 MiB
const std::string kUserFile = "the user's own file\r\n";

// The data channel of one transfer: PORT or EPSV, as the client asks.
Steps Channel(bool passive) {
  return {passive ? Expect("EPSV", "229 Entering Extended Passive Mode ({epsv})\r\n")
                  : Expect("PORT *", "200 PORT ok\r\n")};
}

struct DownloadFault {
  const char* name;
  Steps steps;        // after the data channel: RETR and what follows
  std::string last;   // the failure line
  int64_t min_ms = 0;
  std::string size_reply = "550 Could not get file size.\r\n";  // to the SIZE before it
};

TEST_F(FacadeFaultTest, FaultsDuringADownload) {
  const DownloadFault faults[] = {
      {"refused: an existing local file is not truncated",
       {Expect("RETR a.bin", "550 a.bin: No such file or directory.\r\n"), Silence()},
       "550 a.bin: No such file or directory."},
      {"drop of the server in the middle of the data",
       {Expect("RETR a.bin", "150 Opening (1048576 bytes)\r\n",
               Data::Send(kPayload).Chunks(64 * 1024, 20ms).InBackground()),
        testing::Pause(150ms), Close()},
       // The data connection ends in order or is reset, as the server goes.
       "Connection closed by server|10054:Connection reset by peer"},
      {"reset in the middle of the data",
       {Expect("RETR a.bin", "150 Opening\r\n",
               Data::Send(kPayload).Chunks(64 * 1024, 5ms).ResetAfter(256 * 1024)),
        Reply("426 aborted\r\n"), Silence()},
       "10054:Connection reset by peer"},
      {"reset after more than a download holds before it writes back to disk",
       {Expect("RETR a.bin", "150 Opening\r\n",
               Data::Send(std::string(10 << 20, 'b')).Chunks(1 << 20, 0ms).ResetAfter(9 << 20)),
        Reply("426 aborted\r\n"), Silence()},
       "10054:Connection reset by peer"},
      {"the closing reply says the data is incomplete",
       {Expect("RETR a.bin", "150 Opening\r\n", Data::Send(kPayload.substr(0, 1000))),
        Reply("426 Connection closed; transfer aborted.\r\n"), Silence()},
       "426 Connection closed; transfer aborted."},
      {"150 and then no data connection",
       {Expect("RETR a.bin", "150 Opening\r\n", Data::NeverConnect()),
        Expect("ABOR", "425 No data connection\r\n226 Aborted\r\n"), Silence()},
       "", kWaitTimeoutMs},
      {"data that stops coming",
       {Expect("RETR a.bin", "150 Opening\r\n", Data::Send("abc").ThenHold().InBackground()),
        Expect("ABOR", "426 Aborted\r\n"), testing::CloseData(), Reply("226 ABOR ok\r\n"),
        Silence()},
       "Socket send aborted", kWaitTimeoutMs},
      {"fewer bytes than announced in binary mode, though the server says 226",
       {Expect("RETR a.bin", "150 Opening (2000 bytes)\r\n", Data::Send(kPayload.substr(0, 1500))),
        Reply("226 Transfer complete\r\n"), Silence()},
       "Download incomplete: 1500 of 2000 bytes received"},
      {"fewer bytes than SIZE said, and no count in the 150",
       {Expect("RETR a.bin", "150 Opening\r\n", Data::Send(kPayload.substr(0, 1500))),
        Reply("226 Transfer complete\r\n"), Silence()},
       "Download incomplete: 1500 of 2000 bytes received", 0, "213 2000\r\n"},
      {"more bytes than SIZE said, whatever the 150 says",
       {Expect("RETR a.bin", "150 Opening (1500 bytes)\r\n", Data::Send(kPayload.substr(0, 1500))),
        Reply("226 Transfer complete\r\n"), Silence()},
       "Download larger than announced: 1500 bytes received, 1000 expected", 0, "213 1000\r\n"},
      {"a size of 2 GiB and more is held to as well",
       {Expect("RETR a.bin", "150 Opening (4831838208 bytes)\r\n", Data::Send("abc")),
        Reply("226 Transfer complete\r\n"), Silence()},
       "Download incomplete: 3 of 4831838208 bytes received"},
  };
  for (bool passive : {false, true}) {
    for (const auto& fault : faults) {
      SCOPED_TRACE(std::string(fault.name) + (passive ? " (PASV)" : " (PORT)"));
      Fresh();
      const std::string target = dir_ / "a.bin";
      WriteBytes(target, kUserFile);
      FakeFtpServer server(
          {Session(LoggedIn(Concat({Expect("TYPE I", "200 ok\r\n"),
                                    Expect("SIZE a.bin", fault.size_reply)},
                                   Concat(Channel(passive), fault.steps))))},
          {.io_timeout = 5s});
      Login(server, passive);
      ASSERT_EQ(ftp().ModeImage(), 200);
      log_.clear();
      const Timed t = Time([&] { return ftp().Download("a.bin", target); });
      EXPECT_GT(t.result, 400) << Joined(log_);
      ASSERT_FALSE(log_.empty());
      // Waiting for a connection that never comes ends in the accept (PORT) or in the read
      // (PASV: the server's listener takes the connection and sends nothing).
      std::string last = fault.last;
      if (last.empty()) last = passive ? "Socket send aborted" : "Accepting Canceled";
      EXPECT_TRUE(IsOneOf(log_.back(), last)) << Joined(log_);
      EXPECT_GE(t.ms, fault.min_ms);
      EXPECT_LE(t.ms, kNoHangMs);
      // Whatever went wrong, the user's file is as it was, and nothing else is left behind.
      EXPECT_EQ(ReadBytes(target), kUserFile);
      EXPECT_EQ(FolderEntries(), 1u);
      log_.clear();
    }
  }
}

TEST_F(FacadeFaultTest, AFullDiskEndsTheDownloadWithTheFileError) {
  FakeFtpServer server({Session(LoggedIn(
      {Expect("PORT *", "200 ok\r\n"),
       Expect("RETR a.bin", "150 Opening\r\n", Data::Send(kPayload).InBackground()),
       Reply("226 done\r\n"), Silence()}))},
      {.io_timeout = 5s});
  Login(server);
  const Timed t = Time([&] { return ftp().Download("a.bin", "/dev/full"); });
  EXPECT_EQ(t.result, 999);
  EXPECT_EQ(log_.back(), Utf8ToCp932("ファイル /dev/full に書き込めません")) << Joined(log_);
  EXPECT_LE(t.ms, kNoHangMs);
}

struct UploadFault {
  const char* name;
  Steps steps;       // after the data channel
  std::string last;
};

TEST_F(FacadeFaultTest, FaultsDuringAnUploadLeaveTheSourceAlone) {
  const UploadFault faults[] = {
      {"refused", {Expect("STOR a.bin", "553 Not allowed\r\n"), Silence()}, "553 Not allowed"},
      // The reset meets the client still sending, or, when the socket buffers took the whole
      // file already, only the closing reply tells.
      {"reset while receiving",
       {Expect("STOR a.bin", "150 ok\r\n", Data::Receive().ResetAfter(64 * 1024)),
        Reply("426 aborted\r\n"), Silence()},
       "10054:Connection reset by peer|426 aborted"},
      {"the closing reply says the disk is full",
       {Expect("STOR a.bin", "150 ok\r\n", Data::Receive()),
        Reply("452 Insufficient storage space\r\n"), Silence()},
       "452 Insufficient storage space"},
      {"drop of the control connection",
       {Expect("STOR a.bin", "150 ok\r\n", Data::Receive()), Close()},
       "Connection closed by server"},
      {"150 and then no data connection",
       {Expect("STOR a.bin", "150 ok\r\n", Data::NeverConnect()), Silence()}, ""},
  };
  const std::string source = dir_ / "source.bin";
  for (bool passive : {false, true}) {
    for (const auto& fault : faults) {
      SCOPED_TRACE(std::string(fault.name) + (passive ? " (PASV)" : " (PORT)"));
      Fresh();
      WriteBytes(source, kPayload);
      FakeFtpServer server({Session(LoggedIn(Concat(Channel(passive), fault.steps)))},
                           {.io_timeout = 5s});
      Login(server, passive);
      const Timed t = Time([&] { return ftp().Upload(source, "a.bin"); });
      EXPECT_GT(t.result, 400) << Joined(log_);
      ASSERT_FALSE(log_.empty());
      std::string last = fault.last;
      // PORT: nobody connects. PASV: the server's listener takes the connection but nobody
      // reads it; the send stalls once the buffers are full, or, when they hold the whole
      // file, the closing reply never comes.
      if (last.empty()) {
        last = passive ? "Socket send aborted|Socket readln aborted" : "Accepting Canceled";
      }
      EXPECT_TRUE(IsOneOf(log_.back(), last)) << Joined(log_);
      EXPECT_LE(t.ms, kNoHangMs);
      EXPECT_EQ(ReadBytes(source), kPayload);
      log_.clear();
    }
  }
}

TEST_F(FacadeFaultTest, AnUnreadableLocalFileFailsBeforeAnythingIsSent) {
  const std::string folder = dir_ / "a-folder";
  std::filesystem::create_directory(folder);
  const std::string missing = dir_ / "missing.bin";
  FakeFtpServer server({Session(LoggedIn({Silence()}))});
  Login(server);
  for (const std::string& local : {folder, missing}) {
    SCOPED_TRACE(local);
    log_.clear();
    const Timed t = Time([&] { return ftp().Upload(local, "a.bin"); });
    EXPECT_EQ(t.result, 999);
    EXPECT_EQ(log_, (Lines{Utf8ToCp932("ファイル " + local + " は開けません")}));
    log_.clear();
    EXPECT_EQ(ftp().UploadAppend(local, "a.bin"), 999);
    EXPECT_EQ(log_, (Lines{Utf8ToCp932("ファイル " + local + " は開けません")}));
  }
  EXPECT_EQ(server.Commands(), (Lines{"USER joe", "PASS secret"}));
}

TEST_F(FacadeFaultTest, PasvToAClosedPortFailsAndTheSessionGoesOn) {
  FakeFtpServer server({Session(LoggedIn(
      {Expect("EPSV", "500 Unknown command\r\n"),
       Expect("PASV", "227 Entering Passive Mode ({pasv_closed})\r\n"),
       Expect("NOOP", "200 ok\r\n"), Silence()}))});
  Login(server, /*passive=*/true);
  const std::string target = dir_ / "a.bin";
  WriteBytes(target, kUserFile);
  const Timed t = Time([&] { return ftp().Download("a.bin", target); });
  EXPECT_EQ(t.result, 999);
  EXPECT_EQ(log_.back(), "Connection Failed") << Joined(log_);
  EXPECT_LE(t.ms, kNoHangMs);
  EXPECT_EQ(ReadBytes(target), kUserFile);
  EXPECT_EQ(ftp().DoCommand("NOOP"), 200);
}

}  // namespace
}  // namespace tarnex::faults
