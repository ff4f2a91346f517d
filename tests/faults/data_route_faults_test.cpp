// A data connection goes where the control connection went: through a proxy, past a PASV reply
// that names another host, and under TLS with the certificate checked against the same name.
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

// The real server's name is never looked up: only the proxy is reached.
constexpr const char* kBehindProxy = "ftp.example.invalid";
const std::string kNote =
    "PASV address 10.0.0.1 not used: data connections go to 127.0.0.1, the server's address";

Steps ProxyLogin(Steps steps) {
  Steps all{testing::Greeting("220 proxy\r\n"),
            Expect(std::string("USER joe@") + kBehindProxy, "331 Pass\r\n"),
            Expect("PASS secret", "230 Logged in\r\n")};
  all.insert(all.end(), steps.begin(), steps.end());
  return all;
}

Steps Retrieve(const std::string& channel_reply, const std::string& payload) {
  return {Expect(channel_reply.starts_with("229") ? "EPSV" : "PASV", channel_reply),
          Expect("RETR a.txt", "150 Opening\r\n", Data::Send(payload)), Reply("226 Done\r\n")};
}

struct Route {
  const char* name;
  bool proxy;
  Steps transfers;  // two downloads of "a.txt"
  Lines notes;      // what the log says besides the transfers' own lines
};

TEST_F(FacadeFaultTest, PassiveDataGoesToTheControlConnectionsPeer) {
  const Steps epsv_refused{Expect("EPSV", "500 EPSV not understood\r\n")};
  const Route routes[] = {
      {"EPSV through a proxy",
       true,
       Concat(Retrieve("229 Entering Extended Passive Mode ({epsv})\r\n", "one"),
              Retrieve("229 Entering Extended Passive Mode ({epsv})\r\n", "two")),
       {}},
      {"PASV through a proxy",
       true,
       Concat(epsv_refused, Concat(Retrieve("227 Entering Passive Mode ({pasv})\r\n", "one"),
                                   Retrieve("227 Entering Passive Mode ({pasv})\r\n", "two"))),
       {}},
      {"PASV naming a third host, noted once",
       false,
       Concat(epsv_refused,
              Concat(Retrieve("227 Entering Passive Mode (10,0,0,1,{pasv_port})\r\n", "one"),
                     Retrieve("227 Entering Passive Mode (10,0,0,1,{pasv_port})\r\n", "two"))),
       {kNote}},
  };
  for (const Route& route : routes) {
    SCOPED_TRACE(route.name);
    Fresh();
    FakeFtpServer server({Session(route.proxy ? ProxyLogin(Concat(route.transfers, {Silence()}))
                                              : LoggedIn(Concat(route.transfers, {Silence()})))},
                         {.io_timeout = 5s});
    ftp().SetServer(route.proxy ? kBehindProxy : "127.0.0.1", route.proxy ? "127.0.0.1" : "",
                    server.Port());
    ftp().SetPassive(true);
    ASSERT_EQ(ftp().Connect("joe", "secret"), 230) << Joined(log_);
    log_.clear();
    EXPECT_EQ(ftp().Download("a.txt", dir_ / "1.txt"), 150) << Joined(log_);
    EXPECT_EQ(ftp().Download("a.txt", dir_ / "2.txt"), 150) << Joined(log_);
    EXPECT_EQ(ReadBytes(dir_ / "1.txt") + ReadBytes(dir_ / "2.txt"), "onetwo");
    Lines notes;
    for (const std::string& line : log_) {
      if (line.starts_with("PASV")) notes.push_back(line);
    }
    EXPECT_EQ(notes, route.notes) << Joined(log_);
    EXPECT_EQ(server.Mismatches(), "") << server.Transcript();
  }
}

TEST_F(FacadeFaultTest, AProtectedDataConnectionNamesTheHostTheControlConnectionNamed) {
  const testing::TestCertificate certificate = testing::MakeTestCertificate(dir_.path());
  FakeFtpServer server(
      {Session{testing::Greeting("220 proxy\r\n"), Expect("AUTH TLS", "234 Go ahead\r\n"),
               testing::StartTls(), Expect(std::string("USER joe@") + kBehindProxy, "331 Pass\r\n"),
               Expect("PASS secret", "230 Logged in\r\n"), Expect("PBSZ 0", "200 ok\r\n"),
               Expect("PROT P", "200 ok\r\n"), testing::ProtectData(),
               Expect("EPSV", "229 Entering Extended Passive Mode ({epsv})\r\n"),
               Expect("RETR a.txt", "150 Opening\r\n", Data::Send("secret data")),
               Reply("226 Done\r\n"), Silence()}},
      {.io_timeout = 5s, .tls_certificate = certificate.pem});
  // The certificate names 127.0.0.1, the proxy this session talks to, and not the host behind it.
  AimProtected(kBehindProxy, "127.0.0.1", server, certificate.pem.string());
  ASSERT_EQ(ftp().Connect("joe", "secret"), 230) << Joined(log_);
  EXPECT_EQ(ftp().Download("a.txt", dir_ / "a.txt"), 150) << Joined(log_);
  EXPECT_EQ(ReadBytes(dir_ / "a.txt"), "secret data");
  EXPECT_EQ(server.Mismatches(), "") << server.Transcript();
}

}  // namespace
}  // namespace tarnex::faults
