// The runner's lines on standard error: its own messages, warnings and errors, the trace, and
// the script's message boxes; each with the line prefix, each flushed at once.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "app/line_prefix.h"

namespace tarnex::app {

class MessageOutput {
 public:
  explicit MessageOutput(std::FILE* out) : out_(out) {}

  void SetPrefix(const LinePrefix& prefix) { prefix_ = prefix; }

  // One line of UTF-8 text.
  void Print(LineKind kind, std::string_view line);
  // "tarnex-run: " and the warning (translated already), which is also kept for the summary.
  void Warn(const std::string& warning);

  const std::vector<std::string>& Warnings() const { return warnings_; }

 private:
  std::FILE* out_;
  LinePrefix prefix_;
  std::vector<std::string> warnings_;
};

}  // namespace tarnex::app
