#include "app/message_output.h"

#include <ctime>

namespace tarnex::app {

void MessageOutput::Print(LineKind kind, std::string_view line) {
  std::string text = prefix_.For(kind, std::time(nullptr));
  text.append(line);
  text += '\n';
  std::fwrite(text.data(), 1, text.size(), out_);
  std::fflush(out_);
}

void MessageOutput::Warn(const std::string& warning) {
  warnings_.push_back(warning);
  Print(LineKind::Warning, "tarnex-run: " + warning);
}

}  // namespace tarnex::app
