#include "tests/ssh/dispatching_run.h"

#include <poll.h>
#include <unistd.h>

#include <sstream>

#include "platform/message_loop.h"
#include "tests/support/child_process.h"

namespace tarnex::testing {
namespace {

// Reads what is there; false at the end of the stream.
bool ReadSome(int fd, std::string& into) {
  char block[4096];
  const ssize_t n = ::read(fd, block, sizeof block);
  if (n > 0) into.append(block, static_cast<size_t>(n));
  return n > 0 || (n < 0 && errno == EINTR);
}

}  // namespace

DispatchedRun RunDispatching(const RunRequest& request) {
  detail::ChildProcess child(request.argv, detail::ChildOptions{.capture_output = true,
                                                                .capture_errors = true,
                                                                .pipe_input = true,
                                                                .env = request.env,
                                                                .unset = request.unset});
  if (!request.input.empty()) {
    EXPECT_EQ(::write(child.Input(), request.input.data(), request.input.size()),
              static_cast<ssize_t>(request.input.size()));
  }
  DispatchedRun run;
  std::string err;
  bool out_open = true, err_open = true, enough = false;
  const auto deadline = std::chrono::steady_clock::now() + request.limit;
  while ((out_open || err_open) && !enough) {
    if (std::chrono::steady_clock::now() >= deadline) {
      ADD_FAILURE() << request.argv.front() << " did not finish within " << request.limit.count()
                    << " s";
      break;
    }
    pollfd fds[2] = {{out_open ? child.Output() : -1, POLLIN, 0},
                     {err_open ? child.Errors() : -1, POLLIN, 0}};
    platform::MessageLoop::Current().WaitAndProcess(100, fds);
    if (fds[0].revents != 0) out_open = ReadSome(child.Output(), run.out);
    if (fds[1].revents != 0) err_open = ReadSome(child.Errors(), err);
    enough = request.enough && request.enough(run.out);
  }
  if (!enough) run.status = child.WaitExit(std::chrono::seconds(10));
  child.Stop();
  std::istringstream lines(err);
  for (std::string line; std::getline(lines, line);) run.err_lines.push_back(line);
  return run;
}

}  // namespace tarnex::testing
