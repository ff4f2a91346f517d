// Faults on the control connection, driven through the facade: drops, resets, silence, slow
// drips, oversized and garbage replies. Every one ends within the time-out and a second,
// logs its one failure line and returns a result above 400.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tests/faults/fault_fixture.h"

namespace tarnex::faults {
namespace {

using namespace std::chrono_literals;
using testing::Close;
using testing::Drip;
using testing::Expect;
using testing::FakeFtpServer;
using testing::Greeting;
using testing::Session;
using testing::Silence;

const std::string kMiB(1 << 20, 'x');

struct LoginFault {
  const char* name;
  Steps steps;         // the whole session: the fault comes before the login is done
  int32_t result;      // what Connect returns
  std::string last;    // the last log line: the failure
  int64_t min_ms = 0;  // a wait that must not end early
};

TEST_F(FacadeFaultTest, FaultsDuringTheLogin) {
  const LoginFault faults[] = {
      {"drop before the greeting", {Close()}, 999, "Connection closed by server"},
      {"drop inside the greeting", {Greeting("220 Rea"), Close()}, 999,
       "Connection closed by server"},
      {"drop inside a greeting of several lines", {Greeting("220-Hello\r\n more"), Close()}, 999,
       "Connection closed by server"},
      // The reset may come before the client has seen its connect complete.
      {"reset during the greeting", {Greeting("220-Hello\r\n"), testing::Reset()}, 999,
       "10054:Connection reset by peer|Connection Failed"},
      {"drop after USER", {Greeting("220 Hi\r\n"), Expect("USER joe"), Close()}, 999,
       "Connection closed by server"},
      {"silent server", {Silence()}, 999, "Socket readln aborted", kWaitTimeoutMs},
      {"silent after the greeting", {Greeting("220 Hi\r\n"), Expect("USER joe"), Silence()}, 999,
       "Socket readln aborted", kWaitTimeoutMs},
      {"greeting dripped past the time-out", {Drip("220 " + std::string(30, '.') + "\r\n", 100ms)},
       999, "Socket readln aborted", kWaitTimeoutMs},
      {"greeting of 1 MiB", {Greeting("220 " + kMiB + "\r\n"), Silence()}, 999,
       "Line too long: no line end within 65536 bytes"},
      // A line that is no reply fails the login with that line, whatever digits it holds.
      {"greeting code out of range", {Greeting("99999 x\r\n"), Silence()}, 999, "99999 x"},
      {"greeting without a code", {Greeting("abc\r\n"), Silence()}, 999, "abc"},
      {"refused with a code out of range", {Greeting("220 Hi\r\n"), Expect("USER joe", "70000\r\n"),
                                            Silence()},
       999, "70000"},
      {"a code below 100", {Greeting("220 Hi\r\n"), Expect("USER joe", "099 fine\r\n"),
                            Silence()},
       999, "099 fine"},
  };
  for (const auto& fault : faults) {
    SCOPED_TRACE(fault.name);
    Fresh();
    FakeFtpServer server({Session(fault.steps)}, {.io_timeout = 5s});
    Aim(server);
    const Timed t = Time([&] { return ftp().Connect("joe", "secret"); });
    EXPECT_EQ(t.result, fault.result) << Joined(log_);
    ASSERT_FALSE(log_.empty());
    EXPECT_TRUE(IsOneOf(log_.back(), fault.last)) << Joined(log_);
    EXPECT_GE(t.ms, fault.min_ms);
    EXPECT_LE(t.ms, kNoHangMs);
    // Whatever happened, the facade is not connected now and says so at once.
    log_.clear();
    EXPECT_EQ(ftp().Delete("x"), 999);
    EXPECT_EQ(log_, (Lines{"Not Connected"}));
  }
}

TEST_F(FacadeFaultTest, ASlowGreetingWithinTheTimeOutIsAccepted) {
  // One byte every 100 ms: the greeting takes 0.8 s of the second the login may take.
  FakeFtpServer server({Session(Steps{Drip("220 Hi\r\n", 100ms), Expect("USER joe", "331 p\r\n"),
                                      Expect("PASS secret", "230 in\r\n"), Silence()})});
  Aim(server);
  EXPECT_EQ(ftp().Connect("joe", "secret"), 230) << Joined(log_);
}

struct CommandFault {
  const char* name;
  Steps after;                // what the server does once NOOP has arrived
  int32_t result;             // what DoCommand returns
  std::string last;           // its failure line
  bool next_works;            // the connection is still usable: a second NOOP gets 200
  int64_t min_ms = 0;
};

TEST_F(FacadeFaultTest, FaultsDuringACommand) {
  const CommandFault faults[] = {
      {"drop before the reply", {Close()}, 999, "Connection closed by server", false},
      {"drop inside the reply line", {testing::Reply("20"), Close()}, 999,
       "Connection closed by server", false},
      {"drop inside a refusal", {testing::Reply("550-Access den"), Close()}, 999,
       "Connection closed by server", false},
      {"reset instead of the reply", {testing::Reset()}, 999, "10054:Connection reset by peer",
       false},
      {"no reply at all", {Silence()}, 999, "Socket readln aborted", false, kWaitTimeoutMs},
      {"reply dripped past the time-out", {Drip("200 " + std::string(30, '.') + "\r\n", 100ms)},
       999, "Socket readln aborted", false, kWaitTimeoutMs},
      {"reply of 1 MiB", {testing::Reply("200 " + kMiB + "\r\n"), Silence()}, 999,
       "Line too long: no line end within 65536 bytes", false},
      {"code out of range", {testing::Reply("99999 x\r\n"), Expect("NOOP", "200 ok\r\n"),
                             Silence()},
       999, "99999 x", true},
      {"no code at all", {testing::Reply("abc\r\n"), Expect("NOOP", "200 ok\r\n"), Silence()},
       999, "abc", true},
      {"a negative code", {testing::Reply("-550 x\r\n"), Expect("NOOP", "200 ok\r\n"),
                           Silence()},
       999, "-550 x", true},
      {"refusal", {testing::Reply("421 Service closing\r\n"), Expect("NOOP", "200 ok\r\n"),
                   Silence()},
       421, "421 Service closing", true},
      {"a refusal that would clear the terminal and ring its bell",
       {testing::Reply("550 \x1b[2J\x07gone\r\n"), Expect("NOOP", "200 ok\r\n"), Silence()}, 550,
       "550 \\x1b[2J\\x07gone", true},
  };
  for (const auto& fault : faults) {
    SCOPED_TRACE(fault.name);
    Fresh();
    Steps steps{Expect("NOOP")};
    steps.insert(steps.end(), fault.after.begin(), fault.after.end());
    FakeFtpServer server({Session(LoggedIn(steps))}, {.io_timeout = 5s});
    Login(server);
    const Timed t = Time([&] { return ftp().DoCommand("NOOP"); });
    EXPECT_EQ(t.result, fault.result) << Joined(log_);
    ASSERT_FALSE(log_.empty());
    EXPECT_EQ(log_.back(), fault.last) << Joined(log_);
    EXPECT_GE(t.ms, fault.min_ms);
    EXPECT_LE(t.ms, kNoHangMs);
    if (fault.next_works) {
      log_.clear();
      EXPECT_EQ(ftp().DoCommand("NOOP"), 200) << Joined(log_);
    }
    log_.clear();
  }
}

TEST_F(FacadeFaultTest, AResetLogsTheErrorEventBeforeTheFailure) {
  FakeFtpServer server({Session(LoggedIn({Expect("CWD pub"), testing::Reset()}))});
  Login(server);
  EXPECT_EQ(ftp().ChangeDir("pub"), 999);
  EXPECT_EQ(log_, (Lines{"10054:Connection reset by peer 10054",
                         "10054:Connection reset by peer"}));
}

TEST_F(FacadeFaultTest, AnAnswerToQuitWithoutACodeIsAFailure) {
  FakeFtpServer server({Session(LoggedIn({Expect("QUIT", "bye\r\n"), Close()}))});
  Login(server);
  EXPECT_EQ(ftp().Disconnect(), 999);
  EXPECT_EQ(log_.back(), "bye") << Joined(log_);
}

TEST_F(FacadeFaultTest, ATimedOutLoginClosesWithoutWaitingForQuit) {
  // The server takes the connection and never speaks, not even to QUIT.
  FakeFtpServer server({Session(Steps{Silence()})}, {.io_timeout = 5s});
  Aim(server);
  ftp().set_debugmode(true);
  const Timed t = Time([&] { return ftp().Connect("joe", "secret"); });
  EXPECT_EQ(t.result, 999);
  EXPECT_LE(t.ms, kNoHangMs);
  EXPECT_EQ(log_.back(), "Socket readln aborted");
  EXPECT_FALSE(ftp().Protocol().Connected());
  // Nothing was sent: no USER, and no QUIT after the time-out.
  EXPECT_TRUE(server.Commands().empty()) << server.Transcript();
}

}  // namespace
}  // namespace tarnex::faults
