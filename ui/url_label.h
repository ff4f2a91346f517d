// TURLLabel: a label that is a link. Under the mouse its text turns ChangeColor and is
// underlined; a click opens URL in the desktop's browser.
#pragma once

#include <QColor>
#include <QLabel>

namespace tarnex::ui {

// The label part: the colour change and underline while the mouse is over it.
class TInetCustomLabel : public QLabel {
 public:
  explicit TInetCustomLabel(QWidget* parent = nullptr);

  QColor ChangeColor = Qt::blue;
  QColor NormalColor() const { return normal_color_; }

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  void SetHighlight(bool on);

  QColor normal_color_;  // the text colour the label was made with
};

class TURLLabel : public TInetCustomLabel {
 public:
  explicit TURLLabel(QWidget* parent = nullptr);

  const QString& URL() const { return url_; }
  // Also the caption, while the label has none.
  void SetURL(const QString& url);

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QString url_;
};

}  // namespace tarnex::ui
