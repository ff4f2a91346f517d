// A child process of a test that is always stopped and reaped: SIGTERM, then SIGKILL if it
// lingers. It dies with the test process (PR_SET_PDEATHSIG), so no server outlives a crash.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

#include "tests/support/test_socket.h"

namespace tarnex::testing::detail {

struct ChildOptions {
  bool capture_output = false;  // standard output through Output(), else thrown away
  bool capture_errors = false;  // standard error through Errors(), else the test's own when
                                // the output is captured, or thrown away
  bool pipe_input = false;      // standard input from Input(), else /dev/null
  // Set in the child's environment on top of the test's; `unset` removed from it.
  std::vector<std::pair<std::string, std::string>> env;
  std::vector<std::string> unset;
};

class ChildProcess {
 public:
  // Starts `argv` (argv[0] a path); with `capture` its standard output comes through
  // Output(), else it is thrown away together with standard error.
  ChildProcess(const std::vector<std::string>& argv, bool capture);
  ChildProcess(const std::vector<std::string>& argv, const ChildOptions& options);
  ~ChildProcess() { Stop(); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  int Output() const { return output_.Get(); }
  int Errors() const { return errors_.Get(); }
  int Input() const { return input_.Get(); }
  void CloseInput() { input_.Close(); }
  pid_t Pid() const { return pid_; }
  // Waits up to `limit` for the exit; returns the wait status, or nothing if it still runs.
  std::optional<int> WaitExit(std::chrono::milliseconds limit);
  void Stop();

 private:
  pid_t pid_ = -1;
  Fd output_;
  Fd errors_;
  Fd input_;
};

// "exit status 1", "signal 15" for a wait status.
std::string ExitText(int status);

}  // namespace tarnex::testing::detail
