// Plain POSIX socket helpers for the test servers. They deliberately do not use the project's
// own socket layer, which is what these servers test. Every wait is bounded by a deadline and
// gives up early when the caller's stop check says so.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tarnex::testing::detail {

using Clock = std::chrono::steady_clock;
using StopCheck = std::function<bool()>;

// Owns one file descriptor and closes it once.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { Close(); }
  Fd(Fd&& other) noexcept : fd_(other.Release()) {}
  Fd& operator=(Fd&& other) noexcept;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  int Release();
  void Close();

 private:
  int fd_ = -1;
};

enum class Ready { kYes, kTimeout, kStopped, kError };

// Waits until `fd` reports one of `events` (POLLIN, POLLOUT), polling in short slices so that
// a raised stop flag is seen within a few milliseconds.
Ready WaitFor(int fd, short events, Clock::time_point deadline, const StopCheck& stop);

// Sleeps for `duration` unless stopped first; returns false when stopped.
bool SleepFor(std::chrono::milliseconds duration, const StopCheck& stop);

// The loopback address of `family` (127.0.0.1 or ::1) with `port`.
sockaddr_storage LoopbackAddress(int family, uint16_t port);
// True for 127.0.0.0/8 and ::1.
bool IsLoopback(const sockaddr_storage& address);

// A non-blocking TCP socket listening on the loopback address of `family` (127.0.0.1 or ::1)
// at a port the system chooses.
Fd ListenLoopback(int backlog, int family = AF_INET);

// A non-blocking TCP socket bound to a free loopback port that refuses every connection: it
// holds the port so that nobody else takes it while a test points a client at it.
Fd BindClosedLoopbackPort(int family = AF_INET);

uint16_t LocalPort(int fd);
std::string PeerText(int fd);

struct IoResult {
  bool ok = false;
  std::string error;       // why it failed, for the transcript
  bool timed_out = false;  // the peer did nothing until the deadline
};

// Connects to a loopback address within the deadline, from `source` when one is given (another
// loopback address, say 127.0.0.2); the socket comes back non-blocking.
IoResult ConnectTo(const sockaddr_storage& address, Fd& out, Clock::time_point deadline,
                   const StopCheck& stop, const std::string& source = {});

// Accepts one connection within the deadline; the socket comes back non-blocking.
IoResult AcceptOne(int listener, Fd& out, Clock::time_point deadline, const StopCheck& stop);

// Sends all bytes. `idle` bounds how long the peer may leave its window closed.
IoResult SendAll(int fd, std::string_view bytes, std::chrono::milliseconds idle,
                 const StopCheck& stop);

// Sets SO_LINGER to zero and closes, so the peer sees a reset instead of an orderly close.
void ResetClose(Fd& fd);

// Waits (bounded) until the kernel has no unsent or unacknowledged bytes left, so that a reset
// that follows does not throw away data the peer should still see.
void DrainSendQueue(int fd, std::chrono::milliseconds limit, const StopCheck& stop);

// Bytes as a readable, bounded line for transcripts and mismatch reports: CR and LF become
// \r and \n, other control bytes \xNN, and long texts are cut with their full size noted.
std::string Printable(std::string_view bytes, std::size_t limit = 160);

}  // namespace tarnex::testing::detail
