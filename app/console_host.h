// The engine's host without a display: the log goes to standard output as UTF-8, message
// boxes to standard error.
#pragma once

#include <array>
#include <cstdio>
#include <string>

#include "script/engine_host.h"

namespace tarnex::app {

class ConsoleHost : public script::EngineHost {
 public:
  ConsoleHost(std::FILE* log_out, std::FILE* messages_out, bool can_ask);

  void AppendLog(const std::string& line) override;
  std::string StatusText(int panel) const override;
  void SetStatusText(int panel, const std::string& text) override;
  void LockUi() override {}
  void UnlockUi() override {}
  platform::MessageResult ShowMessage(const platform::MessageBoxRequest& box) override;

 private:
  std::FILE* log_out_;
  std::FILE* messages_out_;
  bool can_ask_;  // standard input is a terminal: a pause waits for Enter
  std::array<std::string, 4> panels_;
};

}  // namespace tarnex::app
