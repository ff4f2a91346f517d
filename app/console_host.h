// The engine's host without a display: the log goes to standard output as UTF-8, message
// boxes to standard error.
#pragma once

#include <array>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "app/progress_line.h"
#include "script/engine_host.h"

namespace tarnex::app {

class ConsoleHost : public script::EngineHost {
 public:
  ConsoleHost(std::FILE* log_out, std::FILE* messages_out, bool can_ask);

  // Every log line also to `file` (UTF-8, one line each), as it is logged.
  void CopyLogTo(std::FILE* file) { log_copy_ = file; }
  // Keeps every log line as it was logged (in the run's encoding), for a log file written
  // at the end.
  void KeepLines() { keep_lines_ = true; }
  const std::vector<std::string>& Lines() const { return lines_; }

  // The transfer progress on standard error; drawn only when enabled (a terminal).
  void EnableProgress() { progress_.Enable(); }
  ProgressLine& Progress() { return progress_; }

  // One line of UTF-8 text on standard error, after the progress line is taken away.
  void PrintMessage(std::string_view utf8_line);

  // A line in the thread's text encoding: as it is in a UTF-8 run, converted from CP932
  // otherwise.
  void AppendLog(const std::string& line) override;
  void AppendLogLines(const std::vector<std::string>& lines) override;
  std::string StatusText(int panel) const override;
  void SetStatusText(int panel, const std::string& text) override;
  void LockUi() override {}
  void UnlockUi() override {}
  platform::MessageResult ShowMessage(const platform::MessageBoxRequest& box) override;

 private:
  std::FILE* log_out_;
  std::FILE* messages_out_;
  bool can_ask_;  // standard input is a terminal: a pause waits for Enter
  std::FILE* log_copy_ = nullptr;
  bool keep_lines_ = false;
  std::vector<std::string> lines_;
  ProgressLine progress_;
  std::array<std::string, 4> panels_;
};

}  // namespace tarnex::app
