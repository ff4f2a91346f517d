#include "socket/socket_notifier.h"

#include <poll.h>

#include "socket/socket_api.h"
#include "socket/socket_errors.h"

namespace tarnex::net {

SocketNotifier::SocketNotifier(platform::MessageLoop& loop, Handler handler)
    : loop_(loop), handler_(std::move(handler)), self_(std::make_shared<SocketNotifier*>(this)) {}

SocketNotifier::~SocketNotifier() {
  Detach();
  *self_ = nullptr;
}

void SocketNotifier::Attach(int fd) {
  Detach();
  if (fd < 0) return;
  fd_ = fd;
  loop_.WatchSocket(fd, 0, [this](short revents) { OnReady(revents); });
}

void SocketNotifier::Detach() {
  if (fd_ >= 0) loop_.UnwatchSocket(fd_);
  fd_ = -1;
  ++generation_;
  mode_ = Mode::kIdle;
  read_armed_ = close_armed_ = accept_armed_ = false;
}

void SocketNotifier::ExpectConnect() {
  mode_ = Mode::kConnecting;
  Apply();
}

void SocketNotifier::PostConnectResult(uint16_t error) {
  mode_ = Mode::kIdle;
  Apply();
  loop_.Post([self = self_, generation = generation_, error] {
    SocketNotifier* notifier = *self;
    if (notifier == nullptr || notifier->generation_ != generation) return;
    notifier->Deliver(SocketEvent::kConnect, error);
  });
}

void SocketNotifier::ExpectAccept() {
  mode_ = Mode::kListening;
  accept_armed_ = true;
  Apply();
}

void SocketNotifier::ExpectStream() {
  mode_ = Mode::kStream;
  read_armed_ = close_armed_ = true;
  Apply();
}

void SocketNotifier::Rearm() {
  if (mode_ != Mode::kStream) return;
  read_armed_ = close_armed_ = true;
  Apply();
}

void SocketNotifier::Apply() {
  if (fd_ < 0) return;
  short events = 0;
  switch (mode_) {
    case Mode::kIdle:
      break;
    case Mode::kConnecting:
      events = POLLOUT;
      break;
    case Mode::kListening:
      events = accept_armed_ ? POLLIN : 0;
      break;
    case Mode::kStream:
      events = static_cast<short>((read_armed_ ? POLLIN : 0) | (close_armed_ ? POLLRDHUP : 0));
      break;
  }
  loop_.SetSocketEvents(fd_, events);
}

bool SocketNotifier::Deliver(SocketEvent event, uint16_t error) {
  auto self = self_;
  uint64_t generation = generation_;
  auto handler = handler_;
  handler(event, error);
  return *self != nullptr && generation_ == generation;
}

void SocketNotifier::OnReady(short revents) {
  if (revents & POLLNVAL) {
    mode_ = Mode::kIdle;  // the descriptor is gone; nothing more can come from it
    Apply();
    return;
  }
  switch (mode_) {
    case Mode::kIdle:
      Apply();
      break;
    case Mode::kConnecting:
      OnConnectReady(revents);
      break;
    case Mode::kListening:
      OnListenReady(revents);
      break;
    case Mode::kStream:
      OnStreamReady(revents);
      break;
  }
}

void SocketNotifier::OnConnectReady(short revents) {
  if (!(revents & (POLLOUT | POLLERR | POLLHUP))) return;
  uint16_t error = TakePendingError(fd_);
  // Writable and hung up without an error means the connect ended without a connection.
  if (error == 0 && (revents & POLLHUP)) error = kWsaEConnRefused;
  if (error == 0) {
    mode_ = Mode::kStream;
    read_armed_ = close_armed_ = true;
  } else {
    mode_ = Mode::kIdle;
  }
  Apply();
  Deliver(SocketEvent::kConnect, error);
}

void SocketNotifier::OnListenReady(short revents) {
  accept_armed_ = false;
  Apply();
  if (!(revents & (POLLIN | POLLERR))) return;
  uint16_t error = (revents & POLLERR) ? TakePendingError(fd_) : 0;
  Deliver(SocketEvent::kAccept, error);
}

void SocketNotifier::OnStreamReady(short revents) {
  bool read = read_armed_ && (revents & POLLIN);
  bool close = close_armed_ && (revents & (POLLRDHUP | POLLHUP | POLLERR));
  if (read) read_armed_ = false;
  if (close) close_armed_ = false;
  // An error or hang-up that nobody is to be told about would be reported at every
  // dispatch: stay quiet until the owner reads again.
  if (!read && !close) read_armed_ = close_armed_ = false;
  Apply();
  // The error itself stays with the socket, so that the next read reports it; the
  // notification only says that there was one.
  uint16_t close_error = (revents & POLLERR) ? kWsaEConnReset : 0;
  if (read && !Deliver(SocketEvent::kRead, 0)) return;
  if (close) Deliver(SocketEvent::kClose, close_error);
}

}  // namespace tarnex::net
