// What servers of today ask of a client: EPSV with its PASV fall-back, EPRT over IPv6, resumed
// transfers, and UTF-8 names chosen by FEAT. Scripted servers for the exact dialogue, the real
// one on 127.0.0.1 and ::1 for byte-exact round trips.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>

#include "platform/codepage.h"
#include "tests/ftpproto/proto_test_fixture.h"
#include "tests/support/temp_dir.h"

namespace tarnex {
namespace {

using namespace std::chrono_literals;
using testing::Expect;
using testing::FakeFtpServer;
using testing::Reply;
using testing::Silence;
namespace Data = testing::Data;
using Lines = std::vector<std::string>;

std::string FileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

class CurrentServersTest : public ProtoTest {
 protected:
  void Finish(FakeFtpServer& server) {
    EXPECT_TRUE(server.Wait(5s)) << server.Transcript();
    EXPECT_EQ(server.Mismatches(), "") << server.Transcript();
  }
  std::string Local(const std::string& leaf) const { return dir_ / leaf; }
  testing::TempDir dir_;
};

TEST_F(CurrentServersTest, EpsvFallsBackToPasvUntilTheNextLogin) {
  const testing::Step refused = Expect("EPSV", "500 EPSV not understood\r\n");
  const auto pasv = [] { return Expect("PASV", "227 Entering Passive Mode ({pasv})\r\n"); };
  FakeFtpServer server({
      Connected({refused, pasv(), Expect("RETR a", "150 ok\r\n", Data::Send("1")),
                 Reply("226 ok\r\n"), pasv(), Expect("RETR b", "150 ok\r\n", Data::Send("2")),
                 Reply("226 ok\r\n"), Expect("QUIT", "221 Bye\r\n"), testing::Close()}),
      Connected({Expect("EPSV", "229 Extended ({epsv})\r\n"),
                 Expect("RETR c", "150 ok\r\n", Data::Send("3")), Reply("226 ok\r\n"), Silence()}),
  });
  Attach(server);
  ftp_.Passive = true;
  ftp_.LogIn();
  ftp_.DownloadFile("a", Local("a"));
  ftp_.DownloadFile("b", Local("b"));  // PASV at once: the refusal is remembered
  ftp_.Quit();
  ftp_.LogIn();  // a new login asks EPSV again
  ftp_.DownloadFile("c", Local("c"));
  EXPECT_EQ(FileBytes(Local("a")) + FileBytes(Local("b")) + FileBytes(Local("c")), "123");
  Finish(server);
}

TEST_F(CurrentServersTest, ActiveModeOverIpv6SendsEprtAndHostsMayBeBracketed) {
  for (const char* host : {"::1", "[::1]"}) {
    SCOPED_TRACE(host);
    FakeFtpServer server({Connected({Expect("EPRT |2|::1|*", "200 EPRT ok\r\n"),
                                     Expect("RETR a", "150 ok\r\n", Data::Send("over six")),
                                     Reply("226 ok\r\n"), Silence()})},
                         {.ipv6 = true});
    Attach(server);
    ftp_.Host = host;
    ftp_.LogIn();
    ftp_.DownloadFile("a", Local("a"));
    EXPECT_EQ(FileBytes(Local("a")), "over six");
    Finish(server);
    ftp_.Control().RequestCloseSocket();
  }
}

TEST_F(CurrentServersTest, RegetGoesOnOnlyAfterA350) {
  struct Case {
    const char* name;
    const char* size_reply;
    const char* rest_reply;  // nullptr: REST is not sent
    bool retrieves;
    std::string local_after;
    std::string raised;
  } cases[] = {
      {"350: the rest is added", "213 10\r\n", "350 Restarting at 4\r\n", true, "0123456789", ""},
      {"REST refused: untouched", "213 10\r\n", "502 No REST\r\n", false, "0123",
       "502 No REST\r\n"},
      {"SIZE refused: REST all the same", "550 No SIZE\r\n", "350 ok\r\n", true, "0123456789",
       ""},
      {"as large already: nothing moves", "213 4\r\n", nullptr, false, "0123", ""},
      {"larger locally: untouched", "213 3\r\n", nullptr, false, "0123",
       "Cannot resume: the local file is larger than the remote one (4 > 3 bytes)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<testing::Step> steps{Expect("TYPE I", "200 ok\r\n"),
                                     Expect("SIZE f.bin", c.size_reply)};
    if (c.rest_reply != nullptr) {
      steps.push_back(Expect("PORT *", "200 ok\r\n"));
      steps.push_back(Expect("REST 4", c.rest_reply));
    }
    if (c.retrieves) {
      steps.push_back(Expect("RETR f.bin", "150 ok\r\n", Data::Send("456789")));
      steps.push_back(Reply("226 ok\r\n"));
    }
    steps.push_back(Silence());
    FakeFtpServer server({Connected(steps)});
    Attach(server);
    ftp_.LogIn();
    ftp_.SetTransferType(tmImage);
    WriteFile(Local("f.bin"), "0123");
    EXPECT_EQ(Raised([&] { ftp_.ResumeDownloadFile("f.bin", Local("f.bin")); }), c.raised);
    EXPECT_EQ(FileBytes(Local("f.bin")), c.local_after);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 1);
    Finish(server);
    ftp_.Control().RequestCloseSocket();
  }
}

TEST_F(CurrentServersTest, ReputSendsTheRestOrTheWholeFile) {
  struct Case {
    const char* name;
    const char* size_reply;
    const char* command;  // nullptr: nothing is sent
    std::string received;
  } cases[] = {
      {"the rest after what the server holds", "213 4\r\n", "APPE f.bin", "456789"},
      {"no such file there: all of it", "550 No such file\r\n", "STOR f.bin", "0123456789"},
      {"complete already", "213 10\r\n", nullptr, ""},
  };
  WriteFile(Local("f.bin"), "0123456789");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<testing::Step> steps{Expect("TYPE I", "200 ok\r\n"),
                                     Expect("SIZE f.bin", c.size_reply)};
    if (c.command != nullptr) {
      steps.push_back(Expect("PORT *", "200 ok\r\n"));
      steps.push_back(Expect(c.command, "150 ok\r\n", Data::Receive()));
      steps.push_back(Reply("226 ok\r\n"));
    }
    steps.push_back(Silence());
    FakeFtpServer server({Connected(steps)});
    Attach(server);
    ftp_.LogIn();
    ftp_.SetTransferType(tmImage);
    const auto outcome = ftp_.ResumeUploadFile(Local("f.bin"), "").value;
    EXPECT_EQ(outcome == TProtoFTP::ResumeOutcome::AlreadyComplete, c.command == nullptr);
    Finish(server);
    if (c.command != nullptr) {
      EXPECT_EQ(server.ReceivedData(0), c.received);
    }
    ftp_.Control().RequestCloseSocket();
  }
}

TEST_F(CurrentServersTest, ResumeRefusesAsciiMode) {
  FakeFtpServer server({Connected({Silence()})});
  Attach(server);
  ftp_.LogIn();
  WriteFile(Local("f.bin"), "0123");
  const std::string refusal = "Resume needs binary mode: give Binary first";
  EXPECT_EQ(Raised([&] { ftp_.ResumeDownloadFile("f.bin", Local("f.bin")); }), refusal);
  EXPECT_EQ(Raised([&] { ftp_.ResumeUploadFile(Local("f.bin"), "f.bin"); }), refusal);
  EXPECT_EQ(server.Commands(), (Lines{"USER joe"}));
}

TEST_F(CurrentServersTest, FeatDecidesUtf8NamesInAutoMode) {
  const std::string hyou = platform::Utf8ToCp932("表");  // its second byte is a backslash
  for (bool offered : {true, false}) {
    SCOPED_TRACE(offered ? "FEAT lists UTF8" : "FEAT without UTF8");
    const std::string features = offered ? "211-Features:\r\n MDTM\r\n UTF8\r\n211 End\r\n"
                                          : "211-Features:\r\n MDTM\r\n211 End\r\n";
    std::vector<testing::Step> steps{
        testing::Greeting("220 Hi\r\n"), Expect("USER joe", "230 In\r\n"),
        Expect("FEAT"), testing::Drip(features, 2ms)};  // a reply in many small pieces
    if (offered) steps.push_back(Expect("OPTS UTF8 ON", "200 Always in UTF8 mode\r\n"));
    steps.push_back(Expect(offered ? "CWD " + std::string("\xE8\xA1\xA8") : "CWD " + hyou,
                           "250 Entered \"/" + std::string(offered ? "\xE8\xA1\xA8" : hyou) +
                               "\"\r\n"));
    steps.push_back(Silence());
    FakeFtpServer server({testing::Session(steps)});
    Attach(server);
    ftp_.NameEncoding = RemoteEncoding::Auto;
    ftp_.LogIn();
    EXPECT_EQ(ftp_.NamesInUtf8(), offered);
    EXPECT_EQ(ftp_.ReplyCode(), 230);  // the login's code, not FEAT's
    ftp_.ChangeDirectory(hyou);
    // The reply comes back in the script's bytes either way.
    EXPECT_EQ(ftp_.LastReply(), "250 Entered \"/" + hyou + "\"\r\n");
    Finish(server);
    ftp_.Control().RequestCloseSocket();
  }
}

TEST_F(CurrentServersTest, ANameThatCannotBeUtf8FailsItsCommandOnly) {
  FakeFtpServer server({Connected({Expect("NOOP", "200 ok\r\n"), Silence()})});
  Attach(server);
  ftp_.NameEncoding = RemoteEncoding::Utf8;
  ftp_.LogIn();
  EXPECT_EQ(Raised([&] { ftp_.ChangeDirectory("\x81"); }),
            "Not sent, the name cannot be written as UTF-8: CWD \x81");
  // The message goes to the log: a password in it never does.
  EXPECT_EQ(Raised([&] { ftp_.RunCommand("PASS s3cret\x81"); }),
            "Not sent, the name cannot be written as UTF-8: PASS ****");
  ftp_.RunCommand("NOOP");  // the session goes on
  Finish(server);
}

TEST(CurrentServersRealServer, ByteExactRoundTripsOverIpv4AndIpv6InBothModes) {
  TARNEX_SKIP_UNLESS_REAL_FTP_SERVER();
  std::mt19937 random(12);
  for (const char* host : {"127.0.0.1", "::1"}) {
    testing::RealFtpServerOptions options;
    options.host = host;
    testing::RealFtpServer server(options);
    testing::TempDir local;
    for (bool passive : {false, true}) {
      SCOPED_TRACE(std::string(host) + (passive ? " passive" : " active"));
      TProtoFTP ftp;
      LogIn(ftp, server, passive);
      ftp.SetTransferType(tmImage);
      for (size_t size : {size_t{0}, size_t{65535}, size_t{65536}, size_t{65537},
                          size_t{10 * 1024 * 1024 + 3}}) {
        std::string bytes(size, '\0');
        for (char& c : bytes) c = static_cast<char>(random());
        const std::string name = "f" + std::to_string(size) + (passive ? "p" : "a");
        WriteFile(local.path() / name, bytes);
        ftp.UploadFile(local / name, name);
        ASSERT_EQ(FileBytes(server.Root() / name), bytes) << name;
        ftp.DownloadFile(name, local / (name + ".back"));
        ASSERT_EQ(FileBytes(local.path() / (name + ".back")), bytes) << name;
      }
      ftp.Quit();
    }
  }
}

TEST(CurrentServersRealServer, RegetAndReputFinishACutTransfer) {
  TARNEX_SKIP_UNLESS_REAL_FTP_SERVER();
  testing::RealFtpServer server;
  testing::TempDir local;
  std::string bytes(3 * 1024 * 1024 + 7, '\0');
  std::mt19937 random(3);
  for (char& c : bytes) c = static_cast<char>(random());
  // What a cut transfer leaves: the first part on either side.
  WriteFile(server.Root() / "whole.bin", bytes);
  WriteFile(local.path() / "whole.bin", bytes.substr(0, 1000000));
  WriteFile(local.path() / "up.bin", bytes);
  WriteFile(server.Root() / "up.bin", bytes.substr(0, 777777));
  TProtoFTP ftp;
  LogIn(ftp, server, true);
  ftp.SetTransferType(tmImage);
  EXPECT_EQ(ftp.ResumeDownloadFile("whole.bin", local / "whole.bin").value,
            TProtoFTP::ResumeOutcome::Transferred);
  EXPECT_EQ(ftp.DataBytesReceived(), 0);  // the data connection is gone
  EXPECT_EQ(FileBytes(local.path() / "whole.bin"), bytes);
  EXPECT_EQ(ftp.ResumeUploadFile(local / "up.bin", "up.bin").value,
            TProtoFTP::ResumeOutcome::Transferred);
  EXPECT_EQ(FileBytes(server.Root() / "up.bin"), bytes);
  EXPECT_EQ(ftp.ResumeDownloadFile("whole.bin", local / "whole.bin").value,
            TProtoFTP::ResumeOutcome::AlreadyComplete);
  ftp.Quit();
}

TEST(CurrentServersRealServer, AJapaneseNameMakesTheRoundTripAsUtf8) {
  TARNEX_SKIP_UNLESS_REAL_FTP_SERVER();
  testing::RealFtpServer server;
  testing::TempDir local;
  const std::string name = platform::Utf8ToCp932("報告書・表.txt");
  WriteFile(local.path() / "src.txt", "contents");
  TProtoFTP ftp;
  ftp.NameEncoding = RemoteEncoding::Auto;
  LogIn(ftp, server, true);
  EXPECT_TRUE(ftp.NamesInUtf8());
  ftp.UploadFile(local / "src.txt", name);
  // On the server's disk the name is UTF-8.
  EXPECT_EQ(FileBytes(server.Root() / "報告書・表.txt"), "contents");
  std::vector<std::string> listing;
  ftp.OnListItem = [&](const std::string& line) { listing.push_back(line); };
  ftp.ListDirectory();
  ASSERT_EQ(listing.size(), 1u);
  EXPECT_TRUE(listing[0].ends_with(" " + name)) << listing[0];  // and Shift-JIS for the script
  ftp.DownloadFile(name, local / "back.txt");
  EXPECT_EQ(FileBytes(local.path() / "back.txt"), "contents");
  ftp.Quit();
}

}  // namespace
}  // namespace tarnex
