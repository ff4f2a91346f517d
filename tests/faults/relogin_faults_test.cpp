// A second Login on an open session is a new login, never a silent success: the old session
// ends with QUIT, the new one is made with the new user and password and the TLS setting of
// now, and its result is the one reported.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tests/faults/fault_fixture.h"
#include "tests/support/test_certificate.h"

namespace tarnex::faults {
namespace {

using namespace std::chrono_literals;
using testing::Close;
using testing::Expect;
using testing::FakeFtpServer;
using testing::Greeting;
using testing::Session;
using testing::Silence;

struct Relogin {
  const char* name;
  TlsMode tls;       // set between the two logins
  Steps second;      // the second connection
  int32_t result;    // of the second Login
  std::string last;  // its last log line
};

TEST_F(FacadeFaultTest, ASecondLoginEndsTheSessionAndReportsTheNewLogin) {
  const testing::TestCertificate certificate = testing::MakeTestCertificate(dir_.path());
  const Relogin cases[] = {
      {"another user",
       TlsMode::Off,
       {Greeting("220 Hi\r\n"), Expect("USER bob", "331 Pass\r\n"),
        Expect("PASS other", "230 Logged in\r\n"), Silence()},
       230,
       "230 Connect success"},
      {"a wrong password",
       TlsMode::Off,
       {Greeting("220 Hi\r\n"), Expect("USER bob", "331 Pass\r\n"),
        Expect("PASS other", "530 Login incorrect.\r\n"), Expect("QUIT", "221 Bye\r\n"), Close()},
       530,
       "530 Login incorrect."},
      {"TLS asked for after a login in clear",
       TlsMode::Explicit,
       {Greeting("220 Hi\r\n"), Expect("AUTH TLS", "234 Go ahead\r\n"), testing::StartTls(),
        Expect("USER bob", "331 Pass\r\n"), Expect("PASS other", "230 Logged in\r\n"),
        Expect("PBSZ 0", "200 ok\r\n"), Expect("PROT P", "200 ok\r\n"), Silence()},
       230,
       "230 Connect success"},
  };
  for (const Relogin& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh();
    FakeFtpServer server(
        {Session(LoggedIn({Expect("QUIT", "221 Goodbye\r\n"), Close()})), Session(c.second)},
        {.io_timeout = 5s, .tls_certificate = certificate.pem});
    Login(server);
    ftp().SetTlsMode(c.tls);
    ftp().SetTlsTrust(certificate.pem.string(), "");
    EXPECT_EQ(ftp().Connect("bob", "other"), c.result) << Joined(log_);
    ASSERT_FALSE(log_.empty());
    EXPECT_EQ(log_.front(), "221 Disconnected") << Joined(log_);
    EXPECT_EQ(log_.back(), c.last) << Joined(log_);
    EXPECT_EQ(ftp().Protocol().DataProtected(), c.tls != TlsMode::Off);
    EXPECT_EQ(server.Connections(), 2);
    EXPECT_EQ(server.Mismatches(), "") << server.Transcript();
  }
}

}  // namespace
}  // namespace tarnex::faults
