// The engine's host without a display: the log goes to standard output as UTF-8, message
// boxes to standard error.
//
// Which lines report a failure is the engine's to say, not the text's: a command that sets
// the result flag to failure calls CommandFailed, and the line logged last after its script
// line is the one that says why. To mark that line for the journal, or to print only it under
// --quiet, the host holds back the latest line a command logged until the next line comes,
// the command ends or the failure is reported.
#pragma once

#include <array>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/failure_tracker.h"
#include "app/line_prefix.h"
#include "app/log_line_record.h"
#include "app/message_output.h"
#include "app/progress_line.h"
#include "script/engine_host.h"

namespace tarnex::app {

class ConsoleHost : public script::EngineHost {
 public:
  ConsoleHost(std::FILE* log_out, std::FILE* messages_out, bool can_ask);

  // Every log line also to `file` (UTF-8, one line each, timestamps if asked), as it is
  // logged; --quiet and the journal's priorities leave it whole.
  void CopyLogTo(std::FILE* file) { log_copy_ = file; }
  // Keeps every log line as it was logged (in the run's encoding), for a log file written
  // at the end.
  void KeepLines() { keep_lines_ = true; }
  const std::vector<std::string>& Lines() const { return lines_; }
  // Tests only: every log line also to `record`, with its kind (app/log_line_record.h).
  void RecordLinesTo(std::FILE* record) { record_ = record; }

  // How the log's lines on standard output begin; with `quiet`, only the lines of failed
  // commands (their script line and the line that says why) and what ShowHeldLine shows.
  void SetLogOutput(const LinePrefix& prefix, bool quiet);

  // The line held back, if any, is printed now with `kind`, --quiet or not: the end line once
  // the run is over, the line of an error that ended it.
  void ShowHeldLine(LineKind kind);

  // The transfer progress on standard error; drawn only when enabled (a terminal).
  void EnableProgress() { progress_.Enable(); }
  ProgressLine& Progress() { return progress_; }

  // One line of UTF-8 text on standard error, after the progress line is taken away.
  void PrintMessage(std::string_view utf8_line, LineKind kind = LineKind::Info);
  void Warn(const std::string& warning);
  MessageOutput& Messages() { return messages_; }
  const FailureTracker& Failures() const { return failures_; }

  // A line in the thread's text encoding: as it is in a UTF-8 run, converted from CP932
  // otherwise.
  void AppendLog(const std::string& line) override;
  void AppendLogLines(const std::vector<std::string>& lines) override;
  void AppendScriptLine(int32_t index, const std::string& line) override;
  void CommandFailed() override;
  void AfterLine(int32_t index) override;
  std::string StatusText(int panel) const override;
  void SetStatusText(int panel, const std::string& text) override;
  void LockUi() override {}
  void UnlockUi() override {}
  platform::MessageResult ShowMessage(const platform::MessageBoxRequest& box) override;

 private:
  class Batch;
  // Copies and keeps the lines, as every line is copied and kept.
  void Record(const std::vector<std::string>& lines, std::time_t now, LoggedLineKind kind);
  void Log(const std::vector<std::string>& lines, LoggedLineKind kind);
  // The held line goes out as an ordinary line (or nowhere, under --quiet).
  void Release(Batch& out);

  std::FILE* log_out_;
  MessageOutput messages_;
  bool can_ask_;  // standard input is a terminal: a pause waits for Enter
  std::FILE* log_copy_ = nullptr;
  std::FILE* record_ = nullptr;
  bool keep_lines_ = false;
  std::vector<std::string> lines_;
  ProgressLine progress_;
  std::array<std::string, 4> panels_;

  LinePrefix out_prefix_;
  bool quiet_ = false;
  std::optional<std::string> held_;  // only while the journal or --quiet needs it
  std::string command_line_;         // --quiet: the script line, printed once it fails
  bool command_shown_ = false;
  FailureTracker failures_;
};

}  // namespace tarnex::app
