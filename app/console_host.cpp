#include "app/console_host.h"

#include "platform/codepage.h"

namespace tarnex::app {

ConsoleHost::ConsoleHost(std::FILE* log_out, std::FILE* messages_out, bool can_ask)
    : log_out_(log_out), messages_out_(messages_out), can_ask_(can_ask) {}

void ConsoleHost::AppendLog(const std::string& line) {
  std::string text = platform::Cp932ToUtf8(line);
  text += '\n';
  std::fwrite(text.data(), 1, text.size(), log_out_);
  std::fflush(log_out_);  // each line as soon as it is logged
}

std::string ConsoleHost::StatusText(int panel) const {
  return panel >= 0 && panel < static_cast<int>(panels_.size()) ? panels_[panel] : std::string();
}

void ConsoleHost::SetStatusText(int panel, const std::string& text) {
  if (panel >= 0 && panel < static_cast<int>(panels_.size())) panels_[panel] = text;
}

platform::MessageResult ConsoleHost::ShowMessage(const platform::MessageBoxRequest& box) {
  std::string text = platform::Cp932ToUtf8(box.caption) + ": " + platform::Cp932ToUtf8(box.text);
  bool wait = can_ask_ && box.system_modal;  // only pause waits for the user
  if (wait) text += " [Enter]";
  text += '\n';
  std::fwrite(text.data(), 1, text.size(), messages_out_);
  std::fflush(messages_out_);
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
