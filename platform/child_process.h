// A program run as a child process whose standard input, output and error are pipes of ours:
// the transport of an SFTP session (`ssh -s sftp`). Never started through a shell.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/owned_fd.h"

namespace tarnex::platform {

// What one read or write on a pipe came to. Nothing is raised: the caller decides what an
// end or a failure means.
struct PipeResult {
  enum class State { Moved, WouldBlock, End, Failed };
  State state = State::Failed;
  size_t count = 0;  // bytes moved (Moved only)
  int error = 0;     // errno (Failed only)

  static PipeResult Moved(size_t count) { return {State::Moved, count, 0}; }
  bool WouldBlock() const { return state == State::WouldBlock; }
};

// How the child ended: its exit code, or the signal that ended it.
struct ChildExit {
  int code = -1;   // -1 when a signal ended it
  int signal = 0;  // 0 when it exited
  // "exit status 255", "killed by signal 9 (Killed)".
  std::string Describe() const;
  bool operator==(const ChildExit&) const = default;
};

// The full path of `program`: itself when it holds a slash, else the first executable file of
// that name in the folders of `path_list` (a PATH value); nothing when there is none.
std::optional<std::string> FindProgram(std::string_view program, std::string_view path_list);

class ChildProcess {
 public:
  using Environment = std::vector<std::pair<std::string, std::string>>;

  // Starts argv[0] (looked up in PATH when it has no slash) with `argv` as its arguments and
  // our environment, `extra` added or replacing. The child keeps no descriptor of ours but its
  // three pipes, has default signal dispositions and an empty signal mask, stays in our
  // process group (Ctrl-C at the terminal reaches both) and gets SIGTERM when we die. Raises
  // Exception "Cannot start <program>: <reason>" when it cannot be started.
  //
  // The child's standard input is a pipe, or with InputKind::Socket one end of a Unix stream
  // socket pair: a writer that fills it is woken again only once most of it has been read,
  // not at every read the child makes, and writes to it raise no SIGPIPE.
  enum class InputKind { Pipe, Socket };
  static ChildProcess Start(const std::vector<std::string>& argv, const Environment& extra = {},
                            InputKind input = InputKind::Pipe);

  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  // Ends the child (Terminate) unless it has been reaped; no zombie is left behind.
  ~ChildProcess();

  // Non-blocking moves on the pipes. A write to a child that has closed its input is Failed
  // with EPIPE (no SIGPIPE reaches us).
  PipeResult WriteSome(std::string_view bytes);
  // As WriteSome, the pieces one after another in one system call (as far as the pipe takes
  // them; the first 64 pieces).
  PipeResult WriteSome(std::span<const std::string_view> pieces);
  // Up to `length` bytes of the file `fd` from `offset` on (moved past them) into the child's
  // input, by the kernel (splice, sendfile): the bytes never enter this process. End when the
  // file has none there; Failed with EINVAL when the file cannot be spliced from (the caller
  // copies).
  PipeResult SpliceIntoInput(int fd, int64_t& offset, size_t length);
  PipeResult ReadSome(std::span<char> into);       // the child's standard output
  PipeResult ReadErrorSome(std::span<char> into);  // the child's standard error
  // The child reads the end of its input.
  void CloseInput();
  // Asks for pipes to and from the child that hold `bytes` each (F_SETPIPE_SZ, or the send
  // buffer of an input socket; the system may cap it), so that big transfers move in big
  // pieces with fewer wake-ups on both sides. What the output pipe holds now: its old size
  // when the request was refused.
  size_t GrowPipes(size_t bytes);

  // Our ends, for a wait (-1 once closed).
  int InputDescriptor() const { return input_.Get(); }
  int OutputDescriptor() const { return output_.Get(); }
  int ErrorDescriptor() const { return error_.Get(); }
  pid_t Pid() const { return pid_; }

  // How the child ended, once it has (reaped without waiting); nothing while it runs.
  std::optional<ChildExit> TryReap();
  // Waits for the child to end by itself, at most `limit_ms` (waitpid asked in steps that
  // grow from 0.1 to 2 ms); how it ended, or nothing while it still runs.
  std::optional<ChildExit> AwaitExit(int limit_ms);
  // SIGTERM, then SIGKILL when it has not ended within `grace_ms` (waitpid is asked every
  // millisecond or so, so a child that ends at once costs no more). How it ended.
  ChildExit Terminate(int grace_ms = 1000);
  // How it ended, when it has been reaped.
  const std::optional<ChildExit>& Exit() const { return exit_; }

 private:
  ChildProcess() = default;
  // Our ends closed (the child sees the end of its input), then the child ended if it runs.
  void End() noexcept;

  pid_t pid_ = -1;
  OwnedFd input_;
  OwnedFd output_;
  OwnedFd error_;
  bool input_is_socket_ = false;
  std::optional<ChildExit> exit_;
};

}  // namespace tarnex::platform
