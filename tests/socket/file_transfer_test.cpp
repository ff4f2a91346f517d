// Whole files sent and captured over a loopback connection.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "socket/async_sock.h"
#include "tests/socket/loopback_peer.h"
#include "tests/support/temp_dir.h"

namespace tarnex {
namespace {

using testing::LoopbackPeer;

// Bytes that differ from block to block, so that a lost or repeated block shows.
std::string Content(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7) ^ (i >> 16));
  return bytes;
}

void ConnectTo(TAsyncSock& sock, const LoopbackPeer& peer) {
  sock.Host = "127.0.0.1";
  sock.Port = peer.port();
  sock.TimeOut = 5000;
  sock.Connect();
}

// Records the byte counter at every packet event.
struct PacketLog {
  std::vector<int64_t> counts;
  // Each step lies between 1 and a whole block, and the steps add up to `total`.
  void Check(int64_t total, const char* what, int64_t block = 65536) const {
    int64_t previous = 0;
    for (int64_t count : counts) {
      EXPECT_GE(count - previous, 1) << what;
      EXPECT_LE(count - previous, block) << what;
      previous = count;
    }
    EXPECT_EQ(previous, total) << what;
    EXPECT_GE(static_cast<int64_t>(counts.size()), (total + block - 1) / block) << what;
  }
};

// The last is more than a download moves before it starts writing the file back to disk.
const size_t kSizes[] = {0, 1, 65535, 65536, 65537, 3 * 1024 * 1024 + 123, 9 * 1024 * 1024 + 5};

// Copied through the process (a peer on this machine) or sent by the kernel (anywhere else).
TEST(SendFile, TheFileArrivesByteForByteCopiedOrSentByTheKernel) {
  testing::TempDir dir;
  for (bool kernel : {false, true}) {
    for (size_t size : kSizes) {
      std::string content = Content(size);
      std::string name = dir / ("send-" + std::to_string(size));
      platform::WriteFileBytes(name, content);
      std::string received;
      LoopbackPeer peer([&](int fd) { received = testing::ReceiveAll(fd); });
      TAsyncSock sock;
      sock.KernelSendToLoopback = kernel;
      ConnectTo(sock, peer);
      PacketLog log;
      sock.OnPacketSent = [&](TAsyncSock& s) { log.counts.push_back(s.BytesSent); };
      sock.SendFile(name);
      sock.SetLinger(false);
      sock.Disconnect();
      peer.Join();
      const char* how = kernel ? "SendFile by the kernel" : "SendFile copied";
      EXPECT_EQ(received.size(), size) << how;
      EXPECT_TRUE(received == content) << size << how;
      EXPECT_EQ(sock.BytesSent, static_cast<int64_t>(size)) << how;
      log.Check(static_cast<int64_t>(size), how);
    }
  }
}

TEST(SendFile, AMissingFileRaisesTheFileErrorNamingIt) {
  testing::TempDir dir;
  std::string name = dir / "missing.bin";
  LoopbackPeer peer([](int fd) { testing::WaitForClose(fd); });
  TAsyncSock sock;
  ConnectTo(sock, peer);
  try {
    sock.SendFile(name);
    ADD_FAILURE();
  } catch (const EFileError& error) {
    EXPECT_EQ(error.Message(), platform::FileOpenErrorText(name));
  }
}

TEST(CaptureFile, TheFileIsWrittenByteForByte) {
  testing::TempDir dir;
  for (size_t size : kSizes) {
    std::string content = Content(size);
    std::string name = dir / ("capture-" + std::to_string(size));
    platform::WriteFileBytes(name, "old content that must go");
    LoopbackPeer peer([&](int fd) { testing::SendAll(fd, content); });
    TAsyncSock sock;
    ConnectTo(sock, peer);
    PacketLog log;
    sock.OnPacketRecvd = [&](TAsyncSock& s) { log.counts.push_back(s.BytesReceived); };
    sock.CaptureFile(name);
    EXPECT_EQ(sock.BytesReceived, static_cast<int64_t>(size));
    EXPECT_TRUE(platform::ReadFileBytes(name) == content) << size;
    // The kernel moves a download through a pipe of 1 MiB.
    log.Check(static_cast<int64_t>(size), "CaptureFile", int64_t{1} << 20);
    EXPECT_FALSE(sock.Timer().Running());
  }
}

TEST(CaptureFile, AFileThatCannotBeCreatedLeavesNoTimeOutBehind) {
  testing::TempDir dir;
  std::string name = dir / "no-such-dir/file.bin";
  LoopbackPeer peer([](int fd) { testing::WaitForClose(fd); });
  TAsyncSock sock;
  ConnectTo(sock, peer);
  sock.TimeOut = 30;
  try {
    sock.CaptureFile(name);
    ADD_FAILURE();
  } catch (const EFileError& error) {
    EXPECT_EQ(error.Message(), platform::FileCreateErrorText(name));
  }
  testing::Pump(100);
  EXPECT_FALSE(sock.TimedOut);
  EXPECT_FALSE(sock.Canceled);
}

TEST(CaptureFile, TheTimeOutBoundsTheWholeCapture) {
  testing::TempDir dir;
  std::atomic<bool> stop{false};
  LoopbackPeer peer([&](int fd) {
    // A trickle that never pauses long: only a limit on the whole capture ends it.
    for (int i = 0; i < 500 && !stop; ++i) {
      if (!testing::SendAll(fd, "x")) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  TAsyncSock sock;
  ConnectTo(sock, peer);
  sock.TimeOut = 250;
  int64_t start = platform::MonotonicMs();
  try {
    sock.CaptureFile(dir / "trickle");
    ADD_FAILURE();
  } catch (const EAbortError& error) {
    EXPECT_EQ(error.Message(), "Socket send aborted");
  }
  stop = true;
  int64_t took = platform::MonotonicMs() - start;
  EXPECT_GE(took, 240);
  EXPECT_LT(took, 2000);
  EXPECT_TRUE(sock.TimedOut);
  EXPECT_GT(sock.BytesReceived, 0);
}

TEST(CaptureFile, CancelEndsTheCapture) {
  testing::TempDir dir;
  LoopbackPeer peer([](int fd) { testing::WaitForClose(fd); });
  TAsyncSock sock;
  ConnectTo(sock, peer);
  sock.TimeOut = 0;
  platform::TimerId cancel =
      platform::MessageLoop::Current().StartTimer(50, [&] { sock.Cancel(); });
  EXPECT_THROW(sock.CaptureFile(dir / "canceled"), EAbortError);
  platform::MessageLoop::Current().StopTimer(cancel);
  EXPECT_FALSE(sock.Canceled);
  EXPECT_TRUE(platform::FileExists(dir / "canceled"));
}

}  // namespace
}  // namespace tarnex
