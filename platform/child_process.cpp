#include "platform/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/errors.h"

extern char** environ;

namespace tarnex::platform {
namespace {

// A pipe whose both ends lie above the standard descriptors, so that putting the child's ends
// in place (dup2 to 0, 1, 2) never overwrites another of them.
struct PipeEnds {
  int read = -1;
  int write = -1;
};

int AboveStandard(int fd) {
  if (fd > 2) return fd;
  const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
  const int saved = errno;
  ::close(fd);
  errno = saved;
  return moved;
}

// The two ends of a new pipe or socket pair, both moved above the standard descriptors;
// none when either could not be.
PipeEnds EndsAboveStandard(const int (&fds)[2]) {
  PipeEnds ends{AboveStandard(fds[0]), AboveStandard(fds[1])};
  if (ends.read < 0 || ends.write < 0) {
    if (ends.read >= 0) ::close(ends.read);
    if (ends.write >= 0) ::close(ends.write);
    return {};
  }
  return ends;
}

PipeEnds MakePipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return {};
  return EndsAboveStandard(fds);
}

// A connected pair of Unix stream sockets, both ends above the standard descriptors, as
// MakePipe's ends: `read` for the child, `write` for us.
PipeEnds MakeSocketPair() {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return {};
  return EndsAboveStandard(fds);
}

void CloseIfOpen(int& fd) noexcept {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

void SetNonBlocking(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

// Our environment with `extra` added or put in place of the same names.
std::vector<std::string> MergedEnvironment(const ChildProcess::Environment& extra) {
  std::vector<std::string> merged;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    const std::string_view name = text.substr(0, text.find('='));
    bool replaced = false;
    for (const auto& [extra_name, value] : extra) replaced = replaced || extra_name == name;
    if (!replaced) merged.emplace_back(text);
  }
  for (const auto& [name, value] : extra) merged.push_back(name + "=" + value);
  return merged;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  pointers.reserve(strings.size() + 1);
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Every descriptor from `first` on, but `keep`: close_range where the kernel has it, else one
// by one up to the descriptor limit.
void CloseDescriptorsFrom(int first, int keep) {
  auto close_range = [](unsigned low, unsigned high) {
    if (low > high) return;
    if (::syscall(SYS_close_range, low, high, 0) == 0) return;
    struct rlimit limit {};
    unsigned top = 4096;
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
      top = static_cast<unsigned>(limit.rlim_cur);
    }
    for (unsigned fd = low; fd <= high && fd < top; ++fd) ::close(static_cast<int>(fd));
  };
  close_range(static_cast<unsigned>(first), static_cast<unsigned>(keep - 1));
  close_range(static_cast<unsigned>(keep + 1), ~0U);
}

// In the child between fork and exec: async-signal-safe calls only. A failure is reported
// through `status` (its errno), which exec closes when it succeeds.
[[noreturn]] void RunChild(pid_t parent, const PipeEnds& in, const PipeEnds& out,
                           const PipeEnds& err, int status, const char* path, char** argv,
                           char** envp) {
  auto fail = [status](int error) {
    [[maybe_unused]] ssize_t ignored = ::write(status, &error, sizeof error);
    ::_exit(127);
  };
  // The child must not outlive us; we may have died already before the request took hold.
  if (::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0) fail(errno);
  if (::getppid() != parent) ::_exit(127);
  // What we ignore or block is no business of the program's.
  for (int sig = 1; sig < NSIG; ++sig) {
    if (sig != SIGKILL && sig != SIGSTOP) ::signal(sig, SIG_DFL);
  }
  sigset_t none;
  ::sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  if (::dup2(in.read, 0) < 0 || ::dup2(out.write, 1) < 0 || ::dup2(err.write, 2) < 0) {
    fail(errno);
  }
  CloseDescriptorsFrom(3, status);
  ::execve(path, argv, envp);
  fail(errno);
  ::_exit(127);
}

// Blocks SIGPIPE for one write to a pipe, so that a reader that has gone is EPIPE and no
// signal: a SIGPIPE this write raised is taken off again before the mask is put back.
class SigpipeBlocked {
 public:
  SigpipeBlocked() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    already_pending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
  }
  ~SigpipeBlocked() {
    if (raised_ && !already_pending_) {
      const struct timespec none {};
      while (sigtimedwait(&pipe_, nullptr, &none) < 0 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  SigpipeBlocked(const SigpipeBlocked&) = delete;
  SigpipeBlocked& operator=(const SigpipeBlocked&) = delete;
  void Raised() { raised_ = true; }

 private:
  sigset_t pipe_{};
  sigset_t old_{};
  bool already_pending_ = false;
  bool raised_ = false;
};

PipeResult ResultOf(ssize_t count, int error) {
  if (count > 0) return PipeResult::Moved(static_cast<size_t>(count));
  if (count == 0) return {PipeResult::State::End, 0, 0};
  if (error == EAGAIN || error == EWOULDBLOCK || error == EINTR) {
    return {PipeResult::State::WouldBlock, 0, 0};
  }
  return {PipeResult::State::Failed, 0, error};
}

PipeResult ReadFrom(int fd, std::span<char> into) {
  if (fd < 0) return {PipeResult::State::End, 0, 0};
  if (into.empty()) return {PipeResult::State::WouldBlock, 0, 0};
  const ssize_t count = ::read(fd, into.data(), into.size());
  return ResultOf(count, errno);
}

ChildExit ExitOfStatus(int status) {
  if (WIFSIGNALED(status)) return ChildExit{-1, WTERMSIG(status)};
  return ChildExit{WEXITSTATUS(status), 0};
}

}  // namespace

std::string ChildExit::Describe() const {
  if (signal == 0) return "exit status " + std::to_string(code);
  const char* name = ::strsignal(signal);
  return "killed by signal " + std::to_string(signal) + (name ? std::string(" (") + name + ")" : "");
}

std::optional<std::string> FindProgram(std::string_view program, std::string_view path_list) {
  if (program.empty()) return std::nullopt;
  if (program.find('/') != std::string_view::npos) return std::string(program);
  while (true) {
    const size_t colon = path_list.find(':');
    std::string folder(path_list.substr(0, colon));
    if (folder.empty()) folder = ".";  // an empty entry stands for the current folder
    std::string candidate = folder + "/" + std::string(program);
    struct stat info {};
    if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        ::access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
    if (colon == std::string_view::npos) return std::nullopt;
    path_list.remove_prefix(colon + 1);
  }
}

ChildProcess ChildProcess::Start(const std::vector<std::string>& argv, const Environment& extra,
                                 InputKind input) {
  if (argv.empty() || argv[0].empty()) throw Exception("Cannot start a program without a name");
  const char* path_env = std::getenv("PATH");
  const std::optional<std::string> path =
      FindProgram(argv[0], path_env ? path_env : "/usr/local/bin:/usr/bin:/bin");
  if (!path) throw Exception("Cannot start " + argv[0] + ": no such program in PATH");

  // Everything the child needs is made before the fork: after it, no allocation.
  std::vector<std::string> arguments = argv;
  std::vector<char*> argv_pointers = Pointers(arguments);
  std::vector<std::string> environment = MergedEnvironment(extra);
  std::vector<char*> env_pointers = Pointers(environment);

  PipeEnds in = input == InputKind::Socket ? MakeSocketPair() : MakePipe();
  PipeEnds out = MakePipe();
  PipeEnds err = MakePipe();
  PipeEnds status = MakePipe();
  auto close_pipes = [&] {
    for (PipeEnds* ends : {&in, &out, &err, &status}) {
      CloseIfOpen(ends->read);
      CloseIfOpen(ends->write);
    }
  };
  if (in.read < 0 || out.read < 0 || err.read < 0 || status.read < 0) {
    const int error = errno;
    close_pipes();
    throw Exception("Cannot start " + argv[0] + ": " + std::strerror(error));
  }

  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0) {
    const int error = errno;
    close_pipes();
    throw Exception("Cannot start " + argv[0] + ": " + std::strerror(error));
  }
  if (pid == 0) {
    RunChild(parent, in, out, err, status.write, path->c_str(), argv_pointers.data(),
             env_pointers.data());
  }

  ChildProcess child;
  child.pid_ = pid;
  child.input_ = OwnedFd(in.write);
  child.input_is_socket_ = input == InputKind::Socket;
  child.output_ = OwnedFd(out.read);
  child.error_ = OwnedFd(err.read);
  in.write = out.read = err.read = -1;
  CloseIfOpen(in.read);
  CloseIfOpen(out.write);
  CloseIfOpen(err.write);
  CloseIfOpen(status.write);

  // The status pipe ends without a byte when exec succeeded; else it carries exec's errno.
  int exec_error = 0;
  ssize_t got;
  do {
    got = ::read(status.read, &exec_error, sizeof exec_error);
  } while (got < 0 && errno == EINTR);
  CloseIfOpen(status.read);
  if (got > 0) {
    child.Terminate();  // it is ending by itself (exit 127)
    throw Exception("Cannot start " + argv[0] + ": " + std::strerror(exec_error));
  }
  SetNonBlocking(child.input_.Get());
  SetNonBlocking(child.output_.Get());
  SetNonBlocking(child.error_.Get());
  return child;
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      input_(std::move(other.input_)),
      output_(std::move(other.output_)),
      error_(std::move(other.error_)),
      input_is_socket_(other.input_is_socket_),
      exit_(std::exchange(other.exit_, std::nullopt)) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    End();
    pid_ = std::exchange(other.pid_, -1);
    input_ = std::move(other.input_);
    output_ = std::move(other.output_);
    error_ = std::move(other.error_);
    input_is_socket_ = other.input_is_socket_;
    exit_ = std::exchange(other.exit_, std::nullopt);
  }
  return *this;
}

ChildProcess::~ChildProcess() { End(); }

void ChildProcess::End() noexcept {
  input_.Close();
  output_.Close();
  error_.Close();
  if (pid_ > 0 && !exit_) Terminate();
  pid_ = -1;
}

PipeResult ChildProcess::WriteSome(std::string_view bytes) {
  if (!input_.Valid()) return {PipeResult::State::Failed, 0, EPIPE};
  if (bytes.empty()) return PipeResult::Moved(0);
  if (input_is_socket_) {
    const ssize_t count = ::send(input_.Get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    return ResultOf(count, errno);
  }
  SigpipeBlocked blocked;
  const ssize_t count = ::write(input_.Get(), bytes.data(), bytes.size());
  const int error = errno;
  if (count < 0 && error == EPIPE) blocked.Raised();
  return ResultOf(count, error);
}

PipeResult ChildProcess::WriteSome(std::span<const std::string_view> pieces) {
  if (!input_.Valid()) return {PipeResult::State::Failed, 0, EPIPE};
  std::array<iovec, 64> vector{};
  size_t count = 0;
  for (const std::string_view piece : pieces) {
    if (count == vector.size()) break;
    if (piece.empty()) continue;
    vector[count++] = iovec{const_cast<char*>(piece.data()), piece.size()};
  }
  if (count == 0) return PipeResult::Moved(0);
  if (input_is_socket_) {
    msghdr message{};
    message.msg_iov = vector.data();
    message.msg_iovlen = count;
    const ssize_t moved = ::sendmsg(input_.Get(), &message, MSG_NOSIGNAL);
    return ResultOf(moved, errno);
  }
  SigpipeBlocked blocked;
  const ssize_t moved = ::writev(input_.Get(), vector.data(), static_cast<int>(count));
  const int error = errno;
  if (moved < 0 && error == EPIPE) blocked.Raised();
  return ResultOf(moved, error);
}

PipeResult ChildProcess::SpliceIntoInput(int fd, int64_t& offset, size_t length) {
  if (!input_.Valid()) return {PipeResult::State::Failed, 0, EPIPE};
  if (length == 0) return PipeResult::Moved(0);
  SigpipeBlocked blocked;  // a socket whose reader has gone raises it here too
  loff_t from = offset;
  const ssize_t moved =
      input_is_socket_
          ? ::sendfile(input_.Get(), fd, &from, length)
          : ::splice(fd, &from, input_.Get(), nullptr, length, SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
  const int error = errno;
  if (moved < 0 && error == EPIPE) blocked.Raised();
  if (moved > 0) offset = from;
  return ResultOf(moved, error);
}

size_t ChildProcess::GrowPipes(size_t bytes) {
  const int wanted = static_cast<int>(std::min<size_t>(bytes, INT_MAX));
  // A refusal (over the system's limit for this user) leaves the pipes as they are; a send
  // buffer is capped by the system (net.core.wmem_max).
  if (input_.Valid() && input_is_socket_) {
    ::setsockopt(input_.Get(), SOL_SOCKET, SO_SNDBUF, &wanted, sizeof wanted);
  } else if (input_.Valid()) {
    ::fcntl(input_.Get(), F_SETPIPE_SZ, wanted);
  }
  if (!output_.Valid()) return 0;
  ::fcntl(output_.Get(), F_SETPIPE_SZ, wanted);
  const int size = ::fcntl(output_.Get(), F_GETPIPE_SZ);
  return size > 0 ? static_cast<size_t>(size) : 0;
}

PipeResult ChildProcess::ReadSome(std::span<char> into) { return ReadFrom(output_.Get(), into); }

PipeResult ChildProcess::ReadErrorSome(std::span<char> into) { return ReadFrom(error_.Get(), into); }

void ChildProcess::CloseInput() { input_.Close(); }

std::optional<ChildExit> ChildProcess::TryReap() {
  if (exit_ || pid_ <= 0) return exit_;
  int status = 0;
  pid_t done;
  do {
    done = ::waitpid(pid_, &status, WNOHANG);
  } while (done < 0 && errno == EINTR);
  if (done == pid_) {
    exit_ = ExitOfStatus(status);
  } else if (done < 0) {
    exit_ = ChildExit{};  // not ours to wait for any more (reaped elsewhere): nothing is left
  }
  return exit_;
}

std::optional<ChildExit> ChildProcess::AwaitExit(int limit_ms) {
  struct timespec started {};
  ::clock_gettime(CLOCK_MONOTONIC, &started);
  long step_us = 100;
  while (!TryReap()) {
    struct timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const long elapsed_ms =
        (now.tv_sec - started.tv_sec) * 1000 + (now.tv_nsec - started.tv_nsec) / 1'000'000;
    if (elapsed_ms >= limit_ms) return std::nullopt;
    ::usleep(static_cast<useconds_t>(step_us));
    if (step_us < 2000) step_us *= 2;
  }
  return exit_;
}

ChildExit ChildProcess::Terminate(int grace_ms) {
  if (TryReap()) return *exit_;
  ::kill(pid_, SIGTERM);
  if (AwaitExit(grace_ms)) return *exit_;
  ::kill(pid_, SIGKILL);
  int status = 0;
  pid_t done;
  do {
    done = ::waitpid(pid_, &status, 0);  // SIGKILL cannot be refused: this ends
  } while (done < 0 && errno == EINTR);
  exit_ = done == pid_ ? ExitOfStatus(status) : ChildExit{};
  return *exit_;
}

}  // namespace tarnex::platform
