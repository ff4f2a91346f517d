#include "tests/support/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace tarnex::testing::detail {
namespace {

struct Pipe {
  Fd read_end;
  Fd write_end;
};

Pipe MakePipe() {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
  return {Fd(ends[0]), Fd(ends[1])};
}

// The test's environment with `options` applied, made before fork (nothing may allocate
// between fork and exec).
std::vector<std::string> ChildEnvironment(const ChildOptions& options) {
  std::vector<std::string> env;
  auto replaced = [&](std::string_view entry) {
    const std::string_view name = entry.substr(0, entry.find('='));
    for (const auto& gone : options.unset) {
      if (name == gone) return true;
    }
    for (const auto& [set, value] : options.env) {
      if (name == set) return true;
    }
    return false;
  };
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (!replaced(*entry)) env.emplace_back(*entry);
  }
  for (const auto& [name, value] : options.env) env.push_back(name + "=" + value);
  return env;
}

std::vector<char*> Pointers(const std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (const auto& s : strings) pointers.push_back(const_cast<char*>(s.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, bool capture)
    : ChildProcess(argv, [capture] {
        ChildOptions options;
        options.capture_output = capture;
        return options;
      }()) {}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const ChildOptions& options) {
  const std::vector<std::string> env_strings = ChildEnvironment(options);
  std::vector<char*> args = Pointers(argv);
  std::vector<char*> env = Pointers(env_strings);
  Pipe output = MakePipe(), errors = MakePipe(), input = MakePipe();
  Fd null(::open("/dev/null", O_RDWR | O_CLOEXEC));
  const int out_fd = options.capture_output ? output.write_end.Get() : null.Get();
  // Uncaptured errors of a captured output go to the test's own, where a failure shows them.
  const int err_fd = options.capture_errors   ? errors.write_end.Get()
                     : options.capture_output ? -1
                                              : null.Get();
  const int in_fd = options.pipe_input ? input.read_end.Get() : null.Get();
  pid_t parent = ::getpid();
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
  if (pid_ == 0) {
    // Only async-signal-safe calls between fork and exec: the test process has threads.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(126);
    ::dup2(in_fd, 0);
    ::dup2(out_fd, 1);
    if (err_fd >= 0) ::dup2(err_fd, 2);
    ::execve(args[0], args.data(), env.data());
    ::_exit(127);
  }
  if (options.capture_output) output_ = std::move(output.read_end);
  if (options.capture_errors) errors_ = std::move(errors.read_end);
  if (options.pipe_input) input_ = std::move(input.write_end);
}

std::optional<int> ChildProcess::WaitExit(std::chrono::milliseconds limit) {
  if (pid_ < 0) return 0;
  auto deadline = Clock::now() + limit;
  for (;;) {
    int status = 0;
    pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_ || (done < 0 && errno != EINTR)) {
      pid_ = -1;
      return status;
    }
    if (Clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void ChildProcess::Stop() {
  if (pid_ < 0) return;
  ::kill(pid_, SIGTERM);
  if (WaitExit(std::chrono::seconds(3))) return;
  ::kill(pid_, SIGKILL);
  WaitExit(std::chrono::seconds(10));
}

std::string ExitText(int status) {
  if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status));
  return "status " + std::to_string(status);
}

}  // namespace tarnex::testing::detail
