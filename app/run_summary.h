// The run's summary for machines (--summary-json FILE): one JSON object written at the end of
// the run. docs/summary-json.md describes every field.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "app/failure_tracker.h"

namespace tarnex::app {

struct TransferCount {
  int files = 0;
  int64_t bytes = 0;
  bool operator==(const TransferCount&) const = default;
};

struct RunSummary {
  std::string script;  // the path as given
  std::time_t start = 0;
  std::time_t end = 0;
  int exit_status = 0;
  int lines_run = 0;
  int commands_run = 0;
  std::vector<CommandFailure> failures;
  TransferCount downloaded;
  TransferCount uploaded;
  std::vector<std::string> warnings;
  std::string error;  // why the run could not start or end (exit status 2); empty otherwise
};

// The summary as one JSON object (UTF-8; a byte that is not UTF-8 becomes U+FFFD), with a line
// end after it.
std::string SummaryJson(const RunSummary& summary);

// Writes `text` to `path` whole or not at all (a reader never sees half a summary): into a new
// file beside it, then renamed over it. The error in the user's language, or empty.
std::string WriteFileWhole(const std::string& path, const std::string& text);

}  // namespace tarnex::app
