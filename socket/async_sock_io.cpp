// TAsyncSock: sending and receiving bytes and lines.
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

#include "platform/errors.h"
#include "socket/async_sock.h"
#include "socket/async_sock_scopes.h"
#include "socket/reply_code.h"
#include "socket/socket_errors.h"

namespace tarnex {
namespace {

constexpr const char* kSendAborted = "Socket send aborted";
constexpr size_t kMaxSendBuffer = 65535;
constexpr size_t kFirstLineWindow = 512;

}  // namespace

ssize_t TAsyncSock::Receive(char* data, size_t length, int flags) {
  if (sticky_error_ != 0) {
    net::SetLastSocketError(sticky_error_);
    return -1;
  }
  ssize_t n = net::ReceiveBytes(socket_.Get(), data, length, flags);
  if (n < 0 && net::IsConnectionLost(net::LastSocketError())) {
    sticky_error_ = net::LastSocketError();
  } else if (n > 0 && !(flags & MSG_PEEK)) {
    notifier_.Rearm();  // a read re-enables the read (and close) notification
  }
  return n;
}

ssize_t TAsyncSock::SendSome(const char* data, size_t length) {
  if (sticky_error_ != 0) {
    net::SetLastSocketError(sticky_error_);
    return -1;
  }
  ssize_t n = net::SendBytes(socket_.Get(), data, length);
  if (n < 0 && net::IsConnectionLost(net::LastSocketError())) {
    sticky_error_ = net::LastSocketError();
  }
  return n;
}

void TAsyncSock::ReceiveExactly(char* data, size_t length) {
  // The bytes were seen by a peek, so they are there; a short receive is simply repeated.
  while (length > 0) {
    ssize_t n = Receive(data, length, 0);
    if (n <= 0) {
      if (n == 0 || net::LastSocketError() == net::kWsaEWouldBlock) {
        net::SetLastSocketError(net::kWsaENotConnected);
      }
      FailSocketCall();
    }
    data += n;
    length -= static_cast<size_t>(n);
  }
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
      } else if (n < 0 && net::LastSocketError() != net::kWsaEWouldBlock) {
        CheckSocketError(net::kWsaEWouldBlock);
      } else {
        // The peer does not take more now. Wait for room while the loop runs, so that the
        // time-out and Cancel can end a send to a peer that stopped reading.
        WaitForSocket(POLLOUT);
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
  char byte;
  return Receive(&byte, 1, MSG_PEEK) >= 1;
}

void TAsyncSock::ClearInput() {
  ReportStatus(kLevelTrace, "Clearing Input");
  Receive(io_buffer_.data(), kIoBufferSize, 0);
}

std::string TAsyncSock::TakeWaiting(size_t count) {
  std::string result(count, '\0');
  ssize_t n = Receive(result.data(), count, 0);
  if (n < 0) CheckSocketError(net::kWsaEWouldBlock);
  result.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return result;
}

std::string TAsyncSock::Read(uint16_t count) {
  ReportStatus(kLevelTrace, "Read( " + std::to_string(count) + " )");
  OperationScope operation(*this);
  char* buffer = io_buffer_.data();
  size_t want = count;
  if (count == 0) {
    ssize_t n = Receive(buffer, kIoBufferSize, MSG_PEEK);
    if (n < 0) CheckSocketError(net::kWsaEWouldBlock);
    if (n <= 0) return {};
    return TakeWaiting(std::min<size_t>(static_cast<size_t>(n), UINT16_MAX));
  }
  while (!Canceled) {
    ssize_t n = Receive(buffer, count, MSG_PEEK);
    if (n >= count) break;
    if (n == 0) return {};  // closed by the peer
    if (n < 0) {
      CheckSocketError(net::kWsaEWouldBlock);
    } else if (net::PeerHasClosed(socket_.Get())) {
      want = static_cast<size_t>(n);  // the rest will never come: hand over what there is
      break;
    }
    // Bytes are waiting, so the socket polls readable already: wait for the peer's close
    // (or an error) only, and look again after the slice.
    WaitForSocket(n > 0 ? POLLRDHUP : POLLIN);
  }
  if (Canceled) {
    Canceled = false;
    throw EAbortError(kSendAborted);
  }
  return TakeWaiting(want);
}

std::string TAsyncSock::ReadLn() {
  ReportStatus(kLevelTrace, "ReadLn");
  OperationScope operation(*this);
  TimerScope timer(*this);
  char* buffer = io_buffer_.data();
  size_t consumed = 0;
  // How far to look ahead: a line is short as a rule, and a peek copies everything it looks
  // at, so a listing of many lines would otherwise copy the whole waiting block once per line.
  size_t window = kFirstLineWindow;
  int quiet_waits = 0;
  while (!Canceled) {
    if (consumed == kIoBufferSize) {
      throw ESockError("Line too long: no line end within 65536 bytes");
    }
    // Peek first and take only what belongs to the line: the bytes after its end stay in
    // the socket for the next read.
    const size_t ask = std::min(window, kIoBufferSize - consumed);
    ssize_t n = Receive(buffer + consumed, ask, MSG_PEEK);
    // Closed by the peer, or no longer connected: the line ends here. An unterminated
    // last line is handed over as it is; only a close with nothing read gives "".
    if (n == 0) return std::string(buffer, consumed);
    if (n < 0) {
      LastError = net::LastSocketError();
      if (LastError == net::kWsaENotConnected) return std::string(buffer, consumed);
      if (LastError != net::kWsaEWouldBlock) CheckSocketError(net::kWsaEWouldBlock);
      WaitForSocket(POLLIN, quiet_waits);
      continue;
    }
    quiet_waits = 0;
    const char* end = static_cast<const char*>(std::memchr(buffer + consumed, '\n', n));
    size_t take = end != nullptr ? static_cast<size_t>(end - (buffer + consumed)) + 1
                                 : static_cast<size_t>(n);
    ReceiveExactly(buffer + consumed, take);
    consumed += take;
    if (end != nullptr) return std::string(buffer, consumed);
    if (static_cast<size_t>(n) == ask) {
      // The window was full: more of the line is waiting already. Look further at once.
      window = kIoBufferSize;
      continue;
    }
    loop_.ProcessMessages();
  }
  timer.Stop();
  Canceled = false;
  throw EAbortError("Socket readln aborted");
}

void TAsyncSock::Transaction(const std::string& command, std::string& reply) {
  ReportStatus(kLevelTrace, "Transaction");
  ReplyCode = 0;
  Writeln(command);
  LastReply = ReadLn();
  if (!LastReply.empty()) {
    ReportStatus(kLevelProtocol, LastReply);
    ReplyCode = ParseReplyCode(LastReply);
  }
  reply = LastReply;
}

}  // namespace tarnex
