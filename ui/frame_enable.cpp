#include "ui/frame_enable.h"

#include <QFrame>
#include <QGroupBox>
#include <QRect>
#include <QWidget>

namespace tarnex::ui {
namespace {

struct Corners {
  QPoint top_left;
  QPoint bottom_right;  // top-left plus width and height
};

Corners ScreenCorners(const QWidget& widget) {
  const QPoint top_left = widget.mapToGlobal(QPoint(0, 0));
  return {top_left, top_left + QPoint(widget.width(), widget.height())};
}

bool Within(const QPoint& point, const Corners& area) {
  return point.x() >= area.top_left.x() && point.x() <= area.bottom_right.x() &&
         point.y() >= area.top_left.y() && point.y() <= area.bottom_right.y();
}

// Panels and frames whose children are controls of the form in their own right.
bool IsPlainContainer(const QWidget& widget) {
  const QMetaObject* meta = widget.metaObject();
  return meta == &QWidget::staticMetaObject || meta == &QFrame::staticMetaObject ||
         meta == &QGroupBox::staticMetaObject;
}

void SetPanelColour(QWidget& widget, bool enable) {
  if (widget.metaObject() != &QFrame::staticMetaObject) return;
  QPalette colours = widget.palette();
  colours.setColor(QPalette::WindowText,
                   enable ? QColor(Qt::black) : colours.color(QPalette::Dark));
  widget.setPalette(colours);
}

void Visit(QWidget& parent, const QWidget& frame, const Corners& area, FrameMode mode,
           bool enable) {
  for (QWidget* control : parent.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (control->isWindow()) continue;
    if (control != &frame) {
      const Corners corners = ScreenCorners(*control);
      const bool first = Within(corners.top_left, area);
      const bool second = Within(corners.bottom_right, area);
      if (mode == FrameMode::WhollyInside ? (first && second) : (first || second)) {
        control->setEnabled(enable);
        SetPanelColour(*control, enable);
      }
    }
    if (IsPlainContainer(*control)) Visit(*control, frame, area, mode, enable);
  }
}

}  // namespace

void EnableInFrame(QWidget& frame, FrameMode mode, bool enable) {
  QWidget* form = frame.parentWidget();
  if (form == nullptr || !form->isWindow()) return;
  Visit(*form, frame, ScreenCorners(frame), mode, enable);
}

}  // namespace tarnex::ui
