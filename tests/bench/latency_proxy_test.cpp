// The latency proxy of the benchmarks: what it readdresses, that it delays, that it moves
// every byte, and that FTP sessions with data connections pass through it.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "bench/latency/announcements.h"
#include "bench/latency/latency_proxy.h"
#include "tests/support/process_run.h"
#include "tests/support/real_ftp_server.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_socket.h"

namespace tarnex::bench {
namespace {

using namespace std::chrono_literals;
using testing::detail::Clock;

TEST(Announcements, DataEndpointsAreFoundAndReaddressed) {
  using Kind = Announcement::Kind;
  const struct {
    bool from_server;
    const char* line;
    Kind kind;
    const char* host;
    uint16_t port;
    const char* readdressed;  // to port 4660 (18 * 256 + 52)
  } cases[] = {
      {true, "227 Entering Passive Mode (127,0,0,1,200,10).\r\n", Kind::Pasv, "127.0.0.1", 51210,
       "227 Entering Passive Mode (127,0,0,1,18,52).\r\n"},
      {true, "227 =10,1,2,3,0,21\r\n", Kind::Pasv, "10.1.2.3", 21, "227 =127,0,0,1,18,52\r\n"},
      {true, "229 Entering Extended Passive Mode (|||6446|)\r\n", Kind::Epsv, "", 6446,
       "229 Entering Extended Passive Mode (|||4660|)\r\n"},
      {false, "PORT 127,0,0,1,4,1\r\n", Kind::Port, "127.0.0.1", 1025, "PORT 127,0,0,1,18,52\r\n"},
      {false, "port 127,0,0,1,4,1\r\n", Kind::Port, "127.0.0.1", 1025, "port 127,0,0,1,18,52\r\n"},
      {false, "EPRT |2|::1|6275|\r\n", Kind::Eprt, "::1", 6275, "EPRT |1|127.0.0.1|4660|\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const auto found =
        c.from_server ? ParseServerAnnouncement(c.line) : ParseClientAnnouncement(c.line);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->kind, c.kind);
    EXPECT_EQ(found->host, c.host);
    EXPECT_EQ(found->port, c.port);
    EXPECT_EQ(Readdressed(c.line, *found, 4660), c.readdressed);
  }
  // Lines that name no data endpoint pass as they are.
  for (const char* line : {"227 no numbers\r\n", "227 (1,2,3,4,5)\r\n", "227 (1,2,3,4,5,256)\r\n",
                           "229 (|||0|)\r\n", "229 (|||x|)\r\n", "226 (|||6446|)\r\n"}) {
    EXPECT_FALSE(ParseServerAnnouncement(line)) << line;
  }
  for (const char* line : {"PORTS 1,2,3,4,5,6\r\n", "EPRT |1|127.0.0.1|\r\n", "RETR PORT\r\n",
                           "EPRT |1|127.0.0.1|99999|\r\n"}) {
    EXPECT_FALSE(ParseClientAnnouncement(line)) << line;
  }
}

TEST(Announcements, CommandVerbsAreReadInCapitals) {
  const struct {
    const char* line;
    const char* verb;
  } cases[] = {{"RETR a.bin\r\n", "RETR"}, {"retr a.bin\r\n", "RETR"}, {"QUIT\r\n", "QUIT"},
               {"Pasv\n", "PASV"},          {"\r\n", ""},                {" NOOP\r\n", ""}};
  for (const auto& c : cases) EXPECT_EQ(CommandVerb(c.line), c.verb) << c.line;
}

// A server that sends back what it receives, on one connection, until the client's end.
class EchoServer {
 public:
  EchoServer() : listener_(testing::detail::ListenLoopback(1)) {
    thread_ = std::thread([this] {
      const auto stop = [] { return false; };
      testing::detail::Fd connection;
      if (!testing::detail::AcceptOne(listener_.Get(), connection, Clock::now() + 30s, stop).ok) {
        return;
      }
      char buffer[65536];
      for (;;) {
        if (testing::detail::WaitFor(connection.Get(), POLLIN, Clock::now() + 30s, stop) !=
            testing::detail::Ready::kYes) {
          return;
        }
        const ssize_t n = ::read(connection.Get(), buffer, sizeof buffer);
        if (n < 0 && errno == EAGAIN) continue;
        if (n <= 0) return;  // the client's end: closing answers it
        if (!testing::detail::SendAll(connection.Get(), {buffer, static_cast<size_t>(n)}, 30s, stop)
                 .ok) {
          return;
        }
      }
    });
  }
  ~EchoServer() { thread_.join(); }
  uint16_t Port() const { return testing::detail::LocalPort(listener_.Get()); }

 private:
  testing::detail::Fd listener_;
  std::thread thread_;
};

// A blocking client connection through the proxy, every read bounded.
testing::detail::Fd ConnectThrough(const LatencyProxy& proxy) {
  testing::detail::Fd fd;
  const auto stop = [] { return false; };
  EXPECT_TRUE(testing::detail::ConnectTo(testing::detail::LoopbackAddress(AF_INET, proxy.Port()),
                                         fd, Clock::now() + 10s, stop)
                  .ok);
  return fd;
}

// Everything until the end of the stream, or what came within 30 s.
std::string ReadToEnd(int fd) {
  std::string bytes;
  char buffer[65536];
  const auto deadline = Clock::now() + 30s;
  while (testing::detail::WaitFor(fd, POLLIN, deadline, [] { return false; }) ==
         testing::detail::Ready::kYes) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EAGAIN) continue;
    if (n <= 0) break;
    bytes.append(buffer, static_cast<size_t>(n));
  }
  return bytes;
}

TEST(LatencyProxy, EveryByteComesBackAfterTwiceTheDelay) {
  EchoServer echo;
  LatencyProxy proxy(echo.Port(), 40ms);
  testing::detail::Fd client = ConnectThrough(proxy);
  // One line's round trip (the proxy reads the control connection by lines): never sooner
  // than one delay there and one back.
  const auto sent = Clock::now();
  ASSERT_TRUE(testing::detail::SendAll(client.Get(), "x\n", 10s, [] { return false; }).ok);
  ASSERT_EQ(
      testing::detail::WaitFor(client.Get(), POLLIN, Clock::now() + 10s, [] { return false; }),
      testing::detail::Ready::kYes);
  EXPECT_GE(Clock::now() - sent, 80ms);
  char first[2] = {};
  ASSERT_EQ(::read(client.Get(), first, 2), 2);
  EXPECT_EQ(std::string(first, 2), "x\n");
  // 24 MiB of random bytes (lines of every length, the last one unended) both ways while they
  // are still arriving, then the end of the stream through the proxy to the server and back.
  std::string bytes(24u << 20, '\0');
  std::mt19937 random(7);
  for (char& c : bytes) c = static_cast<char>(random());
  std::thread writer([&] {
    EXPECT_TRUE(testing::detail::SendAll(client.Get(), bytes, 30s, [] { return false; }).ok);
    ::shutdown(client.Get(), SHUT_WR);
  });
  const std::string echoed = ReadToEnd(client.Get());
  writer.join();
  EXPECT_EQ(echoed.size(), bytes.size());
  EXPECT_TRUE(echoed == bytes);
}

// tarnex-run through the proxy to a real server: uploads, listings and downloads over passive
// and active data connections, byte for byte.
TEST(LatencyProxy, FtpSessionsPassWithTheirDataConnections) {
  TARNEX_SKIP_UNLESS_REAL_FTP_SERVER();
  testing::RealFtpServer server;
  LatencyProxy proxy(server.Port(), 5ms);
  testing::TempDir dir;
  std::string bytes(3u << 20, '\0');
  std::mt19937 random(11);
  for (char& c : bytes) c = static_cast<char>(random());
  std::ofstream(dir / "up.bin", std::ios::binary) << bytes;
  for (const char* passive : {"on", "off"}) {
    SCOPED_TRACE(passive);
    const LatencyProxy::Tally before = proxy.Counts();
    std::ofstream(dir / "s.fcs", std::ios::binary)
        << "Open 127.0.0.1 NONE " << proxy.Port() << "\r\nLogin " << server.User() << " "
        << server.Password() << "\r\nPassive " << passive
        << "\r\nBinary\r\nPut up.bin\r\nDir >list.txt\r\nGet up.bin down.bin\r\nBye\r\n";
    const auto outcome = testing::RunProcess(
        dir.path().string(), "'" TARNEX_RUN "' --registry '" + (dir / "registry.db") + "' s.fcs",
        60);
    EXPECT_EQ(outcome.status, 0) << outcome.out << outcome.err;
    std::ifstream down(dir / "down.bin", std::ios::binary);
    const std::string got{std::istreambuf_iterator<char>(down), {}};
    EXPECT_TRUE(got == bytes) << got.size();
    std::ifstream list(dir / "list.txt");
    const std::string listing{std::istreambuf_iterator<char>(list), {}};
    EXPECT_NE(listing.find("up.bin"), std::string::npos) << listing;
    std::filesystem::remove(dir / "down.bin");
    // The proxy has counted the session's commands once its client has closed (which it
    // sees soon after the runner's end).
    LatencyProxy::Tally after = proxy.Counts();
    for (const auto deadline = Clock::now() + 10s;
         after.open_sessions > 0 && Clock::now() < deadline; after = proxy.Counts()) {
      std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(after.open_sessions, 0u);
    const auto added = [&](const char* verb) {
      const auto count = [verb](const LatencyProxy::Tally& tally) {
        const auto found = tally.commands.find(verb);
        return found == tally.commands.end() ? uint64_t{0} : found->second;
      };
      return count(after) - count(before);
    };
    EXPECT_EQ(after.data_connections - before.data_connections, 3u);  // Put, Dir, Get
    EXPECT_EQ(added("STOR"), 1u);
    EXPECT_EQ(added("RETR"), 1u);
    EXPECT_EQ(added("QUIT"), 1u);
    EXPECT_EQ(added(std::string(passive) == "on" ? "PORT" : "EPSV"), 0u);
  }
}

}  // namespace
}  // namespace tarnex::bench
