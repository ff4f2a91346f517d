// The main window's life: start-up with or without "/auto", runs and steps from the menu, the
// automatic run, and closing (the close query, the log file, the recall list).
#include <QCloseEvent>
#include <QPlainTextEdit>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/scope_guard.h"
#include "text/texts.h"
#include "ui/log_memo.h"
#include "ui/main_window.h"
#include "ui/options_dialog.h"
#include "ui/progress_window.h"
#include "ui/qt_text.h"
#include "ui/run_debugger.h"
#include "ui/slot_guard.h"
#include "ui/tarnex_forms.h"
#include "ui/user_dialogs.h"
#include "ui/window_hosts.h"

namespace tarnex::ui {

bool TTarnexfm::FormShow(const QStringList& arguments) {
  try {
    if (options_ != nullptr) options_->FormShow();
    ApplyConnectionSettings();  // loaded with the options
  } catch (...) {
    // The settings could not be read: no document and no automatic run. The window is shown
    // whatever they say, so that the error in its log can be seen and the program closed.
    AppException(std::current_exception());
    return true;
  }
  std::vector<std::string> args;
  for (qsizetype i = 1; i < arguments.size(); ++i) args.push_back(arguments.at(i).toStdString());
  const StartRequest request = ParseStartArguments(args);
  if (request.kind == StartRequest::Kind::Open) {
    const std::string path = PathFromQt(QString::fromStdString(request.path));
    Guard([&] {
      // A script that is not there is told in the log like one that cannot be read.
      if (!platform::FileExists(path)) throw EFileError(platform::FileOpenErrorText(path));
      document_->LoadScript(path);
    });
    if (document_->ScriptName().empty()) document_->New();
    return true;
  }
  if (request.kind != StartRequest::Kind::AutoRun) {
    document_->New();
    return true;
  }
  // A script that cannot be read is logged, and the automatic run still follows: an
  // unattended program must end by itself.
  Guard([&] { document_->LoadScript(PathFromQt(QString::fromStdString(request.path))); });
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
  Batmemo->TieRunLines();
  InScriptEncoding([this] { engine_->Run(editor_->Lines()); });
  if (settings_.cb_progress && progress_ != nullptr) progress_->CloseForm();
  setEnabled(true);
  close();
}

void TTarnexfm::Run1Click() {
  if (engine_->FRunning) {
    debugger_->Continue();  // one run at a time: a paused run goes on, a running one is left
    return;
  }
  RunWhole(-1);
}

void TTarnexfm::Step1Click() {
  if (engine_->FRunning) {
    debugger_->StepLine();  // a paused run runs its next line and pauses again
    return;
  }
  int32_t next = -1;
  bool stepped = false;
  Batmemo->TieRunLines();
  ScopeExit finished([this] { RunFinished(); });
  InScriptEncoding([&] {
    next = engine_->Step(editor_->Lines(), GetCaretLine(*Batmemo));
    stepped = true;
  });
  if (stepped) SetCaretLine(*Batmemo, next);  // only after a step that ended normally
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
  Guard([this] { SaveWindowState(); });
  Guard([this] { FormClose(); });
  if (OnClosed) Guard(OnClosed);
}

void TTarnexfm::FormDestroy() {
  recall_->SaveToRegistry();
}

}  // namespace tarnex::ui
