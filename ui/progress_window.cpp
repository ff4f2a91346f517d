#include "ui/progress_window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QToolButton>

#include "ui/copy_animation.h"
#include "ui/log_memo.h"
#include "ui/slot_guard.h"
#include "ui/ui_fonts.h"

namespace tarnex::ui {

Tprogfm::Tprogfm(const settings::LiveSettings& settings, QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      settings_(settings) {
  setObjectName(QStringLiteral("progfm"));
  setWindowTitle(QStringLiteral("TARNEX"));
  setFont(PGothicFont(12));
  Label1 = new QLabel(QStringLiteral("ただいまデータ通信中"), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setGeometry(0, 0, 297, 25);
  Label1->setAlignment(Qt::AlignCenter);
  Animate1 = new CopyAnimation(this);
  Animate1->setGeometry(8, 32, 272, 60);
  SpeedButton1 = new QToolButton(this);
  SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
  SpeedButton1->setText(QStringLiteral("詳細"));
  SpeedButton1->setCheckable(true);  // stays down after a click, comes up at the next
  SpeedButton1->setGeometry(216, 96, 57, 22);
  SpeedButton1->setFocusPolicy(Qt::NoFocus);
  connect(SpeedButton1, &QToolButton::clicked, this, Guarded([this] { SpeedButton1Click(); }));
  Log = new TLogMemo(this);
  Log->setObjectName(QStringLiteral("Log"));
  Log->setGeometry(3, 128, 289, 305);
  Log->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  SetClientHeight(kFoldedHeight);
}

void Tprogfm::SetClientHeight(int height) {
  setFixedSize(296, height);
}

void Tprogfm::showEvent(QShowEvent* event) {
  Guard([this] { FormShow(); });
  QWidget::showEvent(event);
}

void Tprogfm::FormShow() {
  setWindowTitle(QStringLiteral("Tarnex 2.51b "));
  SpeedButton1->setChecked(false);
  SetClientHeight(kFoldedHeight);
  SpeedButton1->setVisible(settings_.cb_showbutton);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
}

void Tprogfm::SpeedButton1Click() {
  SetClientHeight(SpeedButton1->isChecked() ? kUnfoldedHeight : kFoldedHeight);
}

void Tprogfm::CloseForm() {
  hide();
}

void Tprogfm::closeEvent(QCloseEvent* event) {
  // Only the automatic run ends this window.
  event->ignore();
}

}  // namespace tarnex::ui
