#include "ui/copy_animation.h"

#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace tarnex::ui {
namespace {

void PaintFolder(QPainter& painter, QPointF origin, bool open) {
  const QColor edge(150, 110, 20);
  painter.setPen(QPen(edge, 1));
  painter.setBrush(QColor(240, 200, 80));
  QPainterPath back;
  back.moveTo(origin + QPointF(0, 6));
  back.lineTo(origin + QPointF(12, 6));
  back.lineTo(origin + QPointF(15, 2));
  back.lineTo(origin + QPointF(30, 2));
  back.lineTo(origin + QPointF(30, 36));
  back.lineTo(origin + QPointF(0, 36));
  back.closeSubpath();
  painter.drawPath(back);
  painter.setBrush(QColor(252, 222, 120));
  const qreal lift = open ? 6 : 0;
  painter.drawPolygon(QPolygonF({origin + QPointF(0, 12 + lift), origin + QPointF(34, 12 + lift),
                                 origin + QPointF(30, 36), origin + QPointF(0, 36)}));
}

void PaintSheet(QPainter& painter, QPointF centre, qreal angle) {
  painter.save();
  painter.translate(centre);
  painter.rotate(angle);
  painter.setPen(QPen(QColor(90, 90, 90), 1));
  painter.setBrush(Qt::white);
  painter.drawRect(QRectF(-7, -9, 14, 18));
  painter.setPen(QPen(QColor(70, 110, 200), 1));
  for (int line = 0; line < 4; ++line)
    painter.drawLine(QPointF(-4, -5 + 3.5 * line), QPointF(4, -5 + 3.5 * line));
  painter.restore();
}

}  // namespace

CopyAnimation::CopyAnimation(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("Animate1"));
  timer_.setInterval(60);
  connect(&timer_, &QTimer::timeout, this, [this] { Advance(); });
}

void CopyAnimation::Advance() {
  frame_ = (frame_ + 1) % kFrames;
  update();
}

void CopyAnimation::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  timer_.start();  // running from the start
}

void CopyAnimation::hideEvent(QHideEvent* event) {
  timer_.stop();
  QWidget::hideEvent(event);
}

void CopyAnimation::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal left = 20;
  const qreal right = width() - 54;
  const qreal base = height() - 40;
  PaintFolder(painter, QPointF(left, base), true);
  PaintFolder(painter, QPointF(right, base), false);
  // One sheet on its way along an arc from the left folder's mouth to the right one's.
  const qreal t = static_cast<qreal>(frame_) / (kFrames - 1);
  const QPointF from(left + 17, base + 8);
  const QPointF to(right + 17, base + 8);
  const qreal x = from.x() + (to.x() - from.x()) * t;
  const qreal y = from.y() - std::sin(t * M_PI) * (base - 2);
  PaintSheet(painter, QPointF(x, y), -30 + 60 * t);
}

}  // namespace tarnex::ui
