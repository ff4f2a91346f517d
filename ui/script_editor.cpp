#include "ui/script_editor.h"

#include <QPainter>
#include <QScrollBar>
#include <QTextBlock>
#include <algorithm>

#include "ui/line_gutter.h"

namespace tarnex::ui {
namespace {

// What a line keeps with its text block: its breakpoint, and the identity a run gave it.
class LineData : public QTextBlockUserData {
 public:
  bool breakpoint = false;
  int id = 0;
};

LineData* DataOf(const QTextBlock& block) {
  return dynamic_cast<LineData*>(block.userData());
}

LineData& MakeData(QTextBlock block) {
  if (LineData* data = DataOf(block)) return *data;
  auto* data = new LineData;
  block.setUserData(data);  // the block owns its data
  return *data;
}

const QColor kRunningLine(0xd6, 0xe9, 0xff);
const QColor kPausedLine(0xff, 0xf0, 0x96);
const QColor kCaretLine(0xf2, 0xf2, 0xf2);

}  // namespace

TScriptEditor::TScriptEditor(QWidget* parent) : QPlainTextEdit(parent) {
  gutter_ = new LineGutter(*this);
  connect(this, &QPlainTextEdit::blockCountChanged, this, [this] { UpdateGutterWidth(); });
  connect(this, &QPlainTextEdit::updateRequest, this,
          [this](const QRect& rect, int dy) { UpdateGutter(rect, dy); });
  connect(this, &QPlainTextEdit::cursorPositionChanged, this, [this] { UpdateHighlights(); });
  connect(document(), &QTextDocument::contentsChange, this,
          [this](int from, int, int added) { KeepMarksWithTheirText(from, added); });
  UpdateGutterWidth();
  UpdateHighlights();
}

void TScriptEditor::UpdateGutterWidth() {
  setViewportMargins(gutter_->WidthNeeded(), 0, 0, 0);
}

void TScriptEditor::UpdateGutter(const QRect& rect, int dy) {
  if (dy != 0) {
    gutter_->scroll(0, dy);
  } else {
    gutter_->update(0, rect.y(), gutter_->width(), rect.height());
  }
}

void TScriptEditor::resizeEvent(QResizeEvent* event) {
  QPlainTextEdit::resizeEvent(event);
  const QRect area = contentsRect();
  gutter_->setGeometry(area.left(), area.top(), gutter_->WidthNeeded(), viewport()->height());
}

void TScriptEditor::changeEvent(QEvent* event) {
  QPlainTextEdit::changeEvent(event);
  // The gutter's digits take the editor's font.
  if (event->type() == QEvent::FontChange) UpdateGutterWidth();
}

std::vector<TScriptEditor::VisibleLine> TScriptEditor::VisibleLines() const {
  std::vector<VisibleLine> lines;
  const int bottom = viewport()->height();
  for (QTextBlock block = firstVisibleBlock(); block.isValid(); block = block.next()) {
    const QRectF box = blockBoundingGeometry(block).translated(contentOffset());
    if (box.top() > bottom) break;
    if (block.isVisible()) {
      lines.push_back(
          {block.blockNumber(), static_cast<int>(box.top()), static_cast<int>(box.height())});
    }
  }
  return lines;
}

int TScriptEditor::LineAt(int y) const {
  for (const VisibleLine& line : VisibleLines()) {
    if (y >= line.top && y < line.top + line.height) return line.number;
  }
  return -1;
}

bool TScriptEditor::HasBreakpoint(int line) const {
  const QTextBlock block = document()->findBlockByNumber(line);
  const LineData* data = DataOf(block);
  return block.isValid() && data != nullptr && data->breakpoint;
}

bool TScriptEditor::RunLineHasBreakpoint(int index) const {
  const int line = LineOfId(RunLineId(index));
  return line >= 0 && HasBreakpoint(line);
}

void TScriptEditor::SetMark(int line, bool on) {
  QTextBlock block = document()->findBlockByNumber(line);
  if (!block.isValid()) return;
  MakeData(block).breakpoint = on;
}

void TScriptEditor::KeepMarksWithTheirText(int from, int added) {
  lines_stale_ = true;
  // Text with line breaks put in at the start of a line (Enter there, a paste) leaves the
  // line's own data on the first new line; it belongs to the line whose text was there.
  QTextBlock first = document()->findBlock(from);
  if (added <= 0 || first.position() != from || DataOf(first) == nullptr) return;
  QTextBlock last = document()->findBlock(from + added);
  if (!last.isValid() || last == first || DataOf(last) != nullptr) return;
  last.setUserData(new LineData(*DataOf(first)));
  first.setUserData(nullptr);
}

void TScriptEditor::TieRunLines() {
  run_ids_.clear();
  for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
    LineData& data = MakeData(block);
    if (data.id == 0) data.id = next_id_++;
    run_ids_.push_back(data.id);
  }
  lines_stale_ = true;
}

int TScriptEditor::RunIndexOfLine(int line) const {
  const LineData* data = DataOf(document()->findBlockByNumber(line));
  if (data == nullptr || data->id == 0) return -1;
  const auto found = std::find(run_ids_.begin(), run_ids_.end(), data->id);
  return found == run_ids_.end() ? -1 : static_cast<int>(found - run_ids_.begin());
}

int TScriptEditor::RunLineId(int index) const {
  return index >= 0 && index < static_cast<int>(run_ids_.size()) ? run_ids_[index] : 0;
}

int TScriptEditor::LineOfId(int id) const {
  if (id <= 0) return -1;
  if (lines_stale_) {
    lines_of_ids_.clear();
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
      const LineData* data = DataOf(block);
      if (data != nullptr && data->id != 0) lines_of_ids_.emplace(data->id, block.blockNumber());
    }
    lines_stale_ = false;
  }
  const auto found = lines_of_ids_.find(id);
  return found == lines_of_ids_.end() ? -1 : found->second;
}

void TScriptEditor::ToggleBreakpoint(int line) {
  if (!document()->findBlockByNumber(line).isValid()) return;
  SetMark(line, !HasBreakpoint(line));
  gutter_->update();
  if (OnBreakpointsChanged) OnBreakpointsChanged();
}

void TScriptEditor::ClearBreakpoints() {
  if (Breakpoints().empty()) return;
  SetBreakpoints({});
  if (OnBreakpointsChanged) OnBreakpointsChanged();
}

std::vector<int> TScriptEditor::Breakpoints() const {
  std::vector<int> lines;
  for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
    const LineData* data = DataOf(block);
    if (data != nullptr && data->breakpoint) lines.push_back(block.blockNumber());
  }
  return lines;
}

void TScriptEditor::SetBreakpoints(const std::vector<int>& lines) {
  for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
    if (LineData* data = DataOf(block)) data->breakpoint = false;
  }
  for (const int line : lines) SetMark(line, true);
  gutter_->update();
}

void TScriptEditor::SetRunLine(int index, bool paused) {
  run_line_id_ = RunLineId(index);
  run_paused_ = paused && run_line_id_ != 0;
  UpdateHighlights();
  if (const int line = RunLine(); line >= 0) ShowLine(line);
  gutter_->update();
}

int TScriptEditor::RunLine() const {
  return LineOfId(run_line_id_);
}

void TScriptEditor::UpdateHighlights() {
  QList<QTextEdit::ExtraSelection> selections;
  auto band = [&](const QTextBlock& block, const QColor& colour) {
    QTextEdit::ExtraSelection selection;
    selection.cursor = QTextCursor(block);
    selection.format.setBackground(colour);
    selection.format.setProperty(QTextFormat::FullWidthSelection, true);
    selections.append(selection);
  };
  band(textCursor().block(), kCaretLine);
  // The run's band over the caret's.
  const QTextBlock run_block = document()->findBlockByNumber(RunLine());
  if (run_block.isValid()) band(run_block, run_paused_ ? kPausedLine : kRunningLine);
  setExtraSelections(selections);
}

void TScriptEditor::ShowLine(int line) {
  // Without line wrapping the vertical scroll bar counts lines.
  QScrollBar* bar = verticalScrollBar();
  const int rows = std::max(1, viewport()->height() / std::max(1, fontMetrics().lineSpacing()));
  if (line < bar->value() || line >= bar->value() + rows) {
    bar->setValue(std::max(0, line - rows / 2));
  }
}

}  // namespace tarnex::ui
