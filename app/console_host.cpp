#include "app/console_host.h"

#include "platform/codepage.h"

namespace tarnex::app {
namespace {

void WriteLine(std::FILE* out, std::string text) {
  text += '\n';
  std::fwrite(text.data(), 1, text.size(), out);
  std::fflush(out);
}

}  // namespace

ConsoleHost::ConsoleHost(std::FILE* log_out, std::FILE* messages_out, bool can_ask)
    : log_out_(log_out), messages_out_(messages_out), can_ask_(can_ask), progress_(messages_out) {}

void ConsoleHost::AppendLog(const std::string& line) { AppendLogLines({line}); }

void ConsoleHost::AppendLogLines(const std::vector<std::string>& lines) {
  if (keep_lines_) lines_.insert(lines_.end(), lines.begin(), lines.end());
  // Standard output and standard error may be the same terminal.
  progress_.Clear();
  // Written a piece of about 1 MiB at a time, not a system call per line.
  std::string text;
  auto write_out = [&] {
    std::fwrite(text.data(), 1, text.size(), log_out_);
    if (log_copy_ != nullptr) std::fwrite(text.data(), 1, text.size(), log_copy_);
    text.clear();
  };
  for (const auto& line : lines) {
    text += platform::CurrentTextToUtf8(line);
    text += '\n';
    if (text.size() >= (1u << 20)) write_out();
  }
  write_out();
  // Each line as soon as it is logged.
  std::fflush(log_out_);
  if (log_copy_ != nullptr) std::fflush(log_copy_);
}

void ConsoleHost::PrintMessage(std::string_view utf8_line) {
  progress_.Clear();
  WriteLine(messages_out_, std::string(utf8_line));
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
