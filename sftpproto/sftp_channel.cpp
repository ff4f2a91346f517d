#include "sftpproto/sftp_channel.h"

#include <poll.h>

#include <algorithm>
#include <cstring>

#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/message_loop.h"

namespace tarnex {
namespace {

constexpr size_t kReadPiece = 256 * 1024;
// Standard error is kept for the message of a failure: its last lines, each cut short.
constexpr size_t kMaxErrorLines = 50;
constexpr size_t kMaxErrorLineLength = 1024;
// After the output ends, how long the child may take to say why and to exit, for the message.
constexpr int kEndGraceMs = 1000;

const std::string kAborted = "SFTP request aborted";

}  // namespace

SftpChannel::SftpChannel(platform::ChildProcess child, platform::CancellableWait& wait,
                         EndMessage end_message)
    : child_(std::move(child)), wait_(wait), end_message_(std::move(end_message)) {}

void SftpChannel::Send(std::string bytes) {
  if (bytes.empty()) return;
  queue_.push_back(Outgoing{std::move(bytes), {}});
  queue_.back().bytes = queue_.back().owned;
}

void SftpChannel::SendBorrowed(std::string_view bytes) {
  if (!bytes.empty()) queue_.push_back(Outgoing{{}, bytes});
}

void SftpChannel::Flush() {
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

std::optional<sftp::PacketView> SftpChannel::PollPacket() {
  if (reader_.Buffered() != 0) {
    if (std::optional<sftp::PacketView> packet = TakePacket()) return packet;
  }
  Step(/*read_output=*/true);
  return TakePacket();
}

sftp::PacketView SftpChannel::NextPacket() {
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
  bool moved = false;
  WriteQueued(moved);
  if (read_output) ReadOutput(moved);
  ReadErrors(moved);
  return moved;
}

void SftpChannel::WriteQueued(bool& moved) {
  while (!queue_.empty()) {
    Outgoing& front = queue_.front();
    const platform::PipeResult wrote = child_.WriteSome(front.bytes);
    if (wrote.WouldBlock()) return;
    if (wrote.state != platform::PipeResult::State::Moved) {
      queue_.clear();
      Ended();  // nobody reads our requests any more
    }
    moved = true;
    front.bytes.remove_prefix(wrote.count);
    if (front.bytes.empty()) queue_.pop_front();
  }
}

void SftpChannel::ReadOutput(bool& moved) {
  if (output_ended_) Ended();
  std::span<char> space = reader_.Space(kReadPiece);
  const platform::PipeResult got = child_.ReadSome(space);
  switch (got.state) {
    case platform::PipeResult::State::Moved:
      reader_.Commit(got.count);
      moved = true;
      return;
    case platform::PipeResult::State::WouldBlock:
      reader_.Commit(0);
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
  size_t count = 0;
  if (!queue_.empty() && child_.InputDescriptor() >= 0) {
    fds[count++] = pollfd{child_.InputDescriptor(), POLLOUT, 0};
  }
  if (read_output && !output_ended_) fds[count++] = pollfd{child_.OutputDescriptor(), POLLIN, 0};
  if (!errors_ended_) fds[count++] = pollfd{child_.ErrorDescriptor(), POLLIN, 0};
  wait_.Wait({fds, count}, kAborted);
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
