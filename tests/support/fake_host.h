// An engine host for tests: records the log, the status panels, the lock and every message
// box, and answers boxes from a queue. Under ctest its log lines also go to the record that
// tests/docs/ holds against docs/log-lines.md.
#pragma once

#include <array>
#include <deque>
#include <string>
#include <vector>

#include "app/log_line_record.h"
#include "platform/codepage.h"
#include "script/engine_host.h"

namespace tarnex::testing {

class FakeHost : public script::EngineHost {
 public:
  void AppendLog(const std::string& line) override { Append({line}, app::LoggedLineKind::Other); }
  void AppendScriptLine(int32_t /*index*/, const std::string& line) override {
    Append({line}, app::LoggedLineKind::Script);
  }
  void AppendLogLines(const std::vector<std::string>& lines) override {
    Append(lines, app::LoggedLineKind::Listing);
  }
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

 private:
  void Append(const std::vector<std::string>& lines, app::LoggedLineKind kind) {
    static std::FILE* const record = app::OpenLogLineRecord();  // one per test process
    for (const std::string& line : lines) {
      log.push_back(line);
      if (record != nullptr) app::RecordLogLine(record, kind, platform::CurrentTextToUtf8(line));
    }
    if (record != nullptr) std::fflush(record);
  }
};

}  // namespace tarnex::testing
