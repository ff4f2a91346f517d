// TAsyncSock: sending and receiving bytes and lines.
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

#include "platform/errors.h"
#include "socket/async_sock.h"
#include "socket/async_sock_scopes.h"
#include "socket/socket_errors.h"

namespace tarnex {
namespace {

constexpr const char* kSendAborted = "Socket send aborted";
constexpr size_t kMaxSendBuffer = 65535;

}  // namespace

ssize_t TAsyncSock::Receive(char* data, size_t length) {
  if (sticky_error_ != 0) {
    net::SetLastSocketError(sticky_error_);
    return -1;
  }
  if (!transport_) {
    net::SetLastSocketError(net::kWsaEBadFile);
    return -1;
  }
  // The read and close notifications are armed again when the operation that reads ends
  // (OperationScope), not here: a look at what is waiting is no read of the owner's.
  ssize_t n = transport_->Receive(data, length);
  if (n < 0 && net::IsConnectionLost(net::LastSocketError())) {
    sticky_error_ = net::LastSocketError();
  }
  return n;
}

ssize_t TAsyncSock::Fill() {
  sent_since_receive_ = false;
  char* room = received_.Room(kIoBufferSize);
  ssize_t n = Receive(room, received_.RoomSize());
  if (n > 0) received_.Added(static_cast<size_t>(n));
  return n;
}

ssize_t TAsyncSock::SendSome(const char* data, size_t length) {
  if (sticky_error_ != 0) {
    net::SetLastSocketError(sticky_error_);
    return -1;
  }
  if (!transport_) {
    net::SetLastSocketError(net::kWsaEBadFile);
    return -1;
  }
  ssize_t n = transport_->Send(data, length);
  if (n < 0 && net::IsConnectionLost(net::LastSocketError())) {
    sticky_error_ = net::LastSocketError();
  }
  return n;
}

void TAsyncSock::SendBuffer(const char* buffer, uint16_t length) {
  ReportStatus(kLevelEvents, "Sending Buffer");
  OperationScope operation(*this);
  TimerScope timer(*this);
  if (!Canceled) {
    size_t total = length != 0 ? length : buffer ? ::strnlen(buffer, kMaxSendBuffer) : 0;
    size_t sent = 0;
    while (sent < total && !Canceled) {
      ssize_t n = SendSome(buffer + sent, total - sent);
      if (n > 0) {
        sent += static_cast<size_t>(n);
        sent_since_receive_ = true;
      } else if (n < 0 && net::LastSocketError() != net::kWsaEWouldBlock) {
        CheckSocketError(net::kWsaEWouldBlock);
      } else {
        // The peer does not take more now. Wait for room while the loop runs, so that the
        // time-out and Cancel can end a send to a peer that stopped reading.
        WaitForSocket(transport_ ? transport_->SendWaitEvents() : POLLOUT);
      }
    }
  }
  timer.Stop();
  if (Canceled) {
    Canceled = false;
    throw EAbortError(kSendAborted);
  }
}

void TAsyncSock::Write(const std::string& text) {
  ReportStatus(kLevelTrace, "Write");
  // A zero byte ends the text. What comes before it is sent whole, in pieces of at most
  // 65,535 bytes, so that a long text is never cut short.
  size_t length = std::min(text.size(), ::strnlen(text.c_str(), text.size()));
  size_t offset = 0;
  do {
    size_t piece = std::min(length - offset, kMaxSendBuffer);
    if (piece == 0) {
      SendBuffer("", 0);
    } else {
      SendBuffer(text.data() + offset, static_cast<uint16_t>(piece));
    }
    offset += piece;
  } while (offset < length);
}

void TAsyncSock::Writeln(const std::string& text) {
  ReportStatus(kLevelTrace, "Writeln");
  // The line end goes after the text's first zero byte is cut off, never lost with it.
  Write(std::string(text.c_str(), ::strnlen(text.c_str(), text.size())) + "\r\n");
}

bool TAsyncSock::DataAvailable() {
  ReportStatus(kLevelTrace, "Data Available");
  return !received_.Empty() || Fill() > 0;
}

void TAsyncSock::ClearInput() {
  ReportStatus(kLevelTrace, "Clearing Input");
  received_.Clear();
  Fill();
  received_.Clear();
}

std::string TAsyncSock::Read(uint16_t count) {
  ReportStatus(kLevelTrace, "Read( " + std::to_string(count) + " )");
  OperationScope operation(*this);
  if (count == 0) {
    // Whatever is waiting now, at most 65,535 bytes.
    if (received_.Empty()) {
      ssize_t n = Fill();
      if (n < 0) CheckSocketError(net::kWsaEWouldBlock);
    }
    return received_.Take(std::min<size_t>(received_.Size(), UINT16_MAX));
  }
  while (!Canceled && received_.Size() < count) {
    ssize_t n = Fill();
    if (n > 0) continue;
    if (n == 0) break;  // closed by the peer: what came is all there will be
    if (net::LastSocketError() != net::kWsaEWouldBlock) CheckSocketError(net::kWsaEWouldBlock);
    WaitForSocket(transport_ ? transport_->ReceiveWaitEvents() : POLLIN);
  }
  if (Canceled) {
    Canceled = false;
    throw EAbortError(kSendAborted);
  }
  return received_.Take(std::min<size_t>(received_.Size(), count));
}

std::string TAsyncSock::ReadLn() {
  ReportStatus(kLevelTrace, "ReadLn");
  OperationScope operation(*this);
  TimerScope timer(*this);
  size_t scanned = 0;  // bytes of the buffer already searched for the line end
  int quiet_waits = 0;
  // The answer to what was just sent is waited for before the first look, which would find
  // nothing (a TLS session may hold records already, so it always looks first).
  if (received_.Empty() && sent_since_receive_ && secure_ == nullptr) {
    WaitForSocket(POLLIN, quiet_waits);
  }
  while (!Canceled) {
    const std::string_view waiting = received_.View();
    const size_t end = waiting.find('\n', scanned);
    if (end != std::string_view::npos && end < kIoBufferSize) return received_.Take(end + 1);
    if (waiting.size() >= kIoBufferSize) {
      throw ESockError("Line too long: no line end within 65536 bytes");
    }
    scanned = waiting.size();
    ssize_t n = Fill();
    if (n > 0) {
      quiet_waits = 0;
      continue;
    }
    // Closed by the peer, or no longer connected: the line ends here. An unterminated last
    // line is handed over as it is; only a close with nothing read gives "".
    if (n == 0) return received_.Take(received_.Size());
    LastError = net::LastSocketError();
    if (LastError == net::kWsaENotConnected) return received_.Take(received_.Size());
    if (LastError != net::kWsaEWouldBlock) CheckSocketError(net::kWsaEWouldBlock);
    WaitForSocket(transport_ ? transport_->ReceiveWaitEvents() : POLLIN, quiet_waits);
  }
  timer.Stop();
  Canceled = false;
  throw EAbortError("Socket readln aborted");
}

}  // namespace tarnex
