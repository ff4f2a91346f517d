#include "ui/run_debugger.h"

#include <QEventLoop>
#include <QTimer>

#include "platform/scope_guard.h"
#include "ui/slot_guard.h"

namespace tarnex::ui {
namespace {

// How soon a held run notices that something else cleared the running flag.
constexpr int kRunningCheckMs = 100;

}  // namespace

RunDebugger::RunDebugger(Hooks hooks) : hooks_(std::move(hooks)) {}

void RunDebugger::ArmWholeRun(int32_t run_to) {
  mode_ = run_to >= 0 ? Mode::ToLine : Mode::Breakpoints;
  target_ = run_to;
  last_ran_ = -1;
}

bool RunDebugger::WouldHold(int32_t line) const {
  switch (mode_) {
    case Mode::Plain:
      return false;
    case Mode::Breakpoints:
      return hooks_.is_breakpoint(line);
    case Mode::NextLine:
      return true;
    case Mode::ToLine:
      return line == target_ || hooks_.is_breakpoint(line);
  }
  return false;
}

bool RunDebugger::BeforeLine(int32_t line) {
  const bool jumped = last_ran_ >= 0 && line != last_ran_ + 1 && line >= 1;
  last_ran_ = -1;
  // Landed after a label: its line is where the jump went. A step goes on to the line after.
  if (jumped && mode_ != Mode::NextLine && WouldHold(line - 1) && !CheckLine(line - 1)) {
    return false;
  }
  return CheckLine(line);
}

bool RunDebugger::CheckLine(int32_t line) {
  const bool hold = WouldHold(line);
  hooks_.show_line(line, hold);
  if (!hold) return true;
  const bool go_on = Hold(line);
  hooks_.show_line(line, false);
  return go_on;
}

void RunDebugger::AfterLine(int32_t line) {
  last_ran_ = line;
  hooks_.line_done(line);
}

void RunDebugger::RunEnded() {
  mode_ = Mode::Plain;
  target_ = -1;
  last_ran_ = -1;
  hooks_.show_line(-1, false);
}

bool RunDebugger::Hold(int32_t line) {
  QEventLoop loop;
  // The close query (or any other code) may clear the running flag without telling anyone.
  QTimer watch;
  watch.setInterval(kRunningCheckMs);
  QObject::connect(&watch, &QTimer::timeout, &loop, [this, &loop] {
    if (!hooks_.running()) loop.quit();
  });
  paused_line_ = line;
  resumed_ = false;
  stop_ = false;
  hold_loop_ = &loop;
  {
    // The window hears of the end of the pause however the loop is left; by then the run no
    // longer counts as paused.
    ScopeExit leave([this] {
      hold_loop_ = nullptr;
      paused_line_ = -1;
      hooks_.pause_changed(false);
    });
    hooks_.pause_changed(true);
    if (OnPaused) {
      QTimer::singleShot(0, &loop, [this, line] {
        if (OnPaused) Guard([&] { OnPaused(line); });
      });
    }
    watch.start();
    // Returns at once when the application is already quitting: the run then ends here.
    loop.exec();
  }
  return resumed_ && !stop_ && hooks_.running();
}

void RunDebugger::Resume(Mode mode, int32_t target) {
  if (hold_loop_ == nullptr) return;
  mode_ = mode;
  target_ = target;
  resumed_ = true;
  hold_loop_->quit();
}

void RunDebugger::Continue() {
  Resume(Mode::Breakpoints, -1);
}

void RunDebugger::StepLine() {
  Resume(Mode::NextLine, -1);
}

void RunDebugger::RunTo(int32_t line) {
  if (hold_loop_ == nullptr && mode_ != Mode::Plain) {
    mode_ = Mode::ToLine;  // a going run holds there (or at a breakpoint before)
    target_ = line;
    return;
  }
  Resume(Mode::ToLine, line);
}

bool RunDebugger::RequestPause() {
  if (hold_loop_ != nullptr || mode_ == Mode::Plain) return false;
  mode_ = Mode::NextLine;
  return true;
}

void RunDebugger::Stop() {
  if (hold_loop_ == nullptr) return;
  stop_ = true;
  Resume(Mode::Plain, -1);
}

}  // namespace tarnex::ui
