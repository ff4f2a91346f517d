#include "app/console_host.h"

#include <ctime>

#include "platform/codepage.h"

namespace tarnex::app {

// Lines for one stream, written a piece of about 1 MiB at a time rather than a system call
// per line, and flushed when the batch ends: each line goes out as soon as it is logged.
class ConsoleHost::Batch {
 public:
  explicit Batch(std::FILE* out) : out_(out) {}
  ~Batch() {
    Write();
    if (out_ != nullptr) std::fflush(out_);
  }
  Batch(const Batch&) = delete;
  Batch& operator=(const Batch&) = delete;

  void Add(const std::string& prefix, const std::string& line) {
    text_ += prefix;
    text_ += platform::CurrentTextToUtf8(line);
    text_ += '\n';
    if (text_.size() >= (1u << 20)) Write();
  }

 private:
  void Write() {
    if (out_ != nullptr) std::fwrite(text_.data(), 1, text_.size(), out_);
    text_.clear();
  }

  std::FILE* out_;
  std::string text_;
};

ConsoleHost::ConsoleHost(std::FILE* log_out, std::FILE* messages_out, bool can_ask)
    : log_out_(log_out), messages_(messages_out), can_ask_(can_ask), progress_(messages_out) {}

void ConsoleHost::SetLogOutput(const LinePrefix& prefix, bool quiet) {
  out_prefix_ = prefix;
  quiet_ = quiet;
}

void ConsoleHost::Record(const std::vector<std::string>& lines, std::time_t now,
                         LoggedLineKind kind) {
  if (keep_lines_) lines_.insert(lines_.end(), lines.begin(), lines.end());
  // Standard output and standard error may be the same terminal.
  progress_.Clear();
  if (record_ != nullptr) {
    for (const auto& line : lines) RecordLogLine(record_, kind, platform::CurrentTextToUtf8(line));
    std::fflush(record_);
  }
  if (log_copy_ == nullptr) return;
  // The copy is the whole log: no priorities, nothing left out.
  LinePrefix copy_prefix;
  copy_prefix.timestamps = out_prefix_.timestamps;
  const std::string prefix = copy_prefix.For(LineKind::Info, now);
  Batch copy(log_copy_);
  for (const auto& line : lines) copy.Add(prefix, line);
}

void ConsoleHost::AppendLog(const std::string& line) {
  Log({line}, LoggedLineKind::Other);
}

void ConsoleHost::AppendLogLines(const std::vector<std::string>& lines) {
  Log(lines, LoggedLineKind::Listing);
}

void ConsoleHost::Log(const std::vector<std::string>& lines, LoggedLineKind kind) {
  if (lines.empty()) return;
  const std::time_t now = std::time(nullptr);
  Record(lines, now, kind);
  failures_.Logged(lines.back());
  Batch out(log_out_);
  const bool hold = quiet_ || out_prefix_.journal;
  const std::string prefix = out_prefix_.For(LineKind::Info, now);
  for (const auto& line : lines) {
    if (!hold) {
      out.Add(prefix, line);
      continue;
    }
    Release(out);
    held_ = line;
  }
}

void ConsoleHost::AppendScriptLine(int32_t index, const std::string& line) {
  const std::time_t now = std::time(nullptr);
  Record({line}, now, LoggedLineKind::Script);
  failures_.ScriptLine(index, line);
  Batch out(log_out_);
  Release(out);
  command_line_ = line;
  command_shown_ = !quiet_;
  if (!quiet_) out.Add(out_prefix_.For(LineKind::Info, now), line);
}

void ConsoleHost::CommandFailed() {
  failures_.CommandFailed();
  Batch out(log_out_);
  const std::string prefix = out_prefix_.For(LineKind::Failure, std::time(nullptr));
  if (!command_shown_) {
    out.Add(prefix, command_line_);
    command_shown_ = true;
  }
  if (held_) out.Add(prefix, *held_);
  held_.reset();
}

void ConsoleHost::AfterLine(int32_t) {
  Batch out(log_out_);
  Release(out);
}

void ConsoleHost::Release(Batch& out) {
  if (held_ && !quiet_) out.Add(out_prefix_.For(LineKind::Info, std::time(nullptr)), *held_);
  held_.reset();
}

void ConsoleHost::ShowHeldLine(LineKind kind) {
  Batch out(log_out_);
  if (held_) out.Add(out_prefix_.For(kind, std::time(nullptr)), *held_);
  held_.reset();
}

void ConsoleHost::PrintMessage(std::string_view utf8_line, LineKind kind) {
  progress_.Clear();
  messages_.Print(kind, utf8_line);
}

void ConsoleHost::Warn(const std::string& warning) {
  progress_.Clear();
  messages_.Warn(warning);
}

std::string ConsoleHost::StatusText(int panel) const {
  return panel >= 0 && panel < static_cast<int>(panels_.size()) ? panels_[panel] : std::string();
}

void ConsoleHost::SetStatusText(int panel, const std::string& text) {
  if (panel >= 0 && panel < static_cast<int>(panels_.size())) panels_[panel] = text;
}

platform::MessageResult ConsoleHost::ShowMessage(const platform::MessageBoxRequest& box) {
  std::string text =
      platform::CurrentTextToUtf8(box.caption) + ": " + platform::CurrentTextToUtf8(box.text);
  bool wait = can_ask_ && box.system_modal;  // only pause waits for the user
  if (wait) text += " [Enter]";
  PrintMessage(text);
  if (wait) {
    for (int c = std::getchar(); c != '\n' && c != EOF; c = std::getchar()) {
    }
  }
  switch (box.buttons) {
    case platform::MessageButtons::Ok:
      return platform::MessageResult::Ok;
    case platform::MessageButtons::YesNo:
      return platform::MessageResult::No;
    case platform::MessageButtons::YesNoCancel:
      return platform::MessageResult::Cancel;
  }
  return platform::MessageResult::Ok;
}

}  // namespace tarnex::app
