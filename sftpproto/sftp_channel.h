// The pipes of the child that speaks SFTP (ssh, or a server run directly), as a channel of
// packets: requests out through its standard input, packets in from its standard output, and
// what it writes on standard error kept as lines for the message of a failure. Every wait
// goes through a CancellableWait, so the message loop runs and Cancel ends it.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/cancellable_wait.h"
#include "platform/child_process.h"
#include "sftp/sftp_framing.h"

namespace tarnex {

class SftpChannel {
 public:
  // Turns the child's end (its standard error lines, how it ended when it has) into the
  // message of the ESockError raised for it.
  using EndMessage = std::function<std::string(const std::vector<std::string>& error_lines,
                                               const std::optional<platform::ChildExit>& exit)>;

  SftpChannel(platform::ChildProcess child, platform::CancellableWait& wait,
              EndMessage end_message);
  SftpChannel(const SftpChannel&) = delete;
  SftpChannel& operator=(const SftpChannel&) = delete;

  // Queues bytes for the child; written by Flush, or while a packet is waited for.
  void Send(std::string bytes);
  // Queues `length` bytes of the open file `fd` from `offset` on (a WRITE's data), moved into
  // the pipe by the kernel; the caller keeps the file open until Flush has returned. A file
  // that ends before them breaks the packet they belong to: ESockError.
  void SendFileBytes(int fd, int64_t offset, size_t length);
  // For a transfer given up on while its requests were still queued (a cancelled Flush):
  // the file bytes among them are read now, while the file is open, and go out with the next
  // Flush, so that every request begun is sent whole and gets its reply. When they cannot be
  // read, the session cannot go on: the next use raises ESockError.
  void KeepQueuedBytes() noexcept;
  // Writes everything queued; replies read meanwhile are kept for NextPacket (a server that
  // cannot write its replies stops reading our requests).
  void Flush();

  // The next packet, waiting for it; valid until the next call on the channel. Raises
  // ESockError when the child ends its output, or sends a packet that breaks the framing.
  sftp::PacketView NextPacket();

  // The child is told that no more requests come, and its output is read (and dropped) until
  // it ends; raises EAbortError when the wait is cancelled.
  void CloseAndDrain();

  const std::vector<std::string>& ErrorLines() const { return error_lines_; }
  platform::ChildProcess& Process() { return child_; }

 private:
  struct Outgoing {
    std::string owned;
    std::string_view bytes;  // into `owned`, or the caller's
    // Bytes of a file instead, while file_fd >= 0.
    int file_fd = -1;
    int64_t file_offset = 0;
    size_t file_left = 0;
  };

  // One round of I/O without waiting: writes what it can, reads what has come (the output
  // only when `read_output`). True when anything moved.
  bool Step(bool read_output);
  void WriteQueued(bool& moved);
  // The file bytes at the front of the queue; false when the pipe is full.
  bool SpliceFront(Outgoing& front, bool& moved);
  void ReadOutput(bool& moved);
  void ReadErrors(bool& moved);
  // Waits until a pipe is ready for what Step would do.
  void WaitForPipes(bool read_output);
  // A packet cannot be sent whole: nothing more goes out; raises ESockError with `why`.
  [[noreturn]] void Break(std::string why);
  // Raises ESockError when the session broke off in the middle of a packet.
  void ThrowIfBroken() const;
  // The child has ended its side: raises ESockError with its message.
  [[noreturn]] void Ended();
  std::optional<sftp::PacketView> TakePacket();

  platform::ChildProcess child_;
  platform::CancellableWait& wait_;
  EndMessage end_message_;
  sftp::PacketReader reader_;
  std::deque<Outgoing> queue_;
  std::string broken_;  // why the requests can no longer go out whole
  bool output_ended_ = false;
  bool errors_ended_ = false;
  // Whether the next step tries a pipe: true until a try found nothing (more) to move, then
  // again once a wait has seen the pipe ready.
  bool input_ready_ = true;
  bool output_ready_ = true;
  bool errors_ready_ = false;  // until a wait sees standard error
  std::string partial_error_line_;
  std::vector<std::string> error_lines_;
};

}  // namespace tarnex
