// TAsyncSock: sending and receiving bytes and lines.
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

net::IoResult TAsyncSock::Receive(char* data, size_t length) {
  // The read and close notifications are armed again when the operation that reads ends
  // (OperationScope), not here: a look at what is waiting is no read of the owner's.
  return Guarded([&] { return transport_->Receive(data, length); });
}

net::IoResult TAsyncSock::Fill() {
  sent_since_receive_ = false;
  char* room = received_.Room(kIoBufferSize);
  const net::IoResult result = Receive(room, received_.RoomSize());
  if (result.Progress()) received_.Added(result.count);
  return result;
}

net::IoResult TAsyncSock::SendSome(const char* data, size_t length) {
  return Guarded([&] { return transport_->Send(data, length); });
}

void TAsyncSock::SendBuffer(const char* buffer, uint16_t length) {
  ReportStatus(kLevelEvents, "Sending Buffer");
  OperationScope operation(*this);
  TimerScope timer(*this);
  if (!Canceled) {
    const size_t total = length != 0 ? length : buffer ? ::strnlen(buffer, kMaxSendBuffer) : 0;
    size_t sent = 0;
    // A peer that does not take more now is waited for while the loop runs, so that the
    // time-out and Cancel can end a send to a peer that stopped reading.
    if (total > 0) {
      Pump(
          /*receiving=*/false, nullptr, Failures::Raise,
          [&] { return SendSome(buffer + sent, total - sent); },
          [&](size_t count) {
            sent += count;
            sent_since_receive_ = true;
            return sent < total;
          });
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
  return !received_.Empty() || Fill().Progress();
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
      const net::IoResult result = Fill();
      if (result.error != 0) {
        LastError = result.error;
        if (result.error != net::kWsaEWouldBlock) RaiseSocketError(result.error);
      }
    }
    return received_.Take(std::min<size_t>(received_.Size(), UINT16_MAX));
  }
  // A peer that closes ends the wait: what came is all there will be.
  if (!Canceled && received_.Size() < count) {
    Pump(
        /*receiving=*/true, nullptr, Failures::Raise, [&] { return Fill(); },
        [&](size_t) { return received_.Size() < count; });
  }
  if (Canceled) {
    Canceled = false;
    throw EAbortError(kSendAborted);
  }
  return received_.Take(std::min<size_t>(received_.Size(), count));
}

std::optional<std::string> TAsyncSock::TakeLine(size_t& scanned) {
  const std::string_view waiting = received_.View();
  const size_t end = waiting.find('\n', scanned);
  if (end != std::string_view::npos && end < kIoBufferSize) return received_.Take(end + 1);
  if (waiting.size() >= kIoBufferSize) {
    throw ESockError("Line too long: no line end within 65536 bytes");
  }
  scanned = waiting.size();
  return std::nullopt;
}

std::string TAsyncSock::ReadLn() {
  ReportStatus(kLevelTrace, "ReadLn");
  OperationScope operation(*this);
  TimerScope timer(*this);
  size_t scanned = 0;  // bytes of the buffer already searched for the line end
  int quiet_waits = 0;
  // The answer to what was just sent is waited for before the first look, which would find
  // nothing (unless the transport holds what has come already).
  if (received_.Empty() && sent_since_receive_ && !(transport_ && transport_->HasBuffered())) {
    WaitForSocket(POLLIN, quiet_waits);
  }
  if (!Canceled) {
    std::optional<std::string> line = TakeLine(scanned);
    if (line) return *line;
    const PumpEnd end = Pump(
        /*receiving=*/true, &quiet_waits, Failures::NotConnectedEnds, [&] { return Fill(); },
        [&](size_t) {
          line = TakeLine(scanned);
          return !line;
        });
    if (line) return *line;
    // Closed by the peer, or no longer connected: the line ends here. An unterminated last
    // line is handed over as it is; only a close with nothing read gives "".
    if (end == PumpEnd::PeerEnd) return received_.Take(received_.Size());
  }
  timer.Stop();
  Canceled = false;
  throw EAbortError("Socket readln aborted");
}

}  // namespace tarnex
