#include "bench/latency/latency_proxy.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <utility>
#include <vector>

#include "bench/latency/announcements.h"

namespace tarnex::bench {

using Clock = std::chrono::steady_clock;

void Fd::Reset() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

namespace {

constexpr size_t kReadSize = 256u << 10;
constexpr size_t kSpareBuffers = 64;
constexpr auto kDataConnectionWait = std::chrono::seconds(60);

[[noreturn]] void Fail(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

Fd ConnectTo(const std::string& host, uint16_t port) {
  addrinfo hints{};
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) {
    throw std::runtime_error("latency proxy: no address " + host);
  }
  const std::unique_ptr<addrinfo, void (*)(addrinfo*)> owned(found, ::freeaddrinfo);
  Fd fd(::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd) Fail("socket");
  if (::connect(fd.Get(), found->ai_addr, found->ai_addrlen) != 0) Fail("connect");
  return fd;
}

// A listener on 127.0.0.1; `port` 0 takes a free one, and is set to it.
Fd ListenOn(uint16_t& port) {
  Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd) Fail("socket");
  const int on = 1;
  ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) Fail("bind");
  if (::listen(fd.Get(), 64) != 0) Fail("listen");
  socklen_t length = sizeof address;
  ::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&address), &length);
  port = ntohs(address.sin_port);
  return fd;
}

// Waits for `fd` to be readable; false when `stop` became readable first, or after `limit`.
bool WaitReadable(int fd, int stop, std::chrono::milliseconds limit) {
  pollfd fds[2] = {{fd, POLLIN, 0}, {stop, POLLIN, 0}};
  const int ready = ::poll(fds, 2, static_cast<int>(limit.count()));
  return ready > 0 && fds[1].revents == 0 && fds[0].revents != 0;
}

void SetNonBlocking(int fd) {
  const int on = 1;
  ::ioctl(fd, FIONBIO, &on);
}

}  // namespace

// Moves the bytes of two connected sockets both ways, each chunk `delay` after it was read.
class LatencyProxy::Relay {
 public:
  // Called with each whole line (its line end included); returns what goes on instead.
  using LineFilter = std::function<std::string(std::string_view line)>;

  Relay(Fd a, Fd b, std::chrono::microseconds delay, int stop) : delay_(delay), stop_(stop) {
    SetNonBlocking(a.Get());
    SetNonBlocking(b.Get());
    // A piece goes out when it is due: the proxy's own Nagle would hold a small one for the
    // acknowledgement of the one before, a stall of up to 40 ms that no network path adds.
    const int on = 1;
    ::setsockopt(a.Get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::setsockopt(b.Get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ends_[0] = std::move(a);
    ends_[1] = std::move(b);
  }

  // Lines read from end `from` (0 or 1) pass `filter` until StopReadingLines.
  void FilterLines(int from, LineFilter filter) { directions_[from].filter = std::move(filter); }
  // From here on the bytes pass as they are (the session turns to TLS).
  void StopReadingLines() { reading_lines_ = false; }
  // Called once when end `from` has nothing more to read (its end, a reset, a failed send).
  void WhenReadEnds(int from, std::function<void()> ended) {
    directions_[from].read_end = std::move(ended);
  }

  void Run() {
    while (!(directions_[0].done && directions_[1].done)) {
      pollfd fds[3] = {{ends_[0].Get(), 0, 0}, {ends_[1].Get(), 0, 0}, {stop_, POLLIN, 0}};
      std::optional<Clock::duration> wait;
      const Clock::time_point now = Clock::now();
      for (int from = 0; from < 2; ++from) {
        Direction& d = directions_[from];
        if (!d.read_ended && d.queued < kMaxQueuedBytes) fds[from].events |= POLLIN;
        if (d.queue.empty() || d.done) continue;
        if (d.queue.front().due <= now) {
          fds[1 - from].events |= POLLOUT;
        } else {
          wait = std::min(wait.value_or(Clock::duration::max()), d.queue.front().due - now);
        }
      }
      timespec timeout{};
      if (wait) {
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(*wait).count();
        timeout = {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
      }
      if (::ppoll(fds, 3, wait ? &timeout : nullptr, nullptr) < 0 && errno != EINTR) return;
      if (fds[2].revents != 0) return;
      for (int from = 0; from < 2; ++from) {
        if (fds[from].revents != 0 && (fds[from].events & POLLIN) != 0) Read(from);
      }
      for (int from = 0; from < 2; ++from) Write(from);
    }
  }

 private:
  // Bytes in a buffer of their own. Buffers of kReadSize are used again: a fresh one each
  // time would cost its pages' first touch, which is most of the work at a GiB per second.
  struct Chunk {
    Clock::time_point due;
    std::unique_ptr<char[]> data;
    size_t size = 0;
    bool end = false;       // the end of the stream: the other side's writing is shut down
    bool reusable = false;  // a buffer of kReadSize
    size_t offset = 0;
  };
  struct Direction {
    std::deque<Chunk> queue;
    size_t queued = 0;
    bool read_ended = false;
    bool done = false;
    LineFilter filter;
    std::function<void()> read_end;
    std::string partial;  // a line not yet ended, while lines are read
  };

  std::unique_ptr<char[]> Buffer() {
    if (spare_.empty()) return std::make_unique_for_overwrite<char[]>(kReadSize);
    std::unique_ptr<char[]> buffer = std::move(spare_.back());
    spare_.pop_back();
    return buffer;
  }

  void Queue(Direction& d, std::unique_ptr<char[]> data, size_t size, bool end = false,
             bool reusable = false) {
    d.queued += size;
    d.queue.push_back({Clock::now() + delay_, std::move(data), size, end, reusable});
  }
  void Queue(Direction& d, std::string_view bytes) {
    if (bytes.empty()) return;
    auto data = std::make_unique_for_overwrite<char[]>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), data.get());
    Queue(d, std::move(data), bytes.size());
  }

  void Read(int from) {
    Direction& d = directions_[from];
    std::unique_ptr<char[]> buffer = Buffer();
    const ssize_t n = ::read(ends_[from].Get(), buffer.get(), kReadSize);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      spare_.push_back(std::move(buffer));
      return;
    }
    if (n <= 0) {  // the end, or a reset: both end the stream this way
      ReadEnded(d);
      Queue(d, std::exchange(d.partial, {}));
      Queue(d, nullptr, 0, true);
      return;
    }
    if (!d.filter || !reading_lines_) {
      Queue(d, std::exchange(d.partial, {}));
      Queue(d, std::move(buffer), static_cast<size_t>(n), false, true);
      return;
    }
    d.partial.append(buffer.get(), static_cast<size_t>(n));
    spare_.push_back(std::move(buffer));
    std::string out;
    size_t start = 0;
    for (size_t end; reading_lines_ && (end = d.partial.find('\n', start)) != std::string::npos;
         start = end + 1) {
      out += d.filter(std::string_view(d.partial).substr(start, end + 1 - start));
    }
    d.partial.erase(0, start);
    if (!reading_lines_) out += std::exchange(d.partial, {});
    Queue(d, out);
  }

  void ReadEnded(Direction& d) {
    d.read_ended = true;
    if (d.read_end) std::exchange(d.read_end, nullptr)();
  }

  void Write(int from) {
    Direction& d = directions_[from];
    const int to = ends_[1 - from].Get();
    while (!d.done && !d.queue.empty() && d.queue.front().due <= Clock::now()) {
      Chunk& chunk = d.queue.front();
      if (chunk.end) {
        ::shutdown(to, SHUT_WR);
        d.done = true;
        break;
      }
      const ssize_t n =
          ::send(to, chunk.data.get() + chunk.offset, chunk.size - chunk.offset, MSG_NOSIGNAL);
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
      if (n < 0) {  // the other side is gone: nothing more can reach it
        d.done = true;
        ReadEnded(d);
        return;
      }
      chunk.offset += static_cast<size_t>(n);
      if (chunk.offset < chunk.size) return;
      d.queued -= chunk.size;
      if (chunk.reusable && spare_.size() < kSpareBuffers) spare_.push_back(std::move(chunk.data));
      d.queue.pop_front();
    }
  }

  const std::chrono::microseconds delay_;
  const int stop_;
  Fd ends_[2];
  Direction directions_[2];
  std::vector<std::unique_ptr<char[]>> spare_;
  bool reading_lines_ = true;
};

LatencyProxy::LatencyProxy(uint16_t server_port, std::chrono::microseconds one_way_delay,
                           uint16_t listen_port)
    : server_port_(server_port), delay_(one_way_delay), port_(listen_port) {
  listener_ = ListenOn(port_);
  stop_ = Fd(::eventfd(0, EFD_CLOEXEC));
  if (!stop_) Fail("eventfd");
  acceptor_ = std::thread([this] { AcceptClients(); });
}

LatencyProxy::~LatencyProxy() {
  const uint64_t one = 1;
  if (::write(stop_.Get(), &one, sizeof one) != sizeof one) std::perror("latency proxy: stop");
  acceptor_.join();
  // Joined without the lock, which each thread takes once more as it ends; a thread that
  // starts meanwhile (a data connection offered just before the stop) is joined next round.
  for (;;) {
    std::list<Worker> workers;
    {
      std::lock_guard<std::mutex> lock(workers_mutex_);
      if (workers_.empty()) break;
      workers.splice(workers.begin(), workers_);
    }
    for (Worker& worker : workers) worker.thread.join();
  }
}

template <typename Work>
void LatencyProxy::Spawn(Work work) {
  std::lock_guard<std::mutex> lock(workers_mutex_);
  workers_.remove_if([](Worker& worker) {
    if (!worker.done) return false;
    worker.thread.join();
    return true;
  });
  Worker& worker = workers_.emplace_back();
  worker.thread = std::thread([this, &worker, work = std::move(work)]() mutable {
    try {
      work();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "latency proxy: %s\n", e.what());
    }
    std::lock_guard<std::mutex> done_lock(workers_mutex_);
    worker.done = true;
  });
}

void LatencyProxy::AcceptClients() {
  for (;;) {
    pollfd fds[2] = {{listener_.Get(), POLLIN, 0}, {stop_.Get(), POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
    if (fds[1].revents != 0) return;
    if (fds[0].revents == 0) continue;
    Fd client(::accept4(listener_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!client) continue;
    {
      std::lock_guard<std::mutex> lock(tally_mutex_);
      ++tally_.open_sessions;
    }
    Spawn([this, client = std::make_shared<Fd>(std::move(client))] {
      RunControl(std::move(*client));
    });
  }
}

bool LatencyProxy::WaitOneWay() const {
  pollfd stop{stop_.Get(), POLLIN, 0};
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(delay_).count();
  const timespec timeout{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
  return ::ppoll(&stop, 1, &timeout, nullptr) == 0;
}

uint16_t LatencyProxy::OfferDataConnection(const std::string& target_host, uint16_t target_port) {
  uint16_t port = 0;
  auto listener = std::make_shared<Fd>(ListenOn(port));
  Spawn([this, listener, target_host, target_port] {
    RunData(std::move(*listener), target_host, target_port);
  });
  return port;
}

LatencyProxy::Tally LatencyProxy::Counts() const {
  std::lock_guard<std::mutex> lock(tally_mutex_);
  return tally_;
}

void LatencyProxy::RunControl(Fd client) {
  // The session counts as open until its client has nothing more to say, or the relay ends.
  bool open = true;
  const auto closed = [this, &open] {
    std::lock_guard<std::mutex> lock(tally_mutex_);
    if (std::exchange(open, false)) --tally_.open_sessions;
  };
  struct CloseAtExit {
    const decltype(closed)& close;
    ~CloseAtExit() { close(); }
  } close_at_exit{closed};
  // The connection reaches the server one way later.
  if (!WaitOneWay()) return;
  Relay relay(std::move(client), ConnectTo("127.0.0.1", server_port_), delay_, stop_.Get());
  relay.WhenReadEnds(0, closed);
  bool tls_asked = false;
  relay.FilterLines(0, [this, &tls_asked](std::string_view line) {
    if (line.size() >= 5 && (line.substr(0, 5) == "AUTH " || line.substr(0, 5) == "auth ")) {
      tls_asked = true;
    }
    if (const std::string verb = CommandVerb(line); !verb.empty()) {
      std::lock_guard<std::mutex> lock(tally_mutex_);
      ++tally_.commands[verb];
    }
    const auto announced = ParseClientAnnouncement(line);
    if (!announced) return std::string(line);
    return Readdressed(line, *announced, OfferDataConnection(announced->host, announced->port));
  });
  relay.FilterLines(1, [this, &tls_asked, &relay](std::string_view line) {
    if (tls_asked && line.substr(0, 4) == "234 ") relay.StopReadingLines();
    const auto announced = ParseServerAnnouncement(line);
    if (!announced) return std::string(line);
    // Data connections go to the server's address, whatever the reply says.
    return Readdressed(line, *announced, OfferDataConnection("127.0.0.1", announced->port));
  });
  relay.Run();
}

void LatencyProxy::RunData(Fd listener, std::string target_host, uint16_t target_port) {
  if (!WaitReadable(listener.Get(), stop_.Get(),
                    std::chrono::duration_cast<std::chrono::milliseconds>(kDataConnectionWait))) {
    return;  // never used (a failed command), or the proxy stops
  }
  Fd accepted(::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
  listener.Reset();
  if (!accepted) return;
  {
    std::lock_guard<std::mutex> lock(tally_mutex_);
    ++tally_.data_connections;
  }
  if (!WaitOneWay()) return;
  Relay relay(std::move(accepted), ConnectTo(target_host, target_port), delay_, stop_.Get());
  relay.Run();
}

}  // namespace tarnex::bench
