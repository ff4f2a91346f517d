// TAsyncSock: whole files over the connection, in blocks of up to 64 KiB. A plain connection
// moves them inside the kernel (sendfile, splice) where that is faster, a TLS one through this
// process; either way every block is counted and reported as it goes.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>

#include "platform/errors.h"
#include "platform/files.h"
#include "socket/async_sock.h"
#include "socket/async_sock_scopes.h"
#include "socket/socket_address.h"
#include "socket/socket_errors.h"

namespace tarnex {

void TAsyncSock::SentPiece(ssize_t count) {
  BytesSent += count;
  if (OnPacketSent) OnPacketSent(*this);
  loop_.ProcessMessagesIfDue();
}

void TAsyncSock::SendFileBlock(const char* data, size_t length) {
  size_t sent = 0;
  while (sent < length && !Canceled) {
    ssize_t n = SendSome(data + sent, length - sent);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      SentPiece(n);
    } else if (n < 0 && net::LastSocketError() != net::kWsaEWouldBlock) {
      CheckSocketError(net::kWsaEWouldBlock);
    } else {
      // No room yet: wait for it while the loop runs.
      WaitForSocket(transport_ ? transport_->SendWaitEvents() : POLLOUT);
    }
  }
}

bool TAsyncSock::SendFileInKernel(platform::File& file) {
  int64_t position = file.Position();
  const int64_t size = file.Size();
  while (!Canceled && position < size) {
    if (sticky_error_ != 0) {
      net::SetLastSocketError(sticky_error_);
      CheckSocketError(0);
    }
    const auto block = static_cast<size_t>(std::min<int64_t>(kIoBufferSize, size - position));
    ssize_t n = net::SendFileBytes(socket_.Get(), file.Descriptor(), &position, block);
    if (n > 0) {
      SentPiece(n);
    } else if (n == 0) {
      break;  // the file became shorter while it was sent
    } else if (net::LastSocketError() == net::kWsaEWouldBlock) {
      WaitForSocket(POLLOUT);
    } else if (errno == EINVAL || errno == ENOSYS) {
      file.Seek(position);  // not a file the kernel sends: the rest goes the ordinary way
      return false;
    } else {
      if (net::IsConnectionLost(net::LastSocketError())) sticky_error_ = net::LastSocketError();
      CheckSocketError(net::kWsaEWouldBlock);
    }
  }
  return true;
}

void TAsyncSock::SendFile(const std::string& file_name, int64_t offset) {
  ReportStatus(kLevelTrace, "SendFile");
  OperationScope operation(*this);
  platform::File file = platform::File::OpenRead(file_name);
  if (offset > 0) file.Seek(offset);
  // The kernel sends a file without copying it here, which saves this process a copy per
  // byte. To a peer on this machine it is slower overall: the receiver then copies out of
  // pages nobody has touched (a whole file of them), where a copy through our one buffer
  // hands it data that is still in the processor's cache. So loopback peers get the copy.
  const std::optional<net::Address> peer = PeerEnd();
  const bool copy =
      secure_ != nullptr || (!KernelSendToLoopback && peer && net::IsLoopbackAddress(*peer));
  if (copy || !SendFileInKernel(file)) {
    // To the end of the file as it is then: a read of nothing ends it.
    while (!Canceled) {
      size_t got = file.Read(io_buffer_);
      if (got == 0) break;
      SendFileBlock(io_buffer_.data(), got);
    }
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

void TAsyncSock::ReceivedBlock(ssize_t count) {
  BytesReceived += count;
  if (OnPacketRecvd) OnPacketRecvd(*this);
  TimerOn();  // keeps the running timer: TimeOut bounds the whole capture
  loop_.ProcessMessagesIfDue();
}

void TAsyncSock::Capture(platform::File& output) {
  // What a read took ahead of the capture belongs to the file, first.
  CaptureBuffered(output);
  if (secure_ == nullptr) {
    net::Pipe pipe;
    if (pipe.Valid()) {
      CaptureThroughPipe(output, pipe);
      return;
    }
  }
  int quiet_waits = 0;
  while (!Canceled) {
    ssize_t n = Receive(io_buffer_.data(), kIoBufferSize);
    if (n > 0) {
      quiet_waits = 0;
      output.Write(std::string_view(io_buffer_.data(), static_cast<size_t>(n)));
      ReceivedBlock(n);
      continue;
    }
    if (n == 0) break;  // the peer closed: the file is complete
    LastError = net::LastSocketError();
    if (LastError == net::kWsaENotConnected) break;
    if (LastError != net::kWsaEWouldBlock) CheckSocketError(net::kWsaEWouldBlock);
    WaitForSocket(transport_ ? transport_->ReceiveWaitEvents() : POLLIN, quiet_waits);
  }
}

void TAsyncSock::CaptureThroughPipe(platform::File& output, const net::Pipe& pipe) {
  int quiet_waits = 0;
  bool splice_into_file = true;  // until the file says it cannot take spliced bytes
  while (!Canceled) {
    if (sticky_error_ != 0) {
      net::SetLastSocketError(sticky_error_);
      CheckSocketError(0);
    }
    const ssize_t n = net::SpliceToPipe(socket_.Get(), pipe.WriteEnd(), kIoBufferSize);
    if (n > 0) {
      quiet_waits = 0;
      EmptyPipeInto(output, pipe, static_cast<size_t>(n), splice_into_file);
      ReceivedBlock(n);
      continue;
    }
    if (n == 0) break;  // the peer closed: the file is complete
    LastError = net::LastSocketError();
    if (LastError == net::kWsaENotConnected) break;
    if (LastError != net::kWsaEWouldBlock) {
      if (net::IsConnectionLost(static_cast<uint16_t>(LastError))) {
        sticky_error_ = static_cast<uint16_t>(LastError);
      }
      CheckSocketError(net::kWsaEWouldBlock);
    }
    WaitForSocket(POLLIN, quiet_waits);
  }
}

void TAsyncSock::EmptyPipeInto(platform::File& output, const net::Pipe& pipe, size_t count,
                               bool& splice_into_file) {
  while (count > 0) {
    ssize_t moved = -1;
    if (splice_into_file) {
      moved = net::SpliceFromPipe(pipe.ReadEnd(), output.Descriptor(), count);
      if (moved < 0 && (errno == EINVAL || errno == EBADF)) splice_into_file = false;
    }
    if (!splice_into_file) {
      // A file that takes no spliced bytes (some devices): they are copied instead.
      moved = ::read(pipe.ReadEnd(), io_buffer_.data(), std::min(count, io_buffer_.size()));
      if (moved < 0 && errno == EINTR) continue;
      if (moved > 0) output.Write(std::string_view(io_buffer_.data(), static_cast<size_t>(moved)));
    }
    if (moved <= 0) throw EFileError(platform::FileWriteErrorText(output.Name()));
    count -= static_cast<size_t>(moved);
  }
}

void TAsyncSock::ThrowIfCanceled() {
  if (!Canceled) return;
  Canceled = false;
  throw EAbortError("Socket send aborted");
}

}  // namespace tarnex
