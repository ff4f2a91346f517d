#include "ui/progress_window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QToolButton>
#include <algorithm>

#include "ui/copy_animation.h"
#include "ui/log_memo.h"
#include "ui/qt_text.h"
#include "ui/slot_guard.h"
#include "ui/ui_fonts.h"

namespace tarnex::ui {
namespace {

// The caption as designed; the progress of a transfer follows it.
const QString kCaption = QStringLiteral("Tarnex 2.51b ");

}  // namespace

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
  setWindowTitle(kCaption);
  SpeedButton1->setChecked(false);
  SetClientHeight(kFoldedHeight);
  SpeedButton1->setVisible(settings_.cb_showbutton);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
}

void Tprogfm::SpeedButton1Click() {
  SetClientHeight(SpeedButton1->isChecked() ? kUnfoldedHeight : kFoldedHeight);
  // Unfolded near the bottom of the screen, the log would hang off it.
  if (SpeedButton1->isChecked()) KeepOnScreen();
}

void Tprogfm::KeepOnScreen() {
  const QScreen* at = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
  if (at == nullptr) return;
  const QRect room = at->availableGeometry();
  QRect frame = frameGeometry();
  QPoint shift(std::min(0, room.right() - frame.right()),
               std::min(0, room.bottom() - frame.bottom()));
  frame.translate(shift);
  // On a screen smaller than the window its top-left corner, with the caption, stays in view.
  shift += QPoint(std::max(0, room.left() - frame.left()), std::max(0, room.top() - frame.top()));
  if (!shift.isNull()) move(pos() + shift);
}

void Tprogfm::ShowProgressText(const std::string& cp932_text) {
  if (cp932_text.empty()) return;
  setWindowTitle(kCaption + ToQt(cp932_text));
}

void Tprogfm::CloseForm() {
  hide();
}

void Tprogfm::closeEvent(QCloseEvent* event) {
  // Only the automatic run ends this window.
  event->ignore();
}

}  // namespace tarnex::ui
