// Follows a run's script lines and the lines they log, for the run's summary: how many lines
// and commands ran, and for each command that set the result flag to failure its line number,
// its script line and the line that says why (the last it logged before the flag was set).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarnex::app {

struct CommandFailure {
  int line = 0;         // from 1, in the script file
  std::string command;  // the script line as logged (UTF-8)
  std::string reply;    // the line that says why (UTF-8); empty when the command logged none
  bool operator==(const CommandFailure&) const = default;
};

// Lines come in the run's encoding (the thread's) and are kept as UTF-8.
class FailureTracker {
 public:
  void ScriptLine(int32_t index, const std::string& line);
  void Logged(const std::string& line);
  void CommandFailed();

  int LinesRun() const { return lines_run_; }
  // Lines whose first word is a command (not Rem, a label, a blank or an unknown word).
  int CommandsRun() const { return commands_run_; }
  const std::vector<CommandFailure>& Failures() const { return failures_; }
  // The line logged last, if it came after the last script line (UTF-8).
  const std::string& LastLogged() const { return last_logged_; }

 private:
  int32_t index_ = -1;
  std::string command_;      // UTF-8
  std::string last_logged_;  // since the script line; UTF-8
  int lines_run_ = 0;
  int commands_run_ = 0;
  std::vector<CommandFailure> failures_;
};

}  // namespace tarnex::app
