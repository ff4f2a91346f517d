#include "ui/line_gutter.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

#include "ui/script_editor.h"
#include "ui/slot_guard.h"

namespace tarnex::ui {
namespace {

constexpr int kMarkWidth = 14;  // the breakpoint mark and the run arrow
constexpr int kPadding = 4;

}  // namespace

LineGutter::LineGutter(TScriptEditor& editor) : QWidget(&editor), editor_(editor) {
  setObjectName(QStringLiteral("LineGutter"));
  setCursor(Qt::PointingHandCursor);
}

int LineGutter::WidthNeeded() const {
  int digits = 1;
  for (int n = std::max(1, editor_.blockCount()); n >= 10; n /= 10) ++digits;
  digits = std::max(digits, 3);  // no jump in width while a script grows to 999 lines
  return kMarkWidth + fontMetrics().horizontalAdvance(QLatin1Char('9')) * digits + kPadding;
}

void LineGutter::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  painter.fillRect(event->rect(), palette().color(QPalette::Window));
  painter.setRenderHint(QPainter::Antialiasing);
  const int run_line = editor_.RunLine();
  for (const TScriptEditor::VisibleLine& line : editor_.VisibleLines()) {
    if (line.top > event->rect().bottom()) break;
    const int mark = std::min(line.height, kMarkWidth) - 4;
    const QRectF mark_box(2, line.top + (line.height - mark) / 2.0, mark, mark);
    if (editor_.HasBreakpoint(line.number)) {
      painter.setPen(Qt::NoPen);
      painter.setBrush(QColor(0xc0, 0x20, 0x20));
      painter.drawEllipse(mark_box);
    }
    if (line.number == run_line) {
      // Inside the breakpoint's mark, which stays visible around it.
      const QRectF box = mark_box.adjusted(2, 2, -1, -2);
      QPainterPath arrow;
      arrow.moveTo(box.left() + 1, box.top());
      arrow.lineTo(box.right() + 1, box.center().y());
      arrow.lineTo(box.left() + 1, box.bottom());
      arrow.closeSubpath();
      painter.setPen(QPen(Qt::black, 0.8));
      painter.setBrush(editor_.RunLinePaused() ? QColor(0xff, 0xd7, 0x00)
                                               : QColor(0x40, 0x90, 0xe0));
      painter.drawPath(arrow);
    }
    painter.setPen(palette().color(QPalette::Disabled, QPalette::WindowText));
    painter.drawText(QRect(kMarkWidth, line.top, width() - kMarkWidth - kPadding, line.height),
                     Qt::AlignRight | Qt::AlignVCenter, QString::number(line.number + 1));
  }
}

void LineGutter::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const int line = editor_.LineAt(event->position().toPoint().y());
  if (line >= 0) Guard([&] { editor_.ToggleBreakpoint(line); });
}

}  // namespace tarnex::ui
