#include "ui/url_label.h"

#include <QDesktopServices>
#include <QMouseEvent>
#include <QUrl>

namespace tarnex::ui {

TInetCustomLabel::TInetCustomLabel(QWidget* parent)
    : QLabel(parent), normal_color_(palette().color(QPalette::WindowText)) {
  setCursor(Qt::PointingHandCursor);
}

void TInetCustomLabel::enterEvent(QEnterEvent* event) {
  SetHighlight(true);
  QLabel::enterEvent(event);
}

void TInetCustomLabel::leaveEvent(QEvent* event) {
  SetHighlight(false);
  QLabel::leaveEvent(event);
}

void TInetCustomLabel::SetHighlight(bool on) {
  QPalette colours = palette();
  colours.setColor(QPalette::WindowText, on ? ChangeColor : normal_color_);
  setPalette(colours);
  QFont shown = font();
  shown.setUnderline(on);
  setFont(shown);
}

TURLLabel::TURLLabel(QWidget* parent) : TInetCustomLabel(parent) {
  setTextFormat(Qt::PlainText);
}

void TURLLabel::SetURL(const QString& url) {
  url_ = url;
  if (text().isEmpty()) setText(url);
}

void TURLLabel::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) &&
      !url_.isEmpty()) {
    // What the browser does with it is its own affair; nothing to report here.
    QDesktopServices::openUrl(QUrl(url_));
  }
  QLabel::mouseReleaseEvent(event);
}

}  // namespace tarnex::ui
