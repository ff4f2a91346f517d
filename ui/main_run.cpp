// The main window's life: start-up with or without "/auto", runs and steps from the menu, the
// automatic run, and closing (the close query, the log file, the recall list).
#include <QCloseEvent>
#include <QPlainTextEdit>

#include "platform/files.h"
#include "text/texts.h"
#include "ui/log_memo.h"
#include "ui/main_window.h"
#include "ui/options_dialog.h"
#include "ui/progress_window.h"
#include "ui/qt_text.h"
#include "ui/slot_guard.h"
#include "ui/user_dialogs.h"
#include "ui/window_hosts.h"

namespace tarnex::ui {
namespace {

constexpr int kSwitchLength = 5;  // "/auto"

}  // namespace

bool TTarnexfm::FormShow(const QStringList& arguments) {
  try {
    if (options_ != nullptr) options_->FormShow();
  } catch (...) {
    // The settings could not be read: no document and no automatic run. The window is shown
    // whatever they say, so that the error in its log can be seen and the program closed.
    AppException(std::current_exception());
    return true;
  }
  const QString first = arguments.size() > 1 ? arguments.at(1) : QString();
  if (first.left(kSwitchLength).compare(QStringLiteral("/auto"), Qt::CaseInsensitive) != 0) {
    document_->New();
    return true;
  }
  // The path follows the switch directly. A script that cannot be read is logged, and the
  // automatic run still follows: an unattended program must end by itself.
  Guard([&] { document_->LoadScript(PathFromQt(first.mid(kSwitchLength))); });
  QMetaObject::invokeMethod(
      this, [this] { Guard([this] { WMAutoRun(); }); }, Qt::QueuedConnection);
  return !settings_.ch_runmode;
}

void TTarnexfm::WMAutoRun() {
  if (settings_.ch_runmode) hide();
  setEnabled(false);
  Batmemo->setEnabled(false);
  if (settings_.cb_progress && progress_ != nullptr) progress_->show();
  // What escapes the run is logged before the window closes, so the log file has it too.
  Guard([this] {
    engine_->FScriptName = document_->ScriptName();
    engine_->Run(editor_->Lines());
  });
  if (settings_.cb_progress && progress_ != nullptr) progress_->CloseForm();
  setEnabled(true);
  close();
}

void TTarnexfm::Run1Click() {
  if (engine_->FRunning) return;  // one run at a time
  engine_->FScriptName = document_->ScriptName();
  engine_->Run(editor_->Lines());
}

void TTarnexfm::Step1Click() {
  if (engine_->FRunning) return;
  engine_->FScriptName = document_->ScriptName();
  const int32_t next = engine_->Step(editor_->Lines(), GetCaretLine(*Batmemo));
  SetCaretLine(*Batmemo, next);
}

void TTarnexfm::RecallMenu1Selected(const std::string& selected) {
  document_->LoadScript(selected);
}

platform::MessageResult TTarnexfm::Ask(const std::string& question) {
  platform::MessageBoxRequest box;
  box.text = question;
  box.caption = "Tarnex";
  box.icon = platform::MessageIcon::Question;
  box.buttons = platform::MessageButtons::YesNo;
  return dialogs_.ShowMessage(this, box);
}

void TTarnexfm::FormCloseQuery(bool& can_close) {
  can_close = false;
  script::ScriptEngine& engine = *engine_;
  if (engine.FConnected) {
    if (Ask(texts::ConfirmDisconnect()) != platform::MessageResult::Yes) return;
    engine.FTP.Abort();
    if (engine.FTP.Disconnect() > 400) engine.FCommandOk = false;
    engine.FConnected = false;
    engine.FRunning = false;
  }
  if (engine.FRunning) {
    if (Ask(texts::ConfirmStopScript()) != platform::MessageResult::Yes) return;
    engine.FConnected = false;
    engine.FRunning = false;  // the run stops after its current line
    engine.FTP.Abort();
  }
  document_->QuerySave();
  can_close = !editor_->Modified();
}

void TTarnexfm::FormClose() {
  if (settings_.ch_logsave && !Logmemo->Lines().empty()) {
    // The name as typed; a name without a directory is relative to the current one.
    platform::WriteLines(settings_.Ed_logsave, Logmemo->Lines());
  }
}

void TTarnexfm::closeEvent(QCloseEvent* event) {
  bool can_close = false;
  Guard([&] { FormCloseQuery(can_close); });
  if (!can_close) {
    event->ignore();
    return;
  }
  event->accept();
  Guard([this] { FormClose(); });
  if (OnClosed) Guard(OnClosed);
}

void TTarnexfm::FormDestroy() {
  recall_->SaveToRegistry();
}

}  // namespace tarnex::ui
