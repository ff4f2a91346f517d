#include "ui/artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace tarnex::ui {

QPixmap ProgramIcon(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;
  QLinearGradient tile(0, 0, 0, s);
  tile.setColorAt(0, QColor(70, 130, 220));
  tile.setColorAt(1, QColor(20, 60, 150));
  painter.setPen(Qt::NoPen);
  painter.setBrush(tile);
  painter.drawRoundedRect(QRectF(1, 1, s - 2, s - 2), s * 0.18, s * 0.18);
  // The script: a page with a folded corner and lines of text.
  QPainterPath page;
  page.moveTo(s * 0.22, s * 0.14);
  page.lineTo(s * 0.58, s * 0.14);
  page.lineTo(s * 0.72, s * 0.28);
  page.lineTo(s * 0.72, s * 0.80);
  page.lineTo(s * 0.22, s * 0.80);
  page.closeSubpath();
  painter.setBrush(Qt::white);
  painter.drawPath(page);
  painter.setPen(QPen(QColor(80, 100, 140), s * 0.03));
  for (int i = 0; i < 5; ++i) {
    const qreal y = s * (0.34 + 0.09 * i);
    painter.drawLine(QPointF(s * 0.30, y), QPointF(s * (i % 2 ? 0.52 : 0.64), y));
  }
  // The transfer: an arrow leaving the page.
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(255, 170, 30));
  painter.drawPolygon(QPolygonF({QPointF(s * 0.50, s * 0.62), QPointF(s * 0.72, s * 0.62),
                                 QPointF(s * 0.72, s * 0.52), QPointF(s * 0.92, s * 0.70),
                                 QPointF(s * 0.72, s * 0.88), QPointF(s * 0.72, s * 0.78),
                                 QPointF(s * 0.50, s * 0.78)}));
  return pixmap;
}

QPixmap MakerLogo(int width, int height) {
  QPixmap pixmap(width, height);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  QPainterPath wave;
  wave.moveTo(4, height * 0.45);
  wave.cubicTo(width * 0.3, height * 0.05, width * 0.55, height * 0.75, width - 4, height * 0.25);
  painter.setPen(QPen(QColor(20, 60, 150), 4, Qt::SolidLine, Qt::RoundCap));
  painter.drawPath(wave);
  const QString text = QStringLiteral("TARNEX WORKS");
  QFont name(QStringLiteral("DejaVu Sans"));
  name.setBold(true);
  name.setPixelSize(height / 4);
  while (name.pixelSize() > 6 && QFontMetrics(name).horizontalAdvance(text) > width - 6) {
    name.setPixelSize(name.pixelSize() - 1);
  }
  painter.setFont(name);
  painter.setPen(QColor(40, 40, 40));
  painter.drawText(QRectF(0, height * 0.55, width, height * 0.45), Qt::AlignCenter, text);
  return pixmap;
}

}  // namespace tarnex::ui
