#include "socket/transport.h"

#include "socket/socket_api.h"

namespace tarnex::net {

ssize_t PlainTransport::Receive(char* data, size_t length) {
  return ReceiveBytes(fd_, data, length, 0);
}

ssize_t PlainTransport::Send(const char* data, size_t length) {
  return SendBytes(fd_, data, length);
}

}  // namespace tarnex::net
