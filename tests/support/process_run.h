// Runs a command line through the shell with a time limit and collects its output.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace tarnex::testing {

struct ProcessOutcome {
  int status = -1;  // the exit status, -1 when the process did not exit normally
  std::string out;
  std::string err;
};

// Runs `command` in `directory` with standard input from /dev/null, at most `seconds` long.
inline ProcessOutcome RunProcess(const std::string& directory, const std::string& command,
                                 int seconds = 60) {
  const std::string err_file = directory + "/.stderr.txt";
  const std::string line = "cd '" + directory + "' && timeout " + std::to_string(seconds) + " " +
                           command + " </dev/null 2>'" + err_file + "'";
  ProcessOutcome outcome;
  FILE* pipe = ::popen(line.c_str(), "r");
  if (pipe == nullptr) return outcome;
  char buffer[4096];
  while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) outcome.out.append(buffer, n);
  const int raw = ::pclose(pipe);
  outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  std::ifstream in(err_file);
  outcome.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return outcome;
}

}  // namespace tarnex::testing
