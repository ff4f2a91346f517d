#include "tests/support/fake_ftp_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tests/support/test_certificate.h"
#include "tests/support_selftest/blocking_client.h"

namespace tarnex::testing {
namespace {

using selftest::Client;
using selftest::ClientTlsContext;
using selftest::kNoCloseNotify;
using selftest::Socket;
using std::chrono::milliseconds;
using std::chrono::seconds;
using Clock = std::chrono::steady_clock;

// Bytes of every value in an order that a shifted or dropped block would not reproduce.
std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  uint32_t state = 12345;
  for (auto& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 24);
  }
  return bytes;
}

milliseconds Since(Clock::time_point start) {
  return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
}

// One certificate for every TLS test: making a key takes a while.
FakeFtpServerOptions TlsOptions(bool implicit = false) {
  static const TempDir dir;
  static const TestCertificate certificate = MakeTestCertificate(dir.path());
  FakeFtpServerOptions options;
  options.tls_certificate = certificate.pem;
  options.implicit_tls = implicit;
  return options;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(FakeFtpServer, RunsATranscriptToItsEnd) {
  FakeFtpServer server({Session{
      Greeting("220-Hello\r\n more\r\n220 Ready\r\n"),
      Expect("USER joe", "331 Password required\r\n"),
      Expect("PASS secret", "230 Logged in\r\n"),
      Expect("SYST", "215 UNIX Type: L8\n"),
      Expect("QUIT", "221 Bye\r\n"),
      Close(),
  }});
  Client client(server.Port());
  EXPECT_EQ(client.ReadReply(), "220-Hello\r\n more\r\n220 Ready\r\n");
  EXPECT_EQ(client.Command("USER joe"), "331 Password required\r\n");
  EXPECT_EQ(client.Command("PASS secret"), "230 Logged in\r\n");
  EXPECT_EQ(client.Command("SYST"), "215 UNIX Type: L8\n");
  EXPECT_EQ(client.Command("QUIT"), "221 Bye\r\n");
  EXPECT_EQ(client.ReadLine(), "");  // the orderly close
  EXPECT_TRUE(server.Wait(seconds(5))) << server.Transcript();
  EXPECT_EQ(server.Mismatches(), "");
  EXPECT_EQ(server.Commands(),
            (std::vector<std::string>{"USER joe", "PASS secret", "SYST", "QUIT"}));
  EXPECT_EQ(server.Connections(), 1);
}

TEST(FakeFtpServer, MatchesExactlyByPrefixOrByPredicate) {
  struct Case {
    Match match;
    std::string command;
    bool matches;
  };
  const Case cases[] = {
      {"USER joe", "USER joe", true},
      {"USER joe", "USER joe ", false},
      {"USER joe", "user joe", false},
      {"PORT *", "PORT 127,0,0,1,4,1", true},
      {"PORT *", "PORT", false},
      {"*", "", true},
      {Match::Any(), "anything at all", true},
      {Match::If("a long line", [](const std::string& c) { return c.size() > 3; }), "NOOP", true},
      {Match::If("a long line", [](const std::string& c) { return c.size() > 3; }), "PWD", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.match(c.command), c.matches) << c.match.Description() << " vs " << c.command;
  }
}

TEST(FakeFtpServer, SendsRepliesByteForByte) {
  struct Case {
    const char* name;
    std::vector<Step> steps;
    std::string expected;
    milliseconds at_least;
  };
  const std::string huge(1024 * 1024, 'x');
  const Case cases[] = {
      {"LF only", {Reply("220 Ready\n")}, "220 Ready\n", milliseconds(0)},
      {"no line end", {Reply("220 Ready")}, "220 Ready", milliseconds(0)},
      {"garbage",
       {Reply(std::string("\0\xFF\x81\x40\r", 5))},
       std::string("\0\xFF\x81\x40\r", 5),
       milliseconds(0)},
      {"1 MiB without a line end", {Reply(huge)}, huge, milliseconds(0)},
      {"pieces",
       {Reply("220 Rea"), Pause(milliseconds(200)), Reply("dy\r\n")},
       "220 Ready\r\n",
       milliseconds(190)},
      {"drip", {Drip("220 Ready\r\n", milliseconds(20))}, "220 Ready\r\n", milliseconds(190)},
  };
  for (const auto& c : cases) {
    std::vector<Step> steps = c.steps;
    steps.push_back(Close());
    FakeFtpServer server({Session(steps)});
    auto start = Clock::now();
    Client client(server.Port());
    int error = -1;
    std::string received = client.control().ReceiveAll(&error);
    EXPECT_TRUE(received == c.expected) << c.name << ": " << received.size() << " bytes";
    EXPECT_EQ(error, 0) << c.name << ": an orderly close, not a reset";
    EXPECT_GE(Since(start), c.at_least) << c.name;
    EXPECT_TRUE(server.Wait(seconds(5))) << c.name << "\n" << server.Transcript();
  }
}

TEST(FakeFtpServer, ReportsAWrongCommandAndClosesInsteadOfHanging) {
  FakeFtpServer server({Session{
      Greeting("220 Ready\r\n"),
      Expect("PASS secret", "230 Logged in\r\n"),
      Expect("QUIT", "221 Bye\r\n"),
  }});
  Client client(server.Port());
  client.ReadLine();
  auto start = Clock::now();
  client.Send("PASS wrong");
  EXPECT_EQ(client.ReadLine(), "");
  EXPECT_FALSE(server.Wait(seconds(5)));
  EXPECT_LT(Since(start), seconds(2));
  EXPECT_EQ(server.Mismatches(),
            "session 1 step 2: expected \"PASS secret\", received \"PASS wrong\"");
}

TEST(FakeFtpServer, ReportsWhatTheClientFailedToDo) {
  struct Case {
    const char* name;
    std::vector<std::string> commands;  // sent after the greeting, then the client closes
    std::string mismatch;
  };
  const Case cases[] = {
      {"closes early", {"USER joe"}, "session 1 step 3: expected \"QUIT\", but the client closed"},
      {"says more",
       {"USER joe", "QUIT", "NOOP"},
       "session 1: unexpected \"NOOP\" after the end of the script"},
  };
  for (const auto& c : cases) {
    FakeFtpServer server({Session{Greeting("220 Ready\r\n"), Expect("USER joe", "331 Go on\r\n"),
                                  Expect("QUIT", "221 Bye\r\n")}});
    {
      Client client(server.Port());
      client.ReadLine();
      for (const auto& command : c.commands) {
        client.Send(command);
        client.ReadLine();  // the reply, or nothing once the server has closed
      }
    }
    server.Wait(seconds(5));
    EXPECT_EQ(server.Mismatches(), c.mismatch) << c.name;
  }
}

TEST(FakeFtpServer, GivesUpOnASilentClientAfterItsTimeOut) {
  FakeFtpServer server({Session{Greeting("220 Ready\r\n"), Expect("USER joe", "331 Go on\r\n")}},
                       FakeFtpServerOptions{milliseconds(200)});
  Client client(server.Port());
  auto start = Clock::now();
  EXPECT_FALSE(server.Wait(seconds(5)));
  EXPECT_LT(Since(start), seconds(2));
  EXPECT_EQ(server.Mismatches(),
            "session 1 step 2: expected \"USER joe\", but nothing came for 200 ms");
}

TEST(FakeFtpServer, GivesEachConnectionTheNextSession) {
  FakeFtpServer server({Session{Greeting("220 first\r\n"), Silence()},
                        Session{Greeting("220 second\r\n"), Close()}});
  Client first(server.Port());
  Client second(server.Port());
  EXPECT_EQ(first.ReadLine(), "220 first\r\n");
  EXPECT_EQ(second.ReadLine(), "220 second\r\n");
  first.Send("NOOP");  // recorded, never answered
  EXPECT_TRUE(server.Wait(seconds(5))) << server.Transcript();
  Client third(server.Port());
  EXPECT_EQ(third.ReadLine(), "");
  EXPECT_EQ(server.Mismatches(), "connection 3 came after the last session of the script");
  EXPECT_EQ(server.Connections(), 3);
}

TEST(FakeFtpServer, ResetsTheControlConnectionAfterWhatWasSent) {
  FakeFtpServer server({Session{Greeting("220 Rea"), Reset()}});
  Client client(server.Port());
  int error = 0;
  EXPECT_EQ(client.control().ReceiveAll(&error), "220 Rea");
  EXPECT_EQ(error, ECONNRESET);
  EXPECT_TRUE(server.Wait(seconds(5)));
}

struct TransferCase {
  const char* name;
  bool passive;
  bool upload;
  std::size_t size;
};

class FakeFtpServerTransfer : public ::testing::TestWithParam<TransferCase> {};

TEST_P(FakeFtpServerTransfer, MovesEveryByte) {
  const TransferCase& c = GetParam();
  const std::string payload = Pattern(c.size);
  FakeFtpServer server({Session{
      Greeting("220 Ready\r\n"),
      c.passive ? Expect("PASV", "227 Entering Passive Mode ({pasv})\r\n")
                : Expect("PORT 127,0,0,1,*", "200 PORT ok\r\n"),
      c.upload ? Expect("STOR f", "150 Go\r\n", Data::Receive())
               : Expect("RETR f", "150 Go\r\n", Data::Send(payload)),
      Reply("226 Done\r\n"),
      Expect("QUIT", "221 Bye\r\n"),
      Close(),
  }});
  Client client(server.Port());
  client.ReadLine();
  Socket listener, data;
  if (c.passive) {
    data = client.OpenPassive();
  } else {
    listener = Socket::Listen();
    EXPECT_EQ(client.SendPort(listener), "200 PORT ok\r\n");
  }
  EXPECT_EQ(client.Command(c.upload ? "STOR f" : "RETR f"), "150 Go\r\n");
  if (!c.passive) data = listener.Accept();
  std::string received;
  if (c.upload) {
    data.SendAll(payload);
  } else {
    received = data.ReceiveAll();
  }
  data.Close();
  EXPECT_EQ(client.ReadReply(), "226 Done\r\n");
  EXPECT_EQ(client.Command("QUIT"), "221 Bye\r\n");
  EXPECT_TRUE(server.Wait(seconds(10))) << server.Transcript();
  EXPECT_EQ(server.Mismatches(), "");
  const std::string& moved = c.upload ? server.ReceivedData(0) : received;
  EXPECT_EQ(moved.size(), payload.size());
  EXPECT_TRUE(moved == payload);
}

INSTANTIATE_TEST_SUITE_P(, FakeFtpServerTransfer,
                         ::testing::Values(TransferCase{"PasvDownloadEmpty", true, false, 0},
                                           TransferCase{"PasvDownload5MiB", true, false, 5 << 20},
                                           TransferCase{"PasvUploadEmpty", true, true, 0},
                                           TransferCase{"PasvUpload5MiB", true, true, 5 << 20},
                                           TransferCase{"PortDownloadEmpty", false, false, 0},
                                           TransferCase{"PortDownload5MiB", false, false, 5 << 20},
                                           TransferCase{"PortUploadEmpty", false, true, 0},
                                           TransferCase{"PortUpload5MiB", false, true, 5 << 20}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FakeFtpServer, PasvClosedPointsAtARefusingPort) {
  FakeFtpServer server({Session{Expect("PASV", "227 Entering Passive Mode ({pasv_closed})\r\n")}});
  Client client(server.Port());
  try {
    client.OpenPassive();
    ADD_FAILURE() << "the passive port accepted a connection";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find("Connection refused"), std::string::npos)
        << error.what();
  }
  EXPECT_TRUE(server.Wait(seconds(5)));
}

TEST(FakeFtpServer, EndsADownloadAsScripted) {
  const std::string payload = Pattern(100000);
  struct Case {
    const char* name;
    DataAction action;
    std::string expected;
    int error;
  };
  const Case cases[] = {
      {"close", Data::Close(), "", 0},
      {"reset", Data::Reset(), "", ECONNRESET},
      {"send", Data::Send("abc"), "abc", 0},
      {"send in chunks", Data::Send(payload).Chunks(30000, milliseconds(5)), payload, 0},
      {"reset after 1000", Data::Send(payload).ResetAfter(1000), payload.substr(0, 1000),
       ECONNRESET},
      {"reset before any byte", Data::Close().ResetAfter(0), "", ECONNRESET},
  };
  for (const auto& c : cases) {
    FakeFtpServer server(
        {Session{Expect("PASV", "227 ({pasv})\r\n"), Expect("RETR f", "150 Go\r\n", c.action),
                 Reply("226 Done\r\n")}});
    Client client(server.Port());
    Socket data = client.OpenPassive();
    EXPECT_EQ(client.Command("RETR f"), "150 Go\r\n");
    int error = -1;
    std::string received = data.ReceiveAll(&error);
    EXPECT_EQ(error, c.error) << c.name;
    EXPECT_TRUE(received == c.expected) << c.name << ": " << received.size() << " bytes";
    EXPECT_EQ(client.ReadReply(), "226 Done\r\n") << c.name;
    EXPECT_TRUE(server.Wait(seconds(5))) << c.name << "\n" << server.Transcript();
  }
}

TEST(FakeFtpServer, ResetsAnUploadAfterTheScriptedBytes) {
  FakeFtpServer server({Session{Expect("PASV", "227 ({pasv})\r\n"),
                                Expect("STOR f", "150 Go\r\n", Data::Receive().ResetAfter(1000)),
                                Reply("426 Broken\r\n")}});
  Client client(server.Port());
  Socket data = client.OpenPassive();
  EXPECT_EQ(client.Command("STOR f"), "150 Go\r\n");
  EXPECT_THROW(data.SendAll(Pattern(8 << 20)), std::runtime_error);
  EXPECT_EQ(client.ReadReply(), "426 Broken\r\n");
  EXPECT_TRUE(server.Wait(seconds(5))) << server.Transcript();
  EXPECT_EQ(server.ReceivedData(0).size(), 1000u);
}

TEST(FakeFtpServer, ReadsAborWhileABackgroundTransferRuns) {
  const std::string payload = Pattern(2 << 20);
  FakeFtpServer server({Session{
      Expect("PASV", "227 ({pasv})\r\n"),
      Expect("RETR big", "150 Go\r\n",
             Data::Send(payload).Chunks(16384, milliseconds(20)).InBackground()),
      Expect("ABOR"),
      CloseData(),
      Reply("426 Aborted\r\n226 ABOR done\r\n"),
  }});
  Client client(server.Port());
  Socket data = client.OpenPassive();
  EXPECT_EQ(client.Command("RETR big"), "150 Go\r\n");
  std::string received = data.ReceiveSome();
  EXPECT_FALSE(received.empty());
  client.Send("ABOR");
  EXPECT_EQ(client.ReadLine(), "426 Aborted\r\n");
  EXPECT_EQ(client.ReadLine(), "226 ABOR done\r\n");
  received += data.ReceiveAll();  // the server closed the data connection
  EXPECT_LT(received.size(), payload.size());
  EXPECT_TRUE(received == payload.substr(0, received.size()));
  EXPECT_TRUE(server.Wait(seconds(5))) << server.Transcript();
  EXPECT_EQ(server.Mismatches(), "");
}

TEST(FakeFtpServer, SendsTheClosingReplyWhileTheDataConnectionIsHeld) {
  FakeFtpServer server({Session{
      Expect("PASV", "227 ({pasv})\r\n"),
      Expect("LIST", "150 Here\r\n", Data::Send("a.txt\r\n").ThenHold().InBackground()),
      Reply("226 Done\r\n"),
      AwaitData(),
      Expect("QUIT", "221 Bye\r\n"),
  }});
  Client client(server.Port());
  Socket data = client.OpenPassive();
  EXPECT_EQ(client.Command("LIST"), "150 Here\r\n");
  EXPECT_EQ(client.ReadReply(), "226 Done\r\n");
  EXPECT_EQ(data.ReceiveSome(), "a.txt\r\n");
  pollfd entry{data.Get(), POLLIN, 0};
  EXPECT_EQ(::poll(&entry, 1, 200), 0) << "the data connection must stay open";
  data.Close();
  EXPECT_EQ(client.Command("QUIT"), "221 Bye\r\n");
  EXPECT_TRUE(server.Wait(seconds(5))) << server.Transcript();
}

TEST(FakeFtpServer, NeverConnectLeavesTheClientWaiting) {
  FakeFtpServer server(
      {Session{Expect("PORT *", "200 ok\r\n"), Expect("RETR f", "150 Go\r\n", Data::NeverConnect()),
               Reply("425 No data\r\n")}});
  Client client(server.Port());
  Socket listener = Socket::Listen();
  client.SendPort(listener);
  EXPECT_EQ(client.Command("RETR f"), "150 Go\r\n");
  pollfd entry{listener.Get(), POLLIN, 0};
  EXPECT_EQ(::poll(&entry, 1, 300), 0) << "no data connection may arrive";
  EXPECT_EQ(client.ReadReply(), "425 No data\r\n");
  EXPECT_TRUE(server.Wait(seconds(5)));
}

TEST(FakeFtpServer, KeepsUpWithAThousandCommands) {
  std::vector<Step> steps{Greeting("220 Ready\r\n")};
  for (int i = 0; i < 1000; ++i) {
    steps.push_back(Expect("NOOP " + std::to_string(i), "200 ok " + std::to_string(i) + "\r\n"));
  }
  FakeFtpServer server({Session(steps)});
  Client client(server.Port());
  client.ReadLine();
  auto start = Clock::now();
  for (int i = 0; i < 1000; ++i) {
    ASSERT_EQ(client.Command("NOOP " + std::to_string(i)), "200 ok " + std::to_string(i) + "\r\n");
  }
  EXPECT_LT(Since(start), seconds(5));
  EXPECT_TRUE(server.Wait(seconds(5)));
  EXPECT_EQ(server.Commands().size(), 1000u);
}

TEST(FakeFtpServer, DestructorReturnsWithinASecondWhileTheClientHangsOn) {
  struct Case {
    const char* name;
    Session session;
    const char* transfer;  // the command that opens a data connection first, if any
    FakeFtpServerOptions options{};
  };
  const Case cases[] = {
      {"waiting for a command", Session{Greeting("220 Ready\r\n"), Expect("USER joe")}, nullptr},
      {"waiting at a gate", Session{Greeting("220 Ready\r\n"), WaitFor(Gate())}, nullptr},
      {"in a TLS handshake the client never makes", Session{Greeting("220 Ready\r\n")}, nullptr,
       TlsOptions(true)},
      {"silent", Session{Greeting("220 Ready\r\n"), Silence()}, nullptr},
      {"holding a data connection",
       Session{Greeting("220 Ready\r\n"), Expect("PASV", "227 ({pasv})\r\n"),
               Expect("LIST", "150 Here\r\n", Data::Hold())},
       "LIST"},
      {"sending to a client that does not read",
       Session{Greeting("220 Ready\r\n"), Expect("PASV", "227 ({pasv})\r\n"),
               Expect("RETR f", "150 Go\r\n", Data::Send(Pattern(32 << 20)))},
       "RETR f"},
  };
  for (const auto& c : cases) {
    auto server = std::make_unique<FakeFtpServer>(std::vector<Session>{c.session}, c.options);
    Client client(server->Port());
    if (!c.options.implicit_tls) client.ReadLine();
    Socket data;
    if (c.transfer != nullptr) {
      data = client.OpenPassive();
      EXPECT_EQ(client.Command(c.transfer).substr(0, 4), "150 ") << c.name;
    }
    std::this_thread::sleep_for(milliseconds(50));
    auto start = Clock::now();
    server.reset();
    EXPECT_LT(Since(start), seconds(1)) << c.name;
  }
}

TEST(FakeFtpServer, GatesOrderTheServerAndTheTestBothWays) {
  Gate late("late"), sent("sent");
  FakeFtpServer server({Session{Greeting("220 Ready\r\n"), Expect("NOOP"), WaitFor(late),
                                Reply("200 late\r\n"), Open(sent), Expect("QUIT", "221 Bye\r\n")}});
  Client client(server.Port());
  client.ReadLine();
  client.Send("NOOP");
  pollfd entry{client.control().Get(), POLLIN, 0};
  EXPECT_EQ(::poll(&entry, 1, 200), 0) << "the reply waits for the gate";
  EXPECT_FALSE(sent.IsOpen());
  late.Open();
  ASSERT_TRUE(sent.Wait(seconds(5))) << server.Transcript();
  EXPECT_EQ(::poll(&entry, 1, 0), 1) << "what came before the gate is readable at once";
  EXPECT_EQ(client.ReadLine(), "200 late\r\n");
  EXPECT_EQ(client.Command("QUIT"), "221 Bye\r\n");
  EXPECT_TRUE(server.Wait(seconds(5))) << server.Transcript();
}

TEST(FakeFtpServer, AGateNeverOpenedIsAMismatchAfterTheTimeOut) {
  FakeFtpServer server({Session{Greeting("220 Ready\r\n"), WaitFor(Gate("the test's go")),
                                Expect("QUIT", "221 Bye\r\n")}},
                       FakeFtpServerOptions{milliseconds(200)});
  Client client(server.Port());
  client.ReadLine();
  EXPECT_EQ(client.ReadLine(), "") << "the session ends";
  EXPECT_FALSE(server.Wait(seconds(5)));
  EXPECT_EQ(server.Mismatches(), "session 1 step 2: the test's go was not opened within 200 ms");
}

TEST(FakeFtpServer, TakesTlsOnTheControlConnection) {
  struct Case {
    const char* name;
    bool implicit;
    Step closing;
    int error;  // how the client sees the server's close
  };
  const Case cases[] = {
      {"explicit, close_notify", false, Close(), 0},
      {"explicit, cut", false, CloseWithoutCloseNotify(), kNoCloseNotify},
      {"implicit, close_notify", true, Close(), 0},
      {"implicit, cut", true, CloseWithoutCloseNotify(), kNoCloseNotify},
  };
  auto tls = ClientTlsContext();
  for (const auto& c : cases) {
    std::vector<Step> steps{Greeting("220 Ready\r\n")};
    if (!c.implicit) steps.insert(steps.end(), {Expect("AUTH TLS", "234 Go\r\n"), StartTls()});
    steps.insert(steps.end(), {Expect("USER joe", "331 Password required\r\n"),
                               Expect("QUIT", "221 Bye\r\n"), c.closing});
    FakeFtpServer server({Session(steps)}, TlsOptions(c.implicit));
    Client client(server.Port());
    if (c.implicit) client.StartTls(tls.get());
    EXPECT_EQ(client.ReadLine(), "220 Ready\r\n") << c.name;
    if (!c.implicit) {
      EXPECT_EQ(client.Command("AUTH TLS"), "234 Go\r\n") << c.name;
      client.StartTls(tls.get());
    }
    EXPECT_EQ(client.Command("USER joe"), "331 Password required\r\n") << c.name;
    EXPECT_EQ(client.Command("QUIT"), "221 Bye\r\n") << c.name;
    int error = 1;
    EXPECT_EQ(client.control().ReceiveAll(&error), "") << c.name;
    EXPECT_EQ(error, c.error) << c.name;
    EXPECT_TRUE(server.Wait(seconds(5))) << c.name << "\n" << server.Transcript();
    EXPECT_TRUE(Contains(server.Transcript(), "S1 TLS handshake: TLSv1.3, new session"))
        << c.name << "\n"
        << server.Transcript();
  }
}

TEST(FakeFtpServer, RefusesBytesSentInTheClearBeforeTheHandshake) {
  FakeFtpServer server({Session{Expect("AUTH TLS", "234 Go\r\n"), StartTls(), Expect("*")}},
                       TlsOptions());
  Client client(server.Port());
  client.Send("AUTH TLS\r\nUSER joe");  // a command slipped in before TLS
  EXPECT_EQ(client.ReadLine(), "234 Go\r\n");
  EXPECT_FALSE(server.Wait(seconds(5)));
  EXPECT_EQ(server.Mismatches(),
            "session 1 step 2: 10 bytes came in the clear before the TLS handshake");
}

TEST(FakeFtpServer, EndsAProtectedDownloadAsScripted) {
  const std::string payload = Pattern(300000);
  struct Case {
    const char* name;
    bool passive;
    DataAction action;
    std::string expected;
    int error;
    const char* ending;  // in the transcript
  };
  const Case cases[] = {
      {"close_notify", true, Data::Send(payload), payload, 0, "D0 closed with close_notify"},
      {"close_notify, active", false, Data::Send(payload), payload, 0,
       "D0 closed with close_notify"},
      {"empty", true, Data::Close(), "", 0, "D0 closed with close_notify"},
      {"without close_notify", true, Data::Send(payload).WithoutCloseNotify(), payload,
       kNoCloseNotify, "D0 closed without close_notify"},
      {"cut after 1000", true, Data::Send(payload).CutAfter(1000), payload.substr(0, 1000),
       kNoCloseNotify, "D0 closed without close_notify"},
      {"reset after 1000", true, Data::Send(payload).ResetAfter(1000), payload.substr(0, 1000),
       ECONNRESET, "D0 reset"},
      {"chunks in the background", true,
       Data::Send(payload).Chunks(70000, milliseconds(5)).InBackground(), payload, 0,
       "D0 closed with close_notify"},
  };
  auto tls = ClientTlsContext();
  for (const auto& c : cases) {
    FakeFtpServer server(
        {Session{Expect("AUTH TLS", "234 Go\r\n"), StartTls(), Expect("PROT P", "200 ok\r\n"),
                 ProtectData(),
                 c.passive ? Expect("PASV", "227 ({pasv})\r\n") : Expect("PORT *", "200 ok\r\n"),
                 Expect("RETR f", "150 Go\r\n", c.action), Reply("226 Done\r\n")}},
        TlsOptions());
    Client client(server.Port());
    client.Command("AUTH TLS");
    client.StartTls(tls.get());
    EXPECT_EQ(client.Command("PROT P"), "200 ok\r\n") << c.name;
    Socket listener, data;
    if (c.passive) {
      data = client.OpenPassive();
    } else {
      listener = Socket::Listen();
      client.SendPort(listener);
    }
    EXPECT_EQ(client.Command("RETR f"), "150 Go\r\n") << c.name;
    if (!c.passive) data = listener.Accept();
    data.StartTls(tls.get(), client.control().Session().get());
    int error = 1;
    std::string received = data.ReceiveAll(&error);
    EXPECT_EQ(error, c.error) << c.name;
    EXPECT_TRUE(received == c.expected) << c.name << ": " << received.size() << " bytes";
    EXPECT_EQ(client.ReadReply(), "226 Done\r\n") << c.name;
    EXPECT_TRUE(server.Wait(seconds(5))) << c.name << "\n" << server.Transcript();
    EXPECT_TRUE(Contains(server.Transcript(), c.ending)) << c.name << "\n" << server.Transcript();
  }
}

TEST(FakeFtpServer, TakesAProtectedUploadEndedEitherWay) {
  const std::string payload = Pattern(3 << 20);
  struct Case {
    const char* name;
    bool close_notify;  // the client's
    DataAction action;
    const char* received;  // in the transcript
    int error;             // how the client then sees the server's close
  };
  const Case cases[] = {
      {"close_notify both ways", true, Data::Receive(), "the client sent close_notify", 0},
      {"bare FINs", false, Data::Receive().WithoutCloseNotify(),
       "the client closed without close_notify", kNoCloseNotify},
  };
  auto tls = ClientTlsContext();
  for (const auto& c : cases) {
    FakeFtpServer server(
        {Session{Expect("PROT P", "200 ok\r\n"), ProtectData(), Expect("PASV", "227 ({pasv})\r\n"),
                 Expect("STOR f", "150 Go\r\n", c.action), Reply("226 Done\r\n")}},
        TlsOptions(true));
    Client client(server.Port());
    client.StartTls(tls.get());
    client.Command("PROT P");
    Socket data = client.OpenPassive();
    EXPECT_EQ(client.Command("STOR f"), "150 Go\r\n") << c.name;
    data.StartTls(tls.get(), client.control().Session().get());
    data.SendAll(payload);
    if (c.close_notify) data.CloseNotify();
    ::shutdown(data.Get(), SHUT_WR);
    int error = 1;
    data.ReceiveAll(&error);  // till the server's end, so that no unread ticket resets it
    EXPECT_EQ(error, c.error) << c.name;
    EXPECT_EQ(client.ReadReply(), "226 Done\r\n") << c.name;
    EXPECT_TRUE(server.Wait(seconds(10))) << c.name << "\n" << server.Transcript();
    EXPECT_TRUE(server.ReceivedData(0) == payload)
        << c.name << ": " << server.ReceivedData(0).size();
    EXPECT_TRUE(Contains(server.Transcript(), c.received)) << c.name << "\n" << server.Transcript();
  }
}

TEST(FakeFtpServer, ADataConnectionResumesTheControlSessionOrStartsItsOwn) {
  struct Case {
    const char* name;
    int version;
    uint64_t options;
    bool resume;
    std::string handshake;  // in the transcript
  };
  const Case cases[] = {
      {"TLS 1.3 ticket", TLS1_3_VERSION, 0, true, "TLSv1.3, session resumed"},
      {"TLS 1.3 new", TLS1_3_VERSION, 0, false, "TLSv1.3, new session"},
      {"TLS 1.2 ticket", TLS1_2_VERSION, 0, true, "TLSv1.2, session resumed"},
      {"TLS 1.2 session id", TLS1_2_VERSION, SSL_OP_NO_TICKET, true, "TLSv1.2, session resumed"},
      {"TLS 1.2 new", TLS1_2_VERSION, 0, false, "TLSv1.2, new session"},
  };
  for (const auto& c : cases) {
    auto tls = ClientTlsContext(c.version, c.options);
    FakeFtpServer server(
        {Session{Greeting("220 Ready\r\n"), ProtectData(), Expect("PASV", "227 ({pasv})\r\n"),
                 Expect("LIST", "150 Go\r\n", Data::Send("a.txt\r\n")), Reply("226 Done\r\n")}},
        TlsOptions(true));
    Client client(server.Port());
    client.StartTls(tls.get());
    client.ReadLine();  // also takes in a TLS 1.3 server's tickets
    Socket data = client.OpenPassive();
    EXPECT_EQ(client.Command("LIST"), "150 Go\r\n") << c.name;
    data.StartTls(tls.get(), c.resume ? client.control().Session().get() : nullptr);
    EXPECT_EQ(data.Resumed(), c.resume) << c.name;
    EXPECT_EQ(data.ReceiveAll(), "a.txt\r\n") << c.name;
    EXPECT_EQ(client.ReadReply(), "226 Done\r\n") << c.name;
    EXPECT_TRUE(server.Wait(seconds(5))) << c.name << "\n" << server.Transcript();
    EXPECT_TRUE(Contains(server.Transcript(), "D0 TLS handshake: " + c.handshake))
        << c.name << "\n"
        << server.Transcript();
  }
}

TEST(FakeFtpServer, RefusesATlsScriptWithoutACertificate) {
  EXPECT_THROW(FakeFtpServer({Session{Expect("AUTH TLS", "234 Go\r\n"), StartTls()}}),
               std::invalid_argument);
  FakeFtpServerOptions implicit;
  implicit.implicit_tls = true;
  EXPECT_THROW(FakeFtpServer({Session{Close()}}, implicit), std::invalid_argument);
}

}  // namespace
}  // namespace tarnex::testing
