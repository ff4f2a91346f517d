// Runs a program (the helper, ssh) as a child of the test while the thread's message loop is
// dispatched, as the SFTP session's waits do, so that an SshAuthChannel answers it.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace tarnex::testing {

struct DispatchedRun {
  std::optional<int> status;  // the wait status; none when the child was stopped by the test
  std::string out;
  std::vector<std::string> err_lines;
};

struct RunRequest {
  std::vector<std::string> argv;
  std::vector<std::pair<std::string, std::string>> env;
  std::vector<std::string> unset;
  std::string input;  // written to its standard input, which stays open
  // Stops the child once its output is enough (an SFTP VERSION packet); none: run to its end.
  std::function<bool(const std::string& out)> enough;
  std::chrono::seconds limit{30};
};

DispatchedRun RunDispatching(const RunRequest& request);

}  // namespace tarnex::testing
