// The script editor Batmemo: a plain-text editor with a line-number gutter, breakpoints, the
// line a run is at and the line the caret is on. A breakpoint belongs to its line's text block,
// so it moves with its line while lines are typed or deleted above it. A run ties its snapshot
// to the blocks when it starts (TieRunLines): the run's line numbers stay those of its copy,
// and each leads to the block it came from, wherever edits have moved that block since.
#pragma once

#include <QPlainTextEdit>
#include <functional>
#include <unordered_map>
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
  // The breakpoint of the block the run's line `index` came from; false when that block is gone.
  bool RunLineHasBreakpoint(int index) const;
  void ToggleBreakpoint(int line);
  void ClearBreakpoints();
  // 0-based, ascending.
  std::vector<int> Breakpoints() const;
  // Replaces them all; lines past the end are left out. Does not call OnBreakpointsChanged.
  void SetBreakpoints(const std::vector<int>& lines);
  // After a toggle or a clear by the user.
  std::function<void()> OnBreakpointsChanged;

  // Gives every line a lasting identity (kept until the line is deleted or the text replaced)
  // and makes the current lines the run's: the run's line `index` is the block that is line
  // `index` now.
  void TieRunLines();
  // The identity of the run's line `index`; 0 when the run has no such line.
  int RunLineId(int index) const;
  // The run's index of the line that is line `line` now; -1 when the run has no such line
  // (one typed since the run began).
  int RunIndexOfLine(int line) const;
  // The line (as it is numbered now) of the block with identity `id`; -1 when it is gone.
  int LineOfId(int id) const;

  // The run's line `index` is being run, -1 when none; held there when `paused`. Its block is
  // highlighted and scrolled into view; the caret stays where the user left it.
  void SetRunLine(int index, bool paused);
  // Where the line being run is now, -1 when none (or its block was deleted).
  int RunLine() const;
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
  void UpdateHighlights();
  void KeepMarksWithTheirText(int from, int added);
  void SetMark(int line, bool on);

  LineGutter* gutter_;
  std::vector<int> run_ids_;  // the identity of each line of the run's snapshot
  int run_line_id_ = 0;       // the block being run, 0 when none
  bool run_paused_ = false;
  int next_id_ = 1;
  // Identity to line number, rebuilt after the text changed.
  mutable std::unordered_map<int, int> lines_of_ids_;
  mutable bool lines_stale_ = true;
};

}  // namespace tarnex::ui
