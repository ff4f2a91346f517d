#include "ui/pane_area.h"

#include <QMouseEvent>
#include <algorithm>

#include "ui/slot_guard.h"

namespace tarnex::ui {

TSplitterPanel::TSplitterPanel(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("Panel2"));
  setCursor(Qt::SplitHCursor);
}

void TSplitterPanel::mouseMoveEvent(QMouseEvent* event) {
  if (OnMouseMove) {
    const int x = static_cast<int>(event->position().x());
    Guard([&] { OnMouseMove(event->buttons(), event->modifiers(), x); });
  }
  event->accept();
}

TPaneArea::TPaneArea(QWidget* parent)
    : QWidget(parent),
      panel1_(new QFrame(this)),
      panel2_(new TSplitterPanel(this)),
      panel3_(new QFrame(this)) {
  panel1_->setObjectName(QStringLiteral("Panel1"));
  panel3_->setObjectName(QStringLiteral("Panel3"));
  for (QFrame* pane : {panel1_, panel3_}) pane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
}

void TPaneArea::SetPanel1Width(int width) {
  panel1_width_ = std::max(width, 0);
  LayoutPanes();
}

void TPaneArea::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  LayoutPanes();
}

void TPaneArea::LayoutPanes() {
  const int h = height();
  const int left =
      std::clamp(panel1_width_, 0, std::max(width() - kSplitterWidth - kMinLogWidth, 0));
  panel1_->setGeometry(0, 0, left, h);
  panel2_->setGeometry(left, 0, kSplitterWidth, h);
  const int rest = left + kSplitterWidth;
  panel3_->setGeometry(rest, 0, std::max(width() - rest, 0), h);
}

}  // namespace tarnex::ui
