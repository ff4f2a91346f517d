#include "app/failure_tracker.h"

#include "platform/codepage.h"
#include "script/command_table.h"
#include "text/string_helpers.h"

namespace tarnex::app {
namespace {

// The engine's own reading of a line's first word.
bool IsCommandLine(std::string line) {
  const std::optional<script::Command> command =
      script::LookupCommand(TrimBlanks(NextToken(line, " ")));
  return command && *command != script::Command::Rem;
}

}  // namespace

void FailureTracker::ScriptLine(int32_t index, const std::string& line) {
  index_ = index;
  command_ = platform::CurrentTextToUtf8(line);
  last_logged_.clear();
  ++lines_run_;
  if (IsCommandLine(line)) ++commands_run_;
}

// Converted as it comes: the run's encoding is the thread's only while the run lasts.
void FailureTracker::Logged(const std::string& line) {
  last_logged_ = platform::CurrentTextToUtf8(line);
}

void FailureTracker::CommandFailed() {
  failures_.push_back({index_ + 1, command_, last_logged_});
}

}  // namespace tarnex::app
