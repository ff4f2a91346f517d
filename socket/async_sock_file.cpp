// TAsyncSock: whole files over the connection, in blocks of up to 64 KiB (up to 1 MiB for a
// download the kernel moves). A plain connection moves them inside the kernel (sendfile,
// splice) where that is faster, a TLS one through this process; either way every block is
// counted and reported as it goes.
#include <fcntl.h>
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
namespace {

// The most a download moves through its pipe at a time.
constexpr size_t kSpliceBlock = size_t{1} << 20;
// After this many bytes a download asks the system to start writing what it holds of the file
// to disk, so that the flush before the file replaces its target finds little left to do.
constexpr int64_t kWritebackStep = int64_t{8} << 20;

// Counts what a download writes, and every kWritebackStep bytes starts writing the file's
// changed pages to disk without waiting for it (nothing to do for a file held in memory, nor
// for one that is no file).
class EarlyWriteback {
 public:
  explicit EarlyWriteback(const platform::File& file) : file_(file) {}
  void Written(size_t count) {
    pending_ += static_cast<int64_t>(count);
    if (pending_ < kWritebackStep) return;
    pending_ = 0;
    (void)::sync_file_range(file_.Descriptor(), 0, 0, SYNC_FILE_RANGE_WRITE);
  }

 private:
  const platform::File& file_;
  int64_t pending_ = 0;
};

}  // namespace

void TAsyncSock::SentPiece(size_t count) {
  BytesSent += static_cast<int64_t>(count);
  if (OnPacketSent) OnPacketSent(*this);
  loop_.ProcessMessagesIfDue();
}

void TAsyncSock::SendFileBlock(const char* data, size_t length) {
  size_t sent = 0;
  if (length == 0) return;
  Pump(
      /*receiving=*/false, nullptr, Failures::Raise,
      [&] { return SendSome(data + sent, length - sent); },
      [&](size_t count) {
        sent += count;
        SentPiece(count);
        return sent < length;
      });
}

bool TAsyncSock::SendFileInKernel(platform::File& file) {
  int64_t position = file.Position();
  const int64_t size = file.Size();
  bool not_for_kernel = false;
  if (position >= size) return true;
  // A file that became shorter while it was sent ends at its new end.
  Pump(
      /*receiving=*/false, nullptr, Failures::Raise,
      [&] {
        const auto block = static_cast<size_t>(std::min<int64_t>(kIoBufferSize, size - position));
        const net::IoResult result = Guarded(
            [&] { return net::SendFileBytes(socket_.Get(), file.Descriptor(), &position, block); });
        if (result.error != net::kWsaEInvalid) return result;
        not_for_kernel = true;
        return net::IoResult::End();
      },
      [&](size_t count) {
        SentPiece(count);
        return position < size;
      });
  if (!not_for_kernel) return true;
  file.Seek(position);  // not a file the kernel sends: the rest goes the ordinary way
  return false;
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
  const bool kernel = transport_ && transport_->KernelMovesBytes();
  const bool copy = !kernel || (!KernelSendToLoopback && peer && net::IsLoopbackAddress(*peer));
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

void TAsyncSock::ReceivedBlock(size_t count) {
  BytesReceived += static_cast<int64_t>(count);
  if (OnPacketRecvd) OnPacketRecvd(*this);
  TimerOn();  // keeps the running timer: TimeOut bounds the whole capture
  loop_.ProcessMessagesIfDue();
}

void TAsyncSock::Capture(platform::File& output) {
  // What a read took ahead of the capture belongs to the file, first.
  CaptureBuffered(output);
  if (transport_ && transport_->KernelMovesBytes()) {
    net::Pipe pipe;
    if (pipe.Valid()) {
      CaptureThroughPipe(output, pipe);
      return;
    }
  }
  // The peer's end completes the file.
  int quiet_waits = 0;
  EarlyWriteback writeback(output);
  Pump(
      /*receiving=*/true, &quiet_waits, Failures::NotConnectedEnds,
      [&] { return Receive(io_buffer_.data(), kIoBufferSize); },
      [&](size_t count) {
        output.Write(std::string_view(io_buffer_.data(), count));
        writeback.Written(count);
        ReceivedBlock(count);
        return true;
      });
}

void TAsyncSock::CaptureThroughPipe(platform::File& output, const net::Pipe& pipe) {
  // A larger pipe moves what has arrived in fewer calls (a system may refuse it: the pipe
  // then keeps its size, and the blocks theirs).
  const size_t block = ::fcntl(pipe.WriteEnd(), F_SETPIPE_SZ, static_cast<int>(kSpliceBlock)) > 0
                           ? kSpliceBlock
                           : kIoBufferSize;
  int quiet_waits = 0;
  bool splice_into_file = true;  // until the file says it cannot take spliced bytes
  EarlyWriteback writeback(output);
  Pump(
      /*receiving=*/true, &quiet_waits, Failures::NotConnectedEnds,
      [&] {
        return Guarded(
            [&] { return net::SpliceToPipe(socket_.Get(), pipe.WriteEnd(), block); });
      },
      [&](size_t count) {
        EmptyPipeInto(output, pipe, count, splice_into_file);
        writeback.Written(count);
        ReceivedBlock(count);
        return true;
      });
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
