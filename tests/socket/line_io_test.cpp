// Lines, bytes and line exchanges over a loopback connection; cancel, time-out and errors in
// the middle of a read; status reports; and what a long wait costs.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/errors.h"
#include "socket/async_sock.h"
#include "tests/socket/loopback_peer.h"

namespace tarnex {
namespace {

using testing::LoopbackPeer;
using testing::PumpUntil;

void ConnectTo(TAsyncSock& sock, const LoopbackPeer& peer) {
  sock.Host = "127.0.0.1";
  sock.Port = peer.port();
  sock.TimeOut = 5000;
  sock.Connect();
}

// One command and the line that answers it, reported as a protocol's transaction reports
// them: its trace, then the line at the protocol level.
std::string Exchange(TAsyncSock& sock, const std::string& command) {
  sock.ReportStatus(TAsyncSock::kLevelTrace, "Transaction");
  sock.Writeln(command);
  std::string line = sock.ReadLn();
  if (!line.empty()) sock.ReportStatus(TAsyncSock::kLevelProtocol, line);
  return line;
}

// A peer that sends `chunks` with a pause between them, then closes.
LoopbackPeer::Script SendChunks(std::vector<std::string> chunks) {
  return [chunks = std::move(chunks)](int fd) {
    for (const auto& chunk : chunks) {
      testing::SendAll(fd, chunk);
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
  };
}

// A peer that says nothing until the other side closes.
LoopbackPeer::Script Silent() {
  return [](int fd) { testing::WaitForClose(fd); };
}

// Calls sock.Cancel() from the message loop after `ms`.
class CancelLater {
 public:
  CancelLater(TAsyncSock& sock, uint32_t ms)
      : id_(platform::MessageLoop::Current().StartTimer(ms, [&sock] { sock.Cancel(); })) {}
  ~CancelLater() { platform::MessageLoop::Current().StopTimer(id_); }

 private:
  platform::TimerId id_;
};

TEST(ReadLn, LinesAsTheyArrive) {
  const std::string longest = std::string(65534, 'x') + "\r\n";
  struct Case {
    const char* name;
    std::vector<std::string> chunks;
    std::vector<std::string> lines;  // what ReadLn returns, one call each
  } cases[] = {
      {"split line", {"220 Rea", "dy\r\n230 Next\r\n"}, {"220 Ready\r\n", "230 Next\r\n", ""}},
      {"LF only", {"abc\ndef\n"}, {"abc\n", "def\n", ""}},
      {"empty lines", {"\r\n\n"}, {"\r\n", "\n", ""}},
      {"closed at once", {}, {""}},
      {"unterminated last line", {"220 x\r\n", "tail"}, {"220 x\r\n", "tail", ""}},
      {"line of 65536 bytes", {longest.substr(0, 40000), longest.substr(40000)}, {longest, ""}},
  };
  for (const auto& c : cases) {
    LoopbackPeer peer(SendChunks(c.chunks));
    TAsyncSock sock;
    ConnectTo(sock, peer);
    for (const auto& line : c.lines) EXPECT_EQ(sock.ReadLn(), line) << c.name;
  }
}

TEST(ReadLn, BytesAfterTheLineEndWaitForTheNextRead) {
  // Received together with the line, they stay in the receive buffer: the next line, a count
  // of bytes or a capture gets them, and nothing of them is lost.
  LoopbackPeer peer(SendChunks({"220 Rea", "dy\r\n230 Next\r\nabc"}));
  TAsyncSock sock;
  ConnectTo(sock, peer);
  EXPECT_EQ(sock.ReadLn(), "220 Ready\r\n");
  EXPECT_TRUE(sock.DataAvailable());
  EXPECT_EQ(sock.ReadLn(), "230 Next\r\n");
  EXPECT_EQ(sock.Read(3), "abc");
}

TEST(ReadLn, ALineLongerThan65536BytesIsAnError) {
  LoopbackPeer peer(SendChunks({std::string(65535, 'y') + "\r\n"}));
  TAsyncSock sock;
  ConnectTo(sock, peer);
  try {
    sock.ReadLn();
    ADD_FAILURE() << "no error";
  } catch (const ESockError& error) {
    EXPECT_EQ(error.Message(), "Line too long: no line end within 65536 bytes");
  }
}

TEST(ReadLn, AResetIsReportedThroughOnErrorAndRaised) {
  LoopbackPeer peer([](int fd) {
    testing::SendAll(fd, "220 partial");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    testing::ResetConnection(fd);
  });
  peer.MarkClosed();
  TAsyncSock sock;
  ConnectTo(sock, peer);
  std::vector<std::pair<uint16_t, std::string>> errors;
  sock.OnError = [&](TAsyncSock&, uint16_t code, const std::string& msg) {
    errors.emplace_back(code, msg);
  };
  try {
    sock.ReadLn();
    ADD_FAILURE() << "no error";
  } catch (const EAbortError&) {
    ADD_FAILURE() << "not an abort";
  } catch (const ESockError& error) {
    EXPECT_EQ(error.Message(), "10054:Connection reset by peer");
  }
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].first, 10054);
  EXPECT_EQ(errors[0].second, "10054:Connection reset by peer");
  EXPECT_EQ(sock.LastError, 10054);
  // The connection stays lost for the next read too.
  EXPECT_THROW(sock.ReadLn(), ESockError);
}

TEST(ReadLn, CancelAndTimeOutEndTheWait) {
  {
    LoopbackPeer peer(Silent());
    TAsyncSock sock;
    ConnectTo(sock, peer);
    sock.TimeOut = 0;
    CancelLater cancel(sock, 50);
    try {
      sock.ReadLn();
      ADD_FAILURE() << "no abort";
    } catch (const EAbortError& error) {
      EXPECT_EQ(error.Message(), "Socket readln aborted");
    }
    EXPECT_FALSE(sock.Canceled);
    EXPECT_FALSE(sock.TimedOut);
  }
  {
    LoopbackPeer peer(Silent());
    TAsyncSock sock;
    ConnectTo(sock, peer);
    sock.TimeOut = 150;
    int64_t start = platform::MonotonicMs();
    try {
      sock.ReadLn();
      ADD_FAILURE() << "no abort";
    } catch (const EAbortError& error) {
      EXPECT_EQ(error.Message(), "Socket readln aborted");
    }
    int64_t took = platform::MonotonicMs() - start;
    EXPECT_GE(took, 140);
    EXPECT_LT(took, 1500);
    EXPECT_TRUE(sock.TimedOut);
    EXPECT_TRUE(sock.EventSignalled);
    EXPECT_FALSE(sock.Timer().Running());
  }
}

TEST(ReadLn, AnAbortOverrideDecidesWhatTheTimeOutCancels) {
  // A derived component may cancel something else on time-out; the read then goes on.
  struct OtherAbort : TAsyncSock {
    int aborts = 0;
    void Abort() override { ++aborts; }
  };
  LoopbackPeer peer(SendChunks({"", "", "", "", "late\r\n"}));
  OtherAbort sock;
  ConnectTo(sock, peer);
  sock.TimeOut = 20;
  EXPECT_EQ(sock.ReadLn(), "late\r\n");
  EXPECT_EQ(sock.aborts, 1);
  EXPECT_TRUE(sock.TimedOut);
}

TEST(Read, WaitingBytesOrACount) {
  LoopbackPeer peer(SendChunks({"abc", "defgh"}));
  TAsyncSock sock;
  ConnectTo(sock, peer);
  EXPECT_EQ(sock.Read(6), "abcdef");  // waits for the second piece
  EXPECT_TRUE(PumpUntil([&] { return sock.DataAvailable(); }));
  EXPECT_EQ(sock.Read(0), "gh");
  EXPECT_EQ(sock.Read(0), "");  // nothing waiting
  EXPECT_TRUE(PumpUntil([&] { return !sock.Connected; }));
}

TEST(Read, APeerThatClosesBeforeTheCountHandsOverWhatItSent) {
  LoopbackPeer peer(SendChunks({"abc"}));
  TAsyncSock sock;
  ConnectTo(sock, peer);
  peer.Join();
  EXPECT_EQ(sock.Read(10), "abc");
  EXPECT_EQ(sock.Read(10), "");
}

TEST(Read, CancelEndsTheWait) {
  LoopbackPeer peer([](int fd) {
    testing::SendAll(fd, "ab");
    testing::WaitForClose(fd);
  });
  TAsyncSock sock;
  ConnectTo(sock, peer);
  CancelLater cancel(sock, 50);
  try {
    sock.Read(100);
    ADD_FAILURE() << "no abort";
  } catch (const EAbortError& error) {
    EXPECT_EQ(error.Message(), "Socket send aborted");
  }
}

TEST(Write, TextsArriveAsSent) {
  const std::string long_text(70000, 'z');
  struct Case {
    const char* name;
    std::function<void(TAsyncSock&)> send;
    std::string arrives;
  } cases[] = {
      {"Writeln", [](TAsyncSock& s) { s.Writeln("USER anonymous"); }, "USER anonymous\r\n"},
      {"Write", [](TAsyncSock& s) { s.Write("PART"); }, "PART"},
      {"zero byte ends Write", [](TAsyncSock& s) { s.Write(std::string("AB\0CD", 5)); }, "AB"},
      {"zero byte keeps the line end", [](TAsyncSock& s) { s.Writeln(std::string("AB\0CD", 5)); },
       "AB\r\n"},
      {"SendBuffer with a length", [](TAsyncSock& s) { s.SendBuffer("A\0B", 3); },
       std::string("A\0B", 3)},
      {"SendBuffer up to the zero byte", [](TAsyncSock& s) { s.SendBuffer("AB\0C", 0); }, "AB"},
      {"a text longer than the buffer", [&](TAsyncSock& s) { s.Write(long_text); }, long_text},
  };
  for (const auto& c : cases) {
    std::string received;
    LoopbackPeer peer([&](int fd) { received = testing::ReceiveAll(fd); });
    {
      TAsyncSock sock;
      ConnectTo(sock, peer);
      c.send(sock);
      sock.SetLinger(false);  // an orderly close, so that every byte arrives
      sock.Disconnect();
      peer.Join();
    }
    EXPECT_EQ(received, c.arrives) << c.name;
  }
}

TEST(Write, ASendToAPeerThatStopsReadingEndsAtTheTimeOut) {
  std::atomic<bool> done{false};
  LoopbackPeer peer([&](int) {
    // Reads nothing at all until the test is over (bounded).
    for (int i = 0; i < 1000 && !done; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  });
  TAsyncSock sock;
  ConnectTo(sock, peer);
  sock.TimeOut = 200;
  const std::string block(65535, 'q');
  int64_t start = platform::MonotonicMs();
  bool aborted = false;
  for (int i = 0; i < 4000 && !aborted; ++i) {  // far more than any socket buffer holds
    try {
      sock.Write(block);
    } catch (const EAbortError& error) {
      EXPECT_EQ(error.Message(), "Socket send aborted");
      aborted = true;
    }
  }
  done = true;
  EXPECT_TRUE(aborted);
  EXPECT_TRUE(sock.TimedOut);
  EXPECT_LT(platform::MonotonicMs() - start, 5000);
}

TEST(LineExchange, TheLineComesAsItWasSent) {
  // The channel gives a line as it came; what its digits mean is the protocol's business.
  for (const char* sent :
       {"220 Ready\r\n", "12345 Hello\r\n", "Hello\r\n", "550-Denied\r\n", "40000 Hello\r\n"}) {
    std::string command;
    LoopbackPeer peer([&](int fd) {
      command = testing::ReceiveLine(fd);
      testing::SendAll(fd, sent);
      testing::WaitForClose(fd);
    });
    TAsyncSock sock;
    ConnectTo(sock, peer);
    EXPECT_EQ(Exchange(sock, "NOOP"), sent);
    sock.Disconnect();
    peer.Join();
    EXPECT_EQ(command, "NOOP\r\n");
  }
}

TEST(LineExchange, AClosedPeerGivesAnEmptyLine) {
  LoopbackPeer peer([](int fd) { testing::ReceiveLine(fd); });
  TAsyncSock sock;
  ConnectTo(sock, peer);
  EXPECT_EQ(Exchange(sock, "QUIT"), "");
}

TEST(ReportStatus, TheLevelChoosesWhatIsReported) {
  struct Case {
    int level;
    std::vector<std::string> reported;
  } cases[] = {
      {0, {}},
      {1, {"200 OK\r\n"}},
      {4, {"Sending Buffer", "200 OK\r\n"}},
      {8,
       {"Transaction", "Writeln", "Write", "Sending Buffer", "Timer On", "Timer Off", "ReadLn",
        "Timer On", "Data Available", "Timer Off", "200 OK\r\n"}},
  };
  for (const auto& c : cases) {
    LoopbackPeer peer([](int fd) {
      testing::ReceiveLine(fd);
      testing::SendAll(fd, "200 OK\r\n");
      testing::WaitForClose(fd);
    });
    TAsyncSock sock;
    ConnectTo(sock, peer);
    std::vector<std::string> reported;
    sock.OnStatus = [&](TAsyncSock& s, const std::string& text) {
      EXPECT_EQ(s.StatusText, text);
      reported.push_back(text);
    };
    sock.ReportLevel = c.level;
    Exchange(sock, "NOOP");
    sock.ReportLevel = 0;
    if (c.level == 8) {
      // The read notification may or may not come in the middle of the read.
      std::erase(reported, "Data Available");
      std::vector<std::string> expected = c.reported;
      std::erase(expected, "Data Available");
      EXPECT_EQ(reported, expected);
    } else {
      EXPECT_EQ(reported, c.reported) << c.level;
    }
  }
}

// The CPU time that a ReadLn costs while it waits `ms` on a peer that says nothing, as a
// share of the wall time.
double IdleReadShare(int ms) {
  std::atomic<bool> done{false};
  LoopbackPeer peer([&](int) {
    for (int i = 0; i < ms / 5 + 1000 && !done; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  TAsyncSock sock;
  ConnectTo(sock, peer);
  sock.TimeOut = ms;
  int64_t cpu = testing::ThreadCpuMicros();
  int64_t start = platform::MonotonicMs();
  EXPECT_THROW(sock.ReadLn(), EAbortError);
  int64_t wall_us = (platform::MonotonicMs() - start) * 1000;
  double share = static_cast<double>(testing::ThreadCpuMicros() - cpu) / wall_us;
  done = true;
  std::printf("ReadLn waiting %d ms on a silent peer: %.2f%% of a core\n", ms, share * 100);
  return share;
}

TEST(Waiting, ALongReadBlocksInsteadOfSpinning) {
  EXPECT_LT(IdleReadShare(1000), 0.20);
}

TEST(Waiting, DISABLED_TenSecondsOfSilenceCostWellUnderFivePercent) {
  EXPECT_LT(IdleReadShare(10000), 0.05);
}

}  // namespace
}  // namespace tarnex
