// TAsyncSock: whole files over the connection, in blocks of up to 64 KiB.
#include "platform/errors.h"
#include "platform/files.h"
#include "socket/async_sock.h"
#include "socket/async_sock_scopes.h"
#include "socket/socket_errors.h"

namespace tarnex {

void TAsyncSock::SendFileBlock(const char* data, size_t length) {
  size_t sent = 0;
  while (sent < length && !Canceled) {
    ssize_t n = SendSome(data + sent, length - sent);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      BytesSent += n;
      if (OnPacketSent) OnPacketSent(*this);
      loop_.ProcessMessages();
    } else if (n < 0 && net::LastSocketError() != net::kWsaEWouldBlock) {
      CheckSocketError(net::kWsaEWouldBlock);
    } else {
      // No room yet: wait for it while the loop runs.
      WaitForSocket(transport_ ? transport_->SendWaitEvents() : POLLOUT);
    }
  }
}

void TAsyncSock::SendFile(const std::string& file_name, int64_t offset) {
  ReportStatus(kLevelTrace, "SendFile");
  OperationScope operation(*this);
  platform::File file = platform::File::OpenRead(file_name);
  if (offset > 0) file.Seek(offset);
  while (!Canceled && file.Position() != file.Size()) {
    size_t got = file.Read(io_buffer_);
    if (got == 0) break;  // the file became shorter while it was sent
    SendFileBlock(io_buffer_.data(), got);
  }
  file.Close();
  ThrowIfCanceled();
}

void TAsyncSock::CaptureFile(const std::string& file_name) {
  ReportStatus(kLevelTrace, "CaptureFile");
  OperationScope operation(*this);
  BytesReceived = 0;
  TimerScope timer(*this);
  platform::File file = platform::File::Create(file_name);
  Capture(file);
  file.Close();
  timer.Stop();
  ThrowIfCanceled();
}

void TAsyncSock::CaptureFile(platform::File& output) {
  ReportStatus(kLevelTrace, "CaptureFile");
  OperationScope operation(*this);
  BytesReceived = 0;
  TimerScope timer(*this);
  Capture(output);
  timer.Stop();
  ThrowIfCanceled();
}

void TAsyncSock::CaptureBuffered(platform::File& output) {
  if (received_.Empty()) return;
  output.Write(received_.View());
  BytesReceived += static_cast<int64_t>(received_.Size());
  received_.Clear();
  if (OnPacketRecvd) OnPacketRecvd(*this);
}

void TAsyncSock::Capture(platform::File& output) {
  // What a read took ahead of the capture belongs to the file, first.
  CaptureBuffered(output);
  int quiet_waits = 0;
  while (!Canceled) {
    ssize_t n = Receive(io_buffer_.data(), kIoBufferSize);
    if (n > 0) {
      quiet_waits = 0;
      output.Write(std::string_view(io_buffer_.data(), static_cast<size_t>(n)));
      BytesReceived += n;
      if (OnPacketRecvd) OnPacketRecvd(*this);
      TimerOn();  // keeps the running timer: TimeOut bounds the whole capture
      loop_.ProcessMessages();
      continue;
    }
    if (n == 0) break;  // the peer closed: the file is complete
    LastError = net::LastSocketError();
    if (LastError == net::kWsaENotConnected) break;
    if (LastError != net::kWsaEWouldBlock) CheckSocketError(net::kWsaEWouldBlock);
    WaitForSocket(transport_ ? transport_->ReceiveWaitEvents() : POLLIN, quiet_waits);
  }
}

void TAsyncSock::ThrowIfCanceled() {
  if (!Canceled) return;
  Canceled = false;
  throw EAbortError("Socket send aborted");
}

}  // namespace tarnex
