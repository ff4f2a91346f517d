// The values of a run's variables given on the command line: as written (--set), the first
// line of a file (--set-from-file, say a credential systemd hands over in
// $CREDENTIALS_DIRECTORY) or an environment variable (--set-from-env). The last two keep a
// password out of the process list, which every user of the machine can read.
#pragma once

#include <string>
#include <vector>

#include "app/runner_options.h"

namespace tarnex::app {

// A first line longer than this is refused: a password file is short, and a device that
// never ends a line must not hold the run.
inline constexpr std::size_t kMaxFirstLineBytes = 65536;

struct VariableValue {
  std::string name;   // UTF-8, as given
  std::string value;  // UTF-8 (the bytes of the file or the environment, as they are)
};

struct ResolvedVariables {
  std::vector<VariableValue> values;  // in the order given: a later one of a name wins
  std::string error;                  // the first that could not be read, in the user's language
};

ResolvedVariables ResolveRunVariables(const std::vector<RunVariable>& variables);

// The bytes of `path` up to its first LF (a CR before it is dropped too), or an error.
struct FirstLine {
  std::string text;
  std::string error;
};
FirstLine ReadFirstLine(const std::string& path);

}  // namespace tarnex::app
