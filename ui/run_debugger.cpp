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
}

bool RunDebugger::BeforeLine(int32_t line) {
  bool hold = false;
  switch (mode_) {
    case Mode::Plain:
      break;
    case Mode::Breakpoints:
      hold = hooks_.is_breakpoint(line);
      break;
    case Mode::NextLine:
      hold = true;
      break;
    case Mode::ToLine:
      hold = line == target_ || hooks_.is_breakpoint(line);
      break;
  }
  hooks_.show_line(line, hold);
  if (!hold) return true;
  const bool go_on = Hold(line);
  hooks_.show_line(line, false);
  return go_on;
}

void RunDebugger::AfterLine(int32_t line) {
  hooks_.line_done(line);
}

void RunDebugger::RunEnded() {
  mode_ = Mode::Plain;
  target_ = -1;
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
  Resume(Mode::ToLine, line);
}

void RunDebugger::Stop() {
  if (hold_loop_ == nullptr) return;
  stop_ = true;
  Resume(Mode::Plain, -1);
}

}  // namespace tarnex::ui
