#include "ui/script_editor.h"

#include <QPainter>
#include <QScrollBar>
#include <QTextBlock>
#include <algorithm>

#include "ui/line_gutter.h"

namespace tarnex::ui {
namespace {

// The mark of a breakpoint, kept with its text block.
class BreakpointMark : public QTextBlockUserData {};

const QColor kRunningLine(0xd6, 0xe9, 0xff);
const QColor kPausedLine(0xff, 0xf0, 0x96);

}  // namespace

TScriptEditor::TScriptEditor(QWidget* parent) : QPlainTextEdit(parent) {
  gutter_ = new LineGutter(*this);
  connect(this, &QPlainTextEdit::blockCountChanged, this, [this] { UpdateGutterWidth(); });
  connect(this, &QPlainTextEdit::updateRequest, this,
          [this](const QRect& rect, int dy) { UpdateGutter(rect, dy); });
  UpdateGutterWidth();
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
  return block.isValid() && dynamic_cast<BreakpointMark*>(block.userData()) != nullptr;
}

void TScriptEditor::SetMark(int line, bool on) {
  QTextBlock block = document()->findBlockByNumber(line);
  if (!block.isValid()) return;
  block.setUserData(on ? new BreakpointMark : nullptr);  // the block owns its data
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
    if (dynamic_cast<BreakpointMark*>(block.userData()) != nullptr) {
      lines.push_back(block.blockNumber());
    }
  }
  return lines;
}

void TScriptEditor::SetBreakpoints(const std::vector<int>& lines) {
  for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
    block.setUserData(nullptr);
  }
  for (const int line : lines) SetMark(line, true);
  gutter_->update();
}

void TScriptEditor::SetRunLine(int line, bool paused) {
  run_line_ = line;
  run_paused_ = paused && line >= 0;
  UpdateRunHighlight();
  if (line >= 0) ShowLine(line);
  gutter_->update();
}

void TScriptEditor::UpdateRunHighlight() {
  QList<QTextEdit::ExtraSelection> selections;
  const QTextBlock block = document()->findBlockByNumber(run_line_);
  if (run_line_ >= 0 && block.isValid()) {
    QTextEdit::ExtraSelection selection;
    selection.cursor = QTextCursor(block);
    selection.format.setBackground(run_paused_ ? kPausedLine : kRunningLine);
    selection.format.setProperty(QTextFormat::FullWidthSelection, true);
    selections.append(selection);
  }
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
