// The script editor Batmemo: a plain-text editor with a line-number gutter, breakpoints and the
// line a run is at. A breakpoint belongs to its line's text block, so it moves with its line
// while lines are typed or deleted above it.
#pragma once

#include <QPlainTextEdit>
#include <functional>
#include <vector>

namespace tarnex::ui {

class LineGutter;

class TScriptEditor : public QPlainTextEdit {
 public:
  explicit TScriptEditor(QWidget* parent = nullptr);

  // The lines on view: 0-based number, top and height in viewport coordinates.
  struct VisibleLine {
    int number;
    int top;
    int height;
  };
  std::vector<VisibleLine> VisibleLines() const;
  // The line at viewport height `y`; -1 below the last line.
  int LineAt(int y) const;

  bool HasBreakpoint(int line) const;
  void ToggleBreakpoint(int line);
  void ClearBreakpoints();
  // 0-based, ascending.
  std::vector<int> Breakpoints() const;
  // Replaces them all; lines past the end are left out. Does not call OnBreakpointsChanged.
  void SetBreakpoints(const std::vector<int>& lines);
  // After a toggle or a clear by the user.
  std::function<void()> OnBreakpointsChanged;

  // The line a run is at, -1 when none; held there when `paused`. The line is highlighted
  // and scrolled into view; the caret stays where the user left it.
  void SetRunLine(int line, bool paused);
  int RunLine() const { return run_line_; }
  bool RunLinePaused() const { return run_paused_; }
  // Scrolls `line` into view when it is not.
  void ShowLine(int line);

  LineGutter* Gutter() const { return gutter_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void UpdateGutterWidth();
  void UpdateGutter(const QRect& rect, int dy);
  void UpdateRunHighlight();
  void SetMark(int line, bool on);

  LineGutter* gutter_;
  int run_line_ = -1;
  bool run_paused_ = false;
};

}  // namespace tarnex::ui
