// What the script engine needs from the window (or console) that runs it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/dialogs.h"
#include "platform/message_loop.h"

namespace tarnex::script {

class EngineHost {
 public:
  virtual ~EngineHost() = default;

  // Appends one line (CP932) to the execution log and to every copy of it.
  virtual void AppendLog(const std::string& line) = 0;
  // Many lines logged at one moment (a listing): the same as appending each in turn, but a
  // host may write them in one go.
  virtual void AppendLogLines(const std::vector<std::string>& lines) {
    for (const auto& line : lines) AppendLog(line);
  }

  // The script line about to run, as the log shows it (references replaced, secrets masked);
  // `index` is its place in the run snapshot. A host that tells it apart from the lines the
  // command logs overrides this.
  virtual void AppendScriptLine(int32_t /*index*/, const std::string& line) { AppendLog(line); }
  // The command that just ran set the result flag to failure. The line logged last after its
  // script line, if it logged any, is the one that says why.
  virtual void CommandFailed() {}

  // The four status panels: 0 run state or modified mark, 1 connection, 2 host, 3 progress.
  virtual std::string StatusText(int panel) const = 0;
  virtual void SetStatusText(int panel, const std::string& text) = 0;

  // The run lock: the busy cursor, every menu item disabled (remembering which were enabled);
  // and back to the default cursor with exactly those items enabled again.
  virtual void LockUi() = 0;
  virtual void UnlockUi() = 0;

  // A modal message box; returns the button pressed.
  virtual platform::MessageResult ShowMessage(const platform::MessageBoxRequest& box) = 0;

  // Lets the application handle everything pending (repaint included).
  virtual void ProcessMessages() { platform::MessageLoop::Current().ProcessMessages(); }

  // The line at `index` of the run snapshot is about to run. A host that shows the script
  // marks it, and may hold the run here (a breakpoint) while messages keep flowing; false
  // ends the run before the line, as `stop` would (the end line is still written).
  virtual bool BeforeLine(int32_t /*index*/) { return true; }
  // The line at `index` has run (a goto may have moved the run elsewhere since).
  virtual void AfterLine(int32_t /*index*/) {}
};

}  // namespace tarnex::script
