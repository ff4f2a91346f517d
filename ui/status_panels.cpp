#include "ui/status_panels.h"

#include <QLabel>

#include "ui/qt_text.h"

namespace tarnex::ui {
namespace {

constexpr std::array<int, TStatusPanels::kPanels> kWidths{50, 90, 120, 50};

}  // namespace

TStatusPanels::TStatusPanels(QWidget* parent) : QStatusBar(parent) {
  setFixedHeight(19);
  for (int i = 0; i < kPanels; ++i) {
    auto* label = new QLabel(this);
    label->setObjectName(QStringLiteral("Stbar%1").arg(i));
    label->setFixedWidth(kWidths[static_cast<size_t>(i)]);
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setAlignment((i < 2 ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignVCenter);
    labels_[static_cast<size_t>(i)] = label;
    addWidget(label);
  }
}

std::string TStatusPanels::Text(int panel) const {
  return panel >= 0 && panel < kPanels ? texts_[static_cast<size_t>(panel)] : std::string();
}

void TStatusPanels::SetText(int panel, const std::string& cp932_text) {
  if (panel < 0 || panel >= kPanels) return;
  texts_[static_cast<size_t>(panel)] = cp932_text;
  QLabel* label = labels_[static_cast<size_t>(panel)];
  const QString text = ToQt(cp932_text);
  label->setText(text);
  // The panels keep their widths; a text longer than its panel can still be read whole.
  label->setToolTip(text);
}

QLabel* TStatusPanels::Panel(int panel) const {
  return panel >= 0 && panel < kPanels ? labels_[static_cast<size_t>(panel)] : nullptr;
}

}  // namespace tarnex::ui
