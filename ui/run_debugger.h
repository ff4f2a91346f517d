// The pause controller of runs started from the window. The engine's host hands it every line
// before and after it runs; a whole run it was armed for is held before a breakpoint line (or
// the line asked to run to, or the next line after a step) in a nested event loop, so that the
// window stays responsive and the core's own loop keeps dispatching (socket notifications and
// timers go on, the FTP connection stays up) until the user continues, steps, runs on to a line
// or stops. Any other run (a single step, the automatic run) is never held. A run that goes
// may be asked to hold before its next line (Pause) or at a line (run to the caret).
//
// A goto lands on the line after its label, so the label line itself never runs: a run that
// jumps holds at the label line first when that line has a breakpoint or is the line asked
// for, as a run that walks into the label does.
#pragma once

#include <cstdint>
#include <functional>

class QEventLoop;

namespace tarnex::ui {

class RunDebugger {
 public:
  // What the window does around the lines; called from clean-up too, so none may throw.
  struct Hooks {
    std::function<bool(int32_t line)> is_breakpoint;
    // False once something asked the run to stop (the close query clears the running flag).
    std::function<bool()> running;
    // The line being run, or -1 when none; `paused` while the run is held there.
    std::function<void(int32_t line, bool paused)> show_line;
    // The run is held (true) or goes on (false).
    std::function<void(bool paused)> pause_changed;
    std::function<void(int32_t line)> line_done;
  };

  explicit RunDebugger(Hooks hooks);
  RunDebugger(const RunDebugger&) = delete;
  RunDebugger& operator=(const RunDebugger&) = delete;

  // The next whole run may be held: before breakpoint lines, and before `run_to` when it is 0
  // or more.
  void ArmWholeRun(int32_t run_to = -1);

  // From the engine's host. BeforeLine returns false when the run is to end before the line.
  bool BeforeLine(int32_t line);
  void AfterLine(int32_t line);
  void RunEnded();

  bool Paused() const { return hold_loop_ != nullptr; }
  // A whole run is armed and may be held (it is going or held).
  bool Armed() const { return mode_ != Mode::Plain; }
  int32_t PausedLine() const { return paused_line_; }

  // While paused: go on to the next breakpoint; run the next line and pause again; go on to
  // `line` (or an earlier breakpoint); end the run before this line. Nothing otherwise, except
  // that RunTo sets where a going run is to hold.
  void Continue();
  void StepLine();
  void RunTo(int32_t line);
  void Stop();
  // A going armed run holds before its next line; false when there is none to hold.
  bool RequestPause();

  // Called from inside the held run's loop, once per pause (tests drive the window from here).
  std::function<void(int32_t line)> OnPaused;

 private:
  enum class Mode { Plain, Breakpoints, NextLine, ToLine };

  bool WouldHold(int32_t line) const;
  // Holds at `line` when the mode says so; false when the run is to end.
  bool CheckLine(int32_t line);
  bool Hold(int32_t line);
  void Resume(Mode mode, int32_t target);

  Hooks hooks_;
  Mode mode_ = Mode::Plain;
  int32_t target_ = -1;
  int32_t paused_line_ = -1;
  int32_t last_ran_ = -1;  // the line that ran last, -1 before the first
  bool resumed_ = false;
  bool stop_ = false;
  QEventLoop* hold_loop_ = nullptr;
};

}  // namespace tarnex::ui
