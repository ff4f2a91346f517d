#include "fuzz/loopback_feeder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/message_loop.h"

namespace tarnex::fuzz {

uint32_t Prng::Next() {
  // splitmix64
  uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return static_cast<uint32_t>((z ^ (z >> 31)) >> 32);
}

std::vector<std::string> Fragments(const std::string& stream, Prng& prng, uint32_t max_piece) {
  std::vector<std::string> pieces;
  size_t at = 0;
  while (at < stream.size()) {
    size_t length = 1 + prng.Below(max_piece == 0 ? 1 : max_piece);
    pieces.push_back(stream.substr(at, length));
    at += length;
  }
  return pieces;
}

namespace {

int Listener() {
  static const int fd = [] {
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s < 0 || ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(s, 64) != 0) {
      std::abort();  // the harness cannot run at all
    }
    return s;
  }();
  return fd;
}

uint16_t LocalPortOf(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (fd < 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);
}

}  // namespace

struct FeederState {
  std::vector<std::string> fragments;
  std::function<int()> client_socket;
  size_t next = 0;
  int connection = -1;
  bool alive = true;
  bool shut = false;
};

namespace {

// One step: accept our connection, or write the next fragment, or shut the sending side, and
// always read and drop what the client sent, so that it never blocks on a full buffer.
void Feed(FeederState& state) {
  char scratch[4096];
  if (state.connection < 0) {
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    int fd = ::accept4(Listener(), reinterpret_cast<sockaddr*>(&peer), &length,
                       SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;  // not there yet
    if (ntohs(peer.sin_port) != LocalPortOf(state.client_socket())) {
      ::close(fd);  // left over from an earlier input
      return;
    }
    state.connection = fd;
    return;
  }
  while (::recv(state.connection, scratch, sizeof scratch, 0) > 0) {
  }
  if (state.next < state.fragments.size()) {
    std::string& piece = state.fragments[state.next];
    ssize_t n = ::send(state.connection, piece.data(), piece.size(), MSG_NOSIGNAL);
    if (n == static_cast<ssize_t>(piece.size())) {
      ++state.next;
    } else if (n > 0) {
      piece.erase(0, static_cast<size_t>(n));
    } else if (n < 0 && errno != EAGAIN) {
      state.next = state.fragments.size();  // the client has gone
    }
    return;
  }
  if (!state.shut) {
    ::shutdown(state.connection, SHUT_WR);
    state.shut = true;
  }
}

// Feeds once per dispatch for as long as the input is being run.
void PostStep(const std::shared_ptr<FeederState>& state) {
  platform::MessageLoop::Current().Post([state] {
    if (!state->alive) return;
    Feed(*state);
    PostStep(state);
  });
}

}  // namespace

uint16_t LoopbackFeeder::Port() { return LocalPortOf(Listener()); }

LoopbackFeeder::LoopbackFeeder(std::vector<std::string> fragments,
                               std::function<int()> client_socket)
    : state_(std::make_shared<FeederState>()) {
  state_->fragments = std::move(fragments);
  state_->client_socket = std::move(client_socket);
}

LoopbackFeeder::~LoopbackFeeder() {
  state_->alive = false;  // a call still queued on the loop finds out here
  if (state_->connection >= 0) ::close(state_->connection);
}

void LoopbackFeeder::Start() { PostStep(state_); }

}  // namespace tarnex::fuzz
