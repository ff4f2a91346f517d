#include "sftpproto/sftp_channel.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/message_loop.h"

namespace tarnex {
namespace {

constexpr size_t kReadPiece = 256 * 1024;
// The pipes to and from the child: a download's data comes in pieces of up to this much,
// and the child (ssh) wakes up less often to move it.
constexpr size_t kPipeBytes = 1024 * 1024;
// The reader's buffer takes several pipefuls before the unfinished packet at its end is
// moved to its front.
constexpr size_t kReaderBytes = 4 * kPipeBytes;
// Pieces of the queue handed to one writev.
constexpr size_t kPiecesPerWrite = 64;
// Standard error is kept for the message of a failure: its last lines, each cut short.
constexpr size_t kMaxErrorLines = 50;
constexpr size_t kMaxErrorLineLength = 1024;
// After the output ends, how long the child may take to say why and to exit, for the message.
constexpr int kEndGraceMs = 1000;

const std::string kAborted = "SFTP request aborted";

std::string EndedEarly(size_t missing) {
  return "The local file ended " + std::to_string(missing) +
         " bytes early while it was sent (it was changed meanwhile)";
}

// `length` bytes of the file from `offset` on into `into`; why not, when they cannot be read.
std::string ReadFileRange(int fd, int64_t offset, size_t length, std::string& into) {
  into.assign(length, '\0');
  size_t got = 0;
  while (got < length) {
    const ssize_t n =
        ::pread(fd, into.data() + got, length - got, offset + static_cast<int64_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) return EndedEarly(length - got);
    if (n < 0) return std::string("Cannot read the local file: ") + std::strerror(errno);
    got += static_cast<size_t>(n);
  }
  return {};
}

}  // namespace

SftpChannel::SftpChannel(platform::ChildProcess child, platform::CancellableWait& wait,
                         EndMessage end_message)
    : child_(std::move(child)), wait_(wait), end_message_(std::move(end_message)) {
  child_.GrowPipes(kPipeBytes);
  reader_.Reserve(kReaderBytes);
}

void SftpChannel::Send(std::string bytes) {
  if (bytes.empty()) return;
  queue_.push_back(Outgoing{std::move(bytes), {}});
  queue_.back().bytes = queue_.back().owned;
}

void SftpChannel::SendFileBytes(int fd, int64_t offset, size_t length) {
  if (length == 0) return;
  Outgoing piece;
  piece.file_fd = fd;
  piece.file_offset = offset;
  piece.file_left = length;
  queue_.push_back(std::move(piece));
}

void SftpChannel::KeepQueuedBytes() noexcept {
  for (Outgoing& piece : queue_) {
    if (piece.file_fd < 0) continue;
    try {
      std::string bytes;
      if (std::string why = ReadFileRange(piece.file_fd, piece.file_offset, piece.file_left, bytes);
          !why.empty()) {
        broken_ = std::move(why);
      } else {
        piece.file_fd = -1;
        piece.owned = std::move(bytes);
        piece.bytes = piece.owned;
        continue;
      }
    } catch (const std::bad_alloc&) {
      broken_ = "Out of memory while keeping the requests of a transfer given up on";
    }
    queue_.clear();
    return;
  }
}

void SftpChannel::ThrowIfBroken() const {
  if (!broken_.empty()) throw ESockError(broken_);
}

void SftpChannel::Flush() {
  ThrowIfBroken();
  while (!queue_.empty()) {
    if (Step(/*read_output=*/true)) {
      platform::MessageLoop::Current().ProcessMessagesIfDue();
      wait_.ThrowIfCanceled(kAborted);
    } else {
      WaitForPipes(/*read_output=*/true);
    }
  }
}

std::optional<sftp::PacketView> SftpChannel::TakePacket() {
  auto next = reader_.Next();
  if (!next) throw ESockError("SFTP protocol error: " + next.error().message);
  return *next;
}

sftp::PacketView SftpChannel::NextPacket() {
  ThrowIfBroken();
  while (true) {
    if (reader_.Buffered() != 0) {
      // Next leaves an incomplete packet where it is, so asking costs nothing.
      if (std::optional<sftp::PacketView> packet = TakePacket()) return *packet;
    }
    if (Step(/*read_output=*/true)) {
      platform::MessageLoop::Current().ProcessMessagesIfDue();
      wait_.ThrowIfCanceled(kAborted);
    } else {
      WaitForPipes(/*read_output=*/true);
    }
  }
}

bool SftpChannel::Step(bool read_output) {
  // A pipe is tried again only once a wait has seen it ready: a write the pipe took only in
  // part, or a read that emptied it, says that the next try would find nothing to do, and
  // would cost a system call for it.
  bool moved = false;
  if (input_ready_) WriteQueued(moved);
  if (read_output && output_ready_) ReadOutput(moved);
  // Standard error likewise: a look at every step would cost a system call per step, for the
  // few lines a failure leaves. A child blocked on a full error pipe stops sending, and the
  // wait that follows sees the pipe.
  if (errors_ready_) {
    errors_ready_ = false;
    ReadErrors(moved);
  }
  return moved;
}

void SftpChannel::WriteQueued(bool& moved) {
  std::string_view pieces[kPiecesPerWrite];
  while (!queue_.empty()) {
    if (queue_.front().file_fd >= 0) {
      if (!SpliceFront(queue_.front(), moved)) return;
      continue;
    }
    // Many requests (a WRITE's header and its data among them) in one system call.
    size_t count = 0;
    for (auto it = queue_.begin();
         it != queue_.end() && it->file_fd < 0 && count < kPiecesPerWrite; ++it) {
      pieces[count++] = it->bytes;
    }
    size_t offered = 0;
    for (size_t i = 0; i < count; ++i) offered += pieces[i].size();
    const platform::PipeResult wrote = child_.WriteSome(std::span(pieces, count));
    if (wrote.WouldBlock()) {
      input_ready_ = false;
      return;
    }
    if (wrote.state != platform::PipeResult::State::Moved) {
      queue_.clear();
      Ended();  // nobody reads our requests any more
    }
    moved = true;
    if (wrote.count < offered) input_ready_ = false;  // the pipe is full
    size_t left = wrote.count;
    while (left > 0) {
      Outgoing& front = queue_.front();
      const size_t taken = std::min(left, front.bytes.size());
      front.bytes.remove_prefix(taken);
      left -= taken;
      if (front.bytes.empty()) queue_.pop_front();
    }
  }
}

bool SftpChannel::SpliceFront(Outgoing& front, bool& moved) {
  const platform::PipeResult spliced =
      child_.SpliceIntoInput(front.file_fd, front.file_offset, front.file_left);
  switch (spliced.state) {
    case platform::PipeResult::State::Moved:
      moved = true;
      if (spliced.count < front.file_left) {
        front.file_left -= spliced.count;
        input_ready_ = false;  // the pipe is full
        return false;
      }
      queue_.pop_front();
      return true;
    case platform::PipeResult::State::WouldBlock:
      input_ready_ = false;
      return false;
    case platform::PipeResult::State::End:
      // The header before these bytes announced more than the file now holds: the server
      // would take whatever comes next for them, so the session cannot go on.
      Break(EndedEarly(front.file_left));
    case platform::PipeResult::State::Failed:
      break;
  }
  if (spliced.error == EINVAL || spliced.error == ENOSYS) {
    // A file the kernel cannot splice from (some devices and file systems): its bytes are
    // read here and written like any others.
    std::string bytes;
    if (std::string why = ReadFileRange(front.file_fd, front.file_offset, front.file_left, bytes);
        !why.empty()) {
      Break(std::move(why));
    }
    front.file_fd = -1;
    front.owned = std::move(bytes);
    front.bytes = front.owned;
    return true;
  }
  if (spliced.error == EPIPE) {
    queue_.clear();
    Ended();  // nobody reads our requests any more
  }
  Break(std::string("Cannot send the local file: ") + std::strerror(spliced.error));
}

void SftpChannel::Break(std::string why) {
  queue_.clear();
  broken_ = std::move(why);
  throw ESockError(broken_);
}

void SftpChannel::ReadOutput(bool& moved) {
  if (output_ended_) Ended();
  std::span<char> space = reader_.Space(kReadPiece);
  const platform::PipeResult got = child_.ReadSome(space);
  switch (got.state) {
    case platform::PipeResult::State::Moved:
      reader_.Commit(got.count);
      moved = true;
      if (got.count < space.size()) output_ready_ = false;  // the pipe is empty
      return;
    case platform::PipeResult::State::WouldBlock:
      reader_.Commit(0);
      output_ready_ = false;
      return;
    case platform::PipeResult::State::End:
      reader_.Commit(0);
      output_ended_ = true;
      Ended();
    case platform::PipeResult::State::Failed:
      reader_.Commit(0);
      output_ended_ = true;
      throw ESockError(std::string("Cannot read from the SFTP server: ") +
                       std::strerror(got.error));
  }
}

void SftpChannel::ReadErrors(bool& moved) {
  char buffer[4096];
  while (!errors_ended_) {
    const platform::PipeResult got = child_.ReadErrorSome(buffer);
    if (got.WouldBlock()) return;
    if (got.state != platform::PipeResult::State::Moved) {
      errors_ended_ = true;
      if (!partial_error_line_.empty()) error_lines_.push_back(std::move(partial_error_line_));
      partial_error_line_.clear();
      break;
    }
    moved = true;
    for (size_t i = 0; i < got.count; ++i) {
      const char c = buffer[i];
      if (c == '\n') {
        while (!partial_error_line_.empty() && partial_error_line_.back() == '\r') {
          partial_error_line_.pop_back();
        }
        error_lines_.push_back(std::move(partial_error_line_));
        partial_error_line_.clear();
        if (error_lines_.size() > kMaxErrorLines) error_lines_.erase(error_lines_.begin());
      } else if (partial_error_line_.size() < kMaxErrorLineLength) {
        partial_error_line_ += c;
      }
    }
  }
  while (error_lines_.size() > kMaxErrorLines) error_lines_.erase(error_lines_.begin());
}

void SftpChannel::WaitForPipes(bool read_output) {
  pollfd fds[3];
  bool* ready[3];
  size_t count = 0;
  auto watch = [&](int fd, short events, bool& flag) {
    ready[count] = &flag;
    fds[count++] = pollfd{fd, events, 0};
  };
  if (!queue_.empty() && child_.InputDescriptor() >= 0) {
    watch(child_.InputDescriptor(), POLLOUT, input_ready_);
  }
  if (read_output && !output_ended_) watch(child_.OutputDescriptor(), POLLIN, output_ready_);
  if (!errors_ended_) watch(child_.ErrorDescriptor(), POLLIN, errors_ready_);
  wait_.Wait({fds, count}, kAborted);
  // An end or a failure counts as ready too: the next step finds out which.
  for (size_t i = 0; i < count; ++i) {
    if (fds[i].revents != 0) *ready[i] = true;
  }
}

void SftpChannel::Ended() {
  // The child says why on standard error and exits soon after it closes its output: both
  // are waited for a short, bounded while, for the message only.
  const int64_t until = platform::MonotonicMs() + kEndGraceMs;
  while (!errors_ended_ && platform::MonotonicMs() < until) {
    bool moved = false;
    ReadErrors(moved);
    if (errors_ended_) break;
    pollfd fd{child_.ErrorDescriptor(), POLLIN, 0};
    ::poll(&fd, 1, static_cast<int>(until - platform::MonotonicMs()));
  }
  const std::optional<platform::ChildExit> exit =
      child_.AwaitExit(static_cast<int>(std::max<int64_t>(0, until - platform::MonotonicMs())));
  throw ESockError(end_message_(error_lines_, exit));
}

void SftpChannel::CloseAndDrain() {
  queue_.clear();
  child_.CloseInput();
  char sink[4096];
  while (!output_ended_ || !errors_ended_) {
    bool moved = false;
    ReadErrors(moved);
    while (!output_ended_) {
      const platform::PipeResult got = child_.ReadSome(sink);
      if (got.state == platform::PipeResult::State::Moved) continue;
      if (got.state != platform::PipeResult::State::WouldBlock) output_ended_ = true;
      break;
    }
    if (output_ended_ && errors_ended_) break;
    WaitForPipes(/*read_output=*/true);
  }
}

}  // namespace tarnex
