#include "ui/options_dialog.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QToolButton>
#include <algorithm>

#include "settings/options_store.h"
#include "ui/frame_enable.h"
#include "ui/qt_text.h"
#include "ui/slot_guard.h"
#include "ui/spin_field.h"
#include "ui/ui_fonts.h"
#include "ui/user_dialogs.h"

namespace tarnex::ui {
namespace {

QCheckBox* MakeCheckBox(QWidget* parent, const char* name, const char* caption, int x, int y,
                        int width = 0) {
  auto* box = new QCheckBox(QString::fromUtf8(caption), parent);
  box->setObjectName(QString::fromLatin1(name));
  box->setGeometry(x, y, width > 0 ? width : box->sizeHint().width(), 17);
  return box;
}

QToolButton* MakeSpeedButton(QWidget* parent, const char* name, const char* caption,
                             QRect geometry) {
  auto* button = new QToolButton(parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setText(QString::fromUtf8(caption));
  button->setGeometry(geometry);
  button->setFocusPolicy(Qt::NoFocus);  // a speed button never takes the focus
  return button;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const char* caption, int x, int y) {
  auto* label = new QLabel(QString::fromUtf8(caption), parent);
  label->setObjectName(QString::fromLatin1(name));
  label->move(x, y);
  label->adjustSize();
  return label;
}

// A label whose blanks are drawn at a width of its own, so that a control can sit among them.
class BlankSpreadLabel : public QLabel {
 public:
  BlankSpreadLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {}

  void SetBlankWidth(int width) {
    blank_width_ = width;
    resize(sizeHint());
    update();
  }
  QSize sizeHint() const override { return QSize(Advance(text()) + 2, fontMetrics().height()); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    int x = 0;
    const int baseline = fontMetrics().ascent();
    for (const QChar c : text()) {
      if (c == QLatin1Char(' ')) {
        x += blank_width_;
      } else {
        painter.drawText(x, baseline, QString(c));
        x += fontMetrics().horizontalAdvance(c);
      }
    }
  }

 private:
  int Advance(const QString& text) const {
    int width = 0;
    for (const QChar c : text) {
      width += c == QLatin1Char(' ') ? blank_width_ : fontMetrics().horizontalAdvance(c);
    }
    return width;
  }

  int blank_width_ = 4;
};

SpinField* MakeSpin(QWidget* parent, const char* name, settings::SpinRange range, QRect geometry) {
  auto* spin = new SpinField(range, parent);
  spin->setObjectName(QString::fromLatin1(name));
  spin->setGeometry(geometry);
  return spin;
}

}  // namespace

TTarnexOption::TTarnexOption(QWidget* main_window, settings::LiveSettings& settings,
                             std::shared_ptr<platform::RegistryStore> store, UserDialogs& dialogs)
    : QDialog(main_window),
      dlg{FromQt(QStringLiteral("Tarnex log |*.log|all files|*.*")), "log", 1, {}},
      main_window_(main_window),
      settings_(settings),
      store_(std::move(store)),
      dialogs_(dialogs) {
  setObjectName(QStringLiteral("TarnexOption"));
  setWindowTitle(QStringLiteral("Tarnex -Options"));
  setFont(PGothicFont(12));
  setFixedSize(287, 250);
  BuildControls();
  ConnectControls();
}

void TTarnexOption::BuildControls() {
  BuildWaitFrame();  // first, so that it lies beneath the controls inside it
  Label3 = new BlankSpreadLabel(QStringLiteral("TimeOut               秒"), this);
  Label3->setObjectName(QStringLiteral("Label3"));
  Label3->move(24, 8);
  Ed_timeout = MakeSpin(this, "Ed_timeout", settings::kTimeoutRange, QRect(74, 4, 49, 21));
  Ed_timeout->SetValue(10);
  SpreadTimeoutLabel();
  ch_runmode = MakeCheckBox(this, "ch_runmode", "実行時に隠す", 16, 29);
  // Beside the hide box, where the designed dialog has room: "行間 [500] ms".
  LabelStepDelay = new QLabel(QStringLiteral("行間"), this);
  LabelStepDelay->setObjectName(QStringLiteral("LabelStepDelay"));
  LabelStepDelay->move(144, 29);
  sp_StepDelay = MakeSpin(this, "sp_StepDelay", settings::kStepDelayRange, QRect(170, 25, 60, 21));
  sp_StepDelay->SetValue(500);
  auto* unit = new QLabel(QStringLiteral("ms"), this);
  unit->move(234, 29);
  for (QWidget* part : std::initializer_list<QWidget*>{LabelStepDelay, sp_StepDelay, unit}) {
    part->setToolTip(QStringLiteral("実行（F9）で各行の後に待つ時間（ミリ秒）"));
  }
  ch_logsave = MakeCheckBox(this, "ch_logsave", "Logファイルの保存", 16, 45);
  cb_debugmode = MakeCheckBox(this, "cb_debugmode", "DebugMode", 144, 45);
  Ed_logsave = new QLineEdit(this);
  Ed_logsave->setObjectName(QStringLiteral("Ed_logsave"));
  Ed_logsave->setGeometry(16, 64, 209, 20);
  btn_Brows = MakeSpeedButton(this, "btn_Brows", "Brows", QRect(232, 64, 41, 21));
  EnableLogName(false);
  cb_wait = MakeCheckBox(this, "cb_wait", "送信時にウェイトを入れる", 16, 96, 161);
  cb_progress = MakeCheckBox(this, "cb_progress", "転送中Windowを表示する", 16, 176);
  cb_showbutton =
      MakeCheckBox(this, "cb_showbutton", "転送中Windowの詳細ボタンを表示する", 16, 192);
  btn_Ng = MakeSpeedButton(this, "btn_Ng", "Cancel", QRect(168, 216, 49, 25));
  btn_Ok = MakeSpeedButton(this, "btn_Ok", "Ok", QRect(224, 216, 49, 25));
}

void TTarnexOption::BuildWaitFrame() {
  Bvl_wait = new QFrame(this);
  Bvl_wait->setObjectName(QStringLiteral("Bvl_wait"));
  Bvl_wait->setFrameStyle(QFrame::Box | QFrame::Sunken);
  Bvl_wait->setGeometry(8, 104, 265, 57);
  // The size of the wait is kept in the store but has no use: its field stays hidden.
  sp_Wsize = MakeSpin(this, "sp_Wsize", settings::kWaitSizeRange, QRect(32, 128, 49, 21));
  sp_Wsize->SetValue(4);
  sp_Wsize->setEnabled(false);
  sp_Wsize->setVisible(false);
  Label1 = MakeLabel(this, "Label1", "KB単位に", 86, 132);
  Label1->setVisible(false);
  sp_Wsec = MakeSpin(this, "sp_Wsec", settings::kWaitSecRange, QRect(144, 128, 49, 21));
  sp_Wsec->SetValue(0);
  sp_Wsec->setEnabled(false);
  Label2 = MakeLabel(this, "Label2", "秒のWait", 201, 132);
}

void TTarnexOption::SpreadTimeoutLabel() {
  // The fifteen blanks of "TimeOut               秒" make room for the field between the
  // word and the unit; they are drawn as wide as this font needs to clear the field.
  auto* label = static_cast<BlankSpreadLabel*>(Label3);
  const QFontMetrics metrics(label->font());
  const int word = metrics.horizontalAdvance(QStringLiteral("TimeOut"));
  const int room = Ed_timeout->geometry().right() + 4 - label->x() - word;
  label->SetBlankWidth(std::max(metrics.horizontalAdvance(QLatin1Char(' ')), (room + 14) / 15));
  Ed_timeout->raise();
}

void TTarnexOption::ConnectControls() {
  auto on_toggle = [this](QCheckBox* box, bool settings::LiveSettings::*field,
                          void (TTarnexOption::*click)()) {
    connect(box, &QCheckBox::toggled, this, [this, field, click](bool checked) {
      settings_.*field = checked;
      if (click != nullptr) Guard([this, click] { (this->*click)(); });
    });
  };
  on_toggle(ch_runmode, &settings::LiveSettings::ch_runmode, nullptr);
  on_toggle(ch_logsave, &settings::LiveSettings::ch_logsave, &TTarnexOption::ch_logsaveClick);
  on_toggle(cb_debugmode, &settings::LiveSettings::cb_debugmode, &TTarnexOption::cb_debugmodeClick);
  on_toggle(cb_wait, &settings::LiveSettings::cb_wait, &TTarnexOption::cb_waitClick);
  on_toggle(cb_progress, &settings::LiveSettings::cb_progress, nullptr);
  on_toggle(cb_showbutton, &settings::LiveSettings::cb_showbutton, nullptr);
  connect(Ed_logsave, &QLineEdit::textEdited, this,
          [this](const QString& text) { settings_.Ed_logsave = PathFromQt(text); });
  sp_Wsize->OnChange = [this] {
    settings_.sp_Wsize = sp_Wsize->Value();
    sp_WsizeChange(*sp_Wsize);
  };
  sp_Wsec->OnChange = [this] {
    settings_.sp_Wsec = sp_Wsec->Value();
    sp_WsizeChange(*sp_Wsec);
  };
  Ed_timeout->OnChange = [this] { settings_.Ed_timeout = Ed_timeout->Value(); };
  sp_StepDelay->OnChange = [this] { settings_.StepDelay = sp_StepDelay->Value(); };
  connect(btn_Brows, &QToolButton::clicked, this, Guarded([this] { btn_BrowsClick(); }));
  connect(btn_Ok, &QToolButton::clicked, this, Guarded([this] { btn_OkClick(); }));
  connect(btn_Ng, &QToolButton::clicked, this, Guarded([this] { btn_NgClick(); }));
}

void TTarnexOption::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  Guard([this] { FormShow(); });
}

void TTarnexOption::FormShow() {
  {
    // The controls show whatever was loaded, also when a value of the wrong type stopped the
    // load half-way.
    struct Show {
      TTarnexOption& dialog;
      ~Show() { dialog.ShowSettings(); }
    } show{*this};
    settings::Load(settings_, store_);
  }
  EnableLogName(ch_logsave->isChecked());
  if (main_window_ != nullptr) move(main_window_->pos() + QPoint(50, 50));
}

void TTarnexOption::ShowSettings() {
  // Copies first: each control writes its own field back as it changes.
  const settings::LiveSettings loaded = settings_;
  ch_runmode->setChecked(loaded.ch_runmode);
  Ed_logsave->setText(ToQt(loaded.Ed_logsave));
  settings_.Ed_logsave = loaded.Ed_logsave;
  ch_logsave->setChecked(loaded.ch_logsave);
  cb_progress->setChecked(loaded.cb_progress);
  cb_showbutton->setChecked(loaded.cb_showbutton);
  cb_debugmode->setChecked(loaded.cb_debugmode);
  cb_wait->setChecked(loaded.cb_wait);
  sp_Wsize->SetValue(loaded.sp_Wsize);
  sp_Wsec->SetValue(loaded.sp_Wsec);
  Ed_timeout->SetValue(loaded.Ed_timeout);
  sp_StepDelay->SetValue(loaded.StepDelay);
}

void TTarnexOption::btn_OkClick() {
  if (!ConfirmSendWait()) return;
  settings::Store(settings_, store_);
  accept();
}

bool TTarnexOption::ConfirmSendWait() {
  // The pause after each upload block sleeps: at least as long as the time-out, it makes a
  // finished upload count as failed, with the window frozen for the length of the pause.
  if (!settings_.cb_wait || settings_.sp_Wsec < settings_.Ed_timeout) return true;
  platform::MessageBoxRequest box;
  box.text = FromQt(QStringLiteral("送信時のウェイト（%1秒）が TimeOut（%2秒）以上です。\n"
                                   "アップロードが終わっても失敗と報告され、ウェイトの間は"
                                   "ウィンドウが止まります。\nこのまま保存しますか？")
                        .arg(settings_.sp_Wsec)
                        .arg(settings_.Ed_timeout));
  box.caption = "Tarnex";
  box.icon = platform::MessageIcon::Warning;
  box.buttons = platform::MessageButtons::YesNo;
  return dialogs_.ShowMessage(this, box) == platform::MessageResult::Yes;
}

void TTarnexOption::btn_NgClick() {
  reject();
}

void TTarnexOption::EnableLogName(bool enable) {
  Ed_logsave->setEnabled(enable);
  btn_Brows->setEnabled(enable);
}

void TTarnexOption::ch_logsaveClick() {
  const bool on = ch_logsave->isChecked();
  EnableLogName(on);
  if (on && Ed_logsave->text().isEmpty()) {
    settings_.Ed_logsave = std::string(settings::kDefaultLogName);
    Ed_logsave->setText(ToQt(settings_.Ed_logsave));
  }
}

void TTarnexOption::btn_BrowsClick() {
  // The dialog opens in the directory of the name in the field, with its file name filled in.
  dlg.file_name = settings_.Ed_logsave;
  if (!dialogs_.RunSaveDialog(this, dlg, false)) return;
  settings_.Ed_logsave = dlg.file_name;
  Ed_logsave->setText(ToQt(dlg.file_name));
}

void TTarnexOption::cb_waitClick() {
  EnableInFrame(*Bvl_wait, FrameMode::WhollyInside, cb_wait->isChecked());
}

void TTarnexOption::cb_debugmodeClick() {
  if (OnDebugMode) OnDebugMode(cb_debugmode->isChecked());
}

void TTarnexOption::sp_WsizeChange(SpinField& field) {
  field.SelectFromCaret();
}

}  // namespace tarnex::ui
