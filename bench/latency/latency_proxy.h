// A TCP proxy on loopback that delays every byte by a fixed time in each direction, so that
// benchmarks on one machine see the round trips of a real network. It speaks enough FTP to
// put the data connections through itself too: the server's PASV and EPSV answers and the
// client's PORT and EPRT commands are readdressed to ports of the proxy. Once the client asks
// for TLS (AUTH), the control connection is only delayed, no longer read, so data connections
// of an FTPS session do not pass the proxy.
//
// Each connection has one thread that moves both directions; what is read waits in memory
// until it is due (at most kMaxQueuedBytes per direction, then reading pauses), so the delay
// does not cap the throughput.
#pragma once

#include <chrono>
#include <cstdint>
#include <list>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace tarnex::bench {

// A file descriptor that closes itself.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(Fd&& other) noexcept : fd_(other.Release()) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = other.Release();
    }
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset();

 private:
  int fd_ = -1;
};

class LatencyProxy {
 public:
  static constexpr size_t kMaxQueuedBytes = 64u << 20;

  // Listens on 127.0.0.1 at `listen_port` (0: a free port) for clients of the server at
  // 127.0.0.1:`server_port`. Throws std::system_error when it cannot listen.
  LatencyProxy(uint16_t server_port, std::chrono::microseconds one_way_delay,
               uint16_t listen_port = 0);
  // Ends every connection at once and waits for their threads.
  ~LatencyProxy();
  LatencyProxy(const LatencyProxy&) = delete;
  LatencyProxy& operator=(const LatencyProxy&) = delete;

  uint16_t Port() const { return port_; }

  // What the clients have asked for so far: their commands by verb (until a session turns to
  // TLS), the data connections made, and the control connections whose client has not closed
  // yet (while one is open, commands may still be on their way).
  struct Tally {
    std::map<std::string, uint64_t> commands;
    uint64_t data_connections = 0;
    uint64_t open_sessions = 0;
  };
  Tally Counts() const;

 private:
  struct Worker {
    std::thread thread;
    bool done = false;
  };
  class Relay;

  void AcceptClients();
  // Runs `work` on a thread of its own, and joins the threads that have ended.
  template <typename Work>
  void Spawn(Work work);
  // A listener for one data connection; `target` is where the proxy connects once the
  // other side has connected to it. Returns the listener's port.
  uint16_t OfferDataConnection(const std::string& target_host, uint16_t target_port);
  void RunControl(Fd client);
  void RunData(Fd listener, std::string target_host, uint16_t target_port);
  // Waits `delay_` unless the proxy stops first (then false).
  bool WaitOneWay() const;

  mutable std::mutex tally_mutex_;
  Tally tally_;
  const uint16_t server_port_;
  const std::chrono::microseconds delay_;
  Fd listener_;
  Fd stop_;  // an eventfd: readable once the proxy stops
  uint16_t port_ = 0;
  std::mutex workers_mutex_;
  std::list<Worker> workers_;
  std::thread acceptor_;
};

}  // namespace tarnex::bench
