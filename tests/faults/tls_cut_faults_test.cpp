// A TLS connection that ends without close_notify was cut: a download, a listing or a reply
// that ends that way fails, whatever the server says after it, and the old local file stays.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tests/faults/fault_fixture.h"
#include "tests/support/test_certificate.h"

namespace tarnex::faults {
namespace {

using namespace std::chrono_literals;
using testing::Expect;
using testing::FakeFtpServer;
using testing::Reply;
using testing::Session;
using testing::Silence;
namespace Data = testing::Data;

const std::string kFile(100'000, 'f');
const std::string kCut = "12001:Connection cut short: it ended without the TLS close_notify";

Steps ProtectedLogin(Steps steps) {
  Steps all{testing::Greeting("220 Hi\r\n"),
            Expect("AUTH TLS", "234 Go ahead\r\n"),
            testing::StartTls(),
            Expect("USER joe", "331 Pass\r\n"),
            Expect("PASS secret", "230 Logged in\r\n"),
            Expect("PBSZ 0", "200 ok\r\n"),
            Expect("PROT P", "200 ok\r\n"),
            testing::ProtectData()};
  all.insert(all.end(), steps.begin(), steps.end());
  return all;
}

struct Cut {
  const char* name;
  bool binary;
  Steps steps;  // after the login and TYPE
};

TEST_F(FacadeFaultTest, ADownloadCutWithoutCloseNotifyFailsAndKeepsTheOldFile) {
  const testing::TestCertificate certificate = testing::MakeTestCertificate(dir_.path());
  const std::string announced =
      "150 Opening BINARY mode data connection for a.bin (100000 bytes)\r\n";
  const Steps epsv{Expect("EPSV", "229 Entering Extended Passive Mode ({epsv})\r\n")};
  const Cut cuts[] = {
      {"binary, SIZE known, cut at 40 %, the server says 226", true,
       Concat({Expect("SIZE a.bin", "213 100000\r\n")},
              Concat(epsv,
                     {Expect("RETR a.bin", "150 Opening\r\n", Data::Send(kFile).CutAfter(40'000)),
                      Reply("226 Transfer complete\r\n")}))},
      {"binary, no SIZE, cut at 40 %", true,
       Concat({Expect("SIZE a.bin", "502 Not implemented\r\n")},
              Concat(epsv,
                     {Expect("RETR a.bin", "150 Opening\r\n", Data::Send(kFile).CutAfter(40'000)),
                      Reply("226 Transfer complete\r\n")}))},
      {"ASCII, cut at 40 %: no size to hold it to, only TLS can tell", false,
       Concat(epsv, {Expect("RETR a.bin", announced, Data::Send(kFile).CutAfter(40'000)),
                     Reply("226 Transfer complete\r\n")})},
      {"ASCII, every byte there but no close_notify", false,
       Concat(epsv,
              {Expect("RETR a.bin", "150 Opening\r\n", Data::Send(kFile).WithoutCloseNotify()),
               Reply("226 Transfer complete\r\n")})},
  };
  for (const Cut& cut : cuts) {
    SCOPED_TRACE(cut.name);
    Fresh();
    const std::string target = dir_ / "a.bin";
    WriteBytes(target, "the user's own copy");
    Steps steps = ProtectedLogin(cut.binary ? Steps{Expect("TYPE I", "200 ok\r\n")} : Steps{});
    steps = Concat(steps, Concat(cut.steps, {Silence()}));
    FakeFtpServer server({Session(steps)}, {.io_timeout = 5s, .tls_certificate = certificate.pem});
    AimProtected("127.0.0.1", "", server, certificate.pem.string());
    ASSERT_EQ(ftp().Connect("joe", "secret"), 230) << Joined(log_);
    if (cut.binary) ASSERT_EQ(ftp().ModeImage(), 200);
    log_.clear();
    EXPECT_EQ(ftp().Download("a.bin", target), 999) << Joined(log_);
    ASSERT_FALSE(log_.empty());
    EXPECT_EQ(log_.back(), kCut) << Joined(log_);
    EXPECT_EQ(ReadBytes(target), "the user's own copy");
    EXPECT_EQ(FolderEntries(), 4u);  // the copy, and the certificate's three files
    EXPECT_EQ(server.Mismatches(), "") << server.Transcript();
  }
}

TEST_F(FacadeFaultTest, AListingOrAReplyCutWithoutCloseNotifyFails) {
  const testing::TestCertificate certificate = testing::MakeTestCertificate(dir_.path());
  const std::string listing =
      "-rw-r--r-- 1 u g 5 Jan 1 2000 a.txt\r\n"
      "-rw-r--r-- 1 u g 5 Jan 1 2000 b.txt\r\n";
  FakeFtpServer server(
      {Session(ProtectedLogin({Expect("EPSV", "229 Entering Extended Passive Mode ({epsv})\r\n"),
                               Expect("LIST", "150 Here it comes\r\n",
                                      Data::Send(listing).CutAfter(listing.size() / 2 + 2)),
                               Reply("226 Done\r\n"), Expect("NOOP", "200 ok\r\n"),
                               testing::CloseWithoutCloseNotify()}))},
      {.io_timeout = 5s, .tls_certificate = certificate.pem});
  AimProtected("127.0.0.1", "", server, certificate.pem.string());
  ASSERT_EQ(ftp().Connect("joe", "secret"), 230) << Joined(log_);
  log_.clear();
  std::string listed;
  EXPECT_EQ(ftp().List("", listed), 999) << Joined(log_);
  EXPECT_EQ(log_.back(), kCut) << Joined(log_);
  // The line that came whole is handed over; the cut one is not taken for a line.
  EXPECT_EQ(listed, "-rw-r--r-- 1 u g 5 Jan 1 2000 a.txt\r\n");
  // The reply itself comes whole; the end behind it is a cut, not a close.
  EXPECT_EQ(ftp().DoCommand("NOOP"), 200) << Joined(log_);
  log_.clear();
  EXPECT_EQ(ftp().DoCommand("NOOP"), 999) << Joined(log_);
  EXPECT_EQ(server.Mismatches(), "") << server.Transcript();
}

}  // namespace
}  // namespace tarnex::faults
