// An engine host for tests: records the log, the status panels, the lock and every message
// box, and answers boxes from a queue.
#pragma once

#include <array>
#include <deque>
#include <string>
#include <vector>

#include "script/engine_host.h"

namespace tarnex::testing {

class FakeHost : public script::EngineHost {
 public:
  void AppendLog(const std::string& line) override { log.push_back(line); }
  std::string StatusText(int panel) const override { return panels.at(panel); }
  void SetStatusText(int panel, const std::string& text) override { panels.at(panel) = text; }
  void LockUi() override {
    ++lock_calls;
    locked = true;
  }
  void UnlockUi() override {
    ++unlock_calls;
    locked = false;
  }
  platform::MessageResult ShowMessage(const platform::MessageBoxRequest& box) override {
    boxes.push_back(box);
    if (answers.empty()) return platform::MessageResult::Ok;
    auto answer = answers.front();
    answers.pop_front();
    return answer;
  }

  std::vector<std::string> log;
  std::array<std::string, 4> panels;
  int lock_calls = 0;
  int unlock_calls = 0;
  bool locked = false;
  std::vector<platform::MessageBoxRequest> boxes;
  std::deque<platform::MessageResult> answers;
};

}  // namespace tarnex::testing
