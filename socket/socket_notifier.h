// Socket notifications on the message loop: read, accept, connect and close, each delivered
// from a dispatch of the thread's loop, like any other message.
//
// A notification is delivered once and then stays quiet until it is armed again, so that a
// socket whose data nobody reads, or whose peer has gone, never keeps the loop busy: read
// and close come again only after the owner has read from the socket (Rearm).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/message_loop.h"

namespace tarnex::net {

// The values are the WinSock event bits.
enum class SocketEvent : uint16_t { kRead = 1, kAccept = 8, kConnect = 16, kClose = 32 };

class SocketNotifier {
 public:
  // `error` is the WinSock code carried by the notification, 0 when none.
  using Handler = std::function<void(SocketEvent event, uint16_t error)>;

  SocketNotifier(platform::MessageLoop& loop, Handler handler);
  ~SocketNotifier();
  SocketNotifier(const SocketNotifier&) = delete;
  SocketNotifier& operator=(const SocketNotifier&) = delete;

  // Watches `fd` with nothing armed: an unconnected socket polls as hung up, so it must not
  // be watched for anything until it connects or listens. Detach before closing `fd`.
  void Attach(int fd);
  void Detach();

  // A connect has been started: one connect notification follows.
  void ExpectConnect();
  // The connect failed at once with `error`: its notification follows from a dispatch.
  void PostConnectResult(uint16_t error);
  // The socket listens: one accept notification when a connection is waiting.
  void ExpectAccept();
  // The socket is connected: read and close notifications.
  void ExpectStream();
  // The owner has read from the socket: read and close may be notified again.
  void Rearm();

 private:
  enum class Mode { kIdle, kConnecting, kListening, kStream };

  void Apply();
  void OnReady(short revents);
  void OnConnectReady(short revents);
  void OnListenReady(short revents);
  void OnStreamReady(short revents);
  // Calls the handler; false when the notifier was detached or destroyed meanwhile.
  bool Deliver(SocketEvent event, uint16_t error);

  platform::MessageLoop& loop_;
  Handler handler_;
  int fd_ = -1;
  Mode mode_ = Mode::kIdle;
  bool read_armed_ = false;
  bool close_armed_ = false;
  bool accept_armed_ = false;
  uint64_t generation_ = 0;  // changes with every Attach and Detach
  // Cleared by the destructor: a posted result or a running handler finds out through it.
  std::shared_ptr<SocketNotifier*> self_;
};

}  // namespace tarnex::net
