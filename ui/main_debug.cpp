// The main window as a script debugger: the debug menu, breakpoints kept per script file, the
// pause of a whole run before a line, the variables panel, and the way from a log line back to
// the script line that wrote it. Also the connection settings dialog of the file menu.
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>

#include "documents/document_texts.h"
#include "platform/codepage.h"
#include "platform/scope_guard.h"
#include "platform/text_encoding.h"
#include "text/string_helpers.h"
#include "ui/breakpoint_store.h"
#include "ui/connection_dialog.h"
#include "ui/debug_state.h"
#include "ui/main_window.h"
#include "ui/qt_text.h"
#include "ui/run_debugger.h"
#include "ui/slot_guard.h"
#include "ui/status_panels.h"
#include "ui/user_dialogs.h"
#include "ui/variables_panel.h"
#include "ui/window_hosts.h"

namespace tarnex::ui {
namespace {

// Status panel 0 while a run is held; short enough for the panel's 50 pixels.
const QString kPausedText = QStringLiteral("中断中");

// The document's name (as PathFromQt made it: CP932 when CP932 holds it, else its UTF-8) for the
// start and end lines of a run in `encoding`.
std::string ScriptNameInRun(const std::string& name, platform::TextEncoding encoding) {
  if (encoding != platform::TextEncoding::Utf8) return name;
  const std::optional<std::string> utf8 = platform::TryCp932ToUtf8(name);
  // Only a name that PathFromQt would have made from that UTF-8 was CP932.
  if (utf8 && PathFromQt(QString::fromStdString(*utf8)) == name) return *utf8;
  return name;
}

}  // namespace

void TTarnexfm::BuildDebugMenu() {
  Debug1 = menuBar()->addMenu(QStringLiteral("デバッグ"));
  Debug1->setObjectName(QStringLiteral("Debug1"));
  BreakToggle1 = AddItem(Debug1, "BreakToggle1", "ブレークポイントの設定／解除",
                         QKeySequence(Qt::Key_F5), &TTarnexfm::BreakToggle1Click);
  BreakClear1 = AddItem(Debug1, "BreakClear1", "すべてのブレークポイントを解除", QKeySequence(),
                        &TTarnexfm::BreakClear1Click);
  AddSeparator(Debug1, "N7");
  // F9 and F8 belong to Run1 and Step1, which continue and step a paused run; these items only
  // show the keys, as a second shortcut on the same key would make both dead.
  Continue1 = AddItem(Debug1, "Continue1", "実行／続行\tF9", QKeySequence(), &TTarnexfm::Run1Click);
  StepNext1 = AddItem(Debug1, "StepNext1", "次の行へ／Step実行\tF8", QKeySequence(),
                      &TTarnexfm::Step1Click);
  RunToCaret1 = AddItem(Debug1, "RunToCaret1", "カーソル行まで実行", QKeySequence(Qt::Key_F4),
                        &TTarnexfm::RunToCaret1Click);
  StopRun1 = AddItem(Debug1, "StopRun1", "実行の中止", QKeySequence(Qt::SHIFT | Qt::Key_F5),
                     &TTarnexfm::StopRun1Click);
  AddSeparator(Debug1, "N8");
  Variables1 = AddItem(Debug1, "Variables1", "変数パネル", QKeySequence(Qt::Key_F6), nullptr);
  Variables1->setCheckable(true);
  connect(Variables1, &QAction::triggered, this,
          [this](bool checked) { Guard([&] { Variables1Click(checked); }); });

  VariablesPanel = new TVariablesPanel(this);
  addDockWidget(Qt::RightDockWidgetArea, VariablesPanel);
  VariablesPanel->hide();
  // Closed by its own close box, the panel unticks its menu item.
  connect(VariablesPanel, &QDockWidget::visibilityChanged, this,
          [this] { Variables1->setChecked(!VariablesPanel->isHidden()); });
}

void TTarnexfm::BuildDebugger() {
  RunDebugger::Hooks hooks;
  hooks.is_breakpoint = [this](int32_t line) { return Batmemo->HasBreakpoint(line); };
  hooks.running = [this] { return engine_->FRunning; };
  hooks.show_line = [this](int32_t line, bool paused) { Batmemo->SetRunLine(line, paused); };
  hooks.pause_changed = [this](bool paused) { Guard([&] { ShowPaused(paused); }); };
  hooks.line_done = [this](int32_t) { Guard([this] { RefreshVariables(); }); };
  debugger_ = std::make_unique<RunDebugger>(std::move(hooks));
  engine_host_->SetRunDebugger(debugger_.get());
  breakpoints_ = std::make_unique<BreakpointStore>(store_);
  Batmemo->OnBreakpointsChanged = [this] { SaveBreakpoints(); };
  Logmemo->OnOriginActivated = [this](const LogOrigin& origin) { LogOriginActivated(origin); };
}

void TTarnexfm::RunWhole(int32_t run_to) {
  debugger_->ArmWholeRun(run_to);
  // Disarmed however the run ends, also when it fails before its first line.
  ScopeExit disarm([this] { debugger_->RunEnded(); });
  InScriptEncoding([this] { engine_->Run(editor_->Lines()); });
}

void TTarnexfm::InScriptEncoding(const std::function<void()>& run) {
  const platform::TextEncoding encoding = document_->Encoding();
  const platform::ScopedTextEncoding run_encoding(encoding);
  engine_->FScriptName = ScriptNameInRun(document_->ScriptName(), encoding);
  try {
    run();
  } catch (...) {
    // Logged here, where the message is still read in the run's encoding.
    engine_->LogUnexpectedError(std::current_exception());
  }
}

std::vector<QAction*> TTarnexfm::PausedRunItems() const {
  std::vector<QAction*> items{file1->menuAction(), Run1, Step1, Debug1->menuAction()};
  for (QAction* item : Debug1->actions()) items.push_back(item);
  return items;
}

void TTarnexfm::ShowPaused(bool paused) {
  // The run lock disabled every item; a held run takes commands from these alone. The lock
  // still restores every item when the run ends.
  for (QAction* item : PausedRunItems()) item->setEnabled(paused);
  if (paused) {
    status_before_pause_ = Stbar->Text(0);
    Stbar->SetText(0, FromQt(kPausedText));
    QApplication::setOverrideCursor(Qt::ArrowCursor);  // over the run's busy cursor
    pause_cursor_ = true;
    RefreshVariables();
  } else {
    Stbar->SetText(0, status_before_pause_);
    if (pause_cursor_) QApplication::restoreOverrideCursor();
    pause_cursor_ = false;
  }
}

void TTarnexfm::RefreshVariables() {
  if (VariablesPanel->isHidden()) return;
  const std::vector<std::string> lines =
      engine_->FRunLines ? *engine_->FRunLines : editor_->Lines();
  VariablesPanel->Show(CollectDebugState(*engine_, lines, platform::TextEncoding::Cp932, store_));
}

void TTarnexfm::Variables1Click(bool checked) {
  VariablesPanel->setVisible(checked);
  if (checked) RefreshVariables();
}

void TTarnexfm::BreakToggle1Click() {
  Batmemo->ToggleBreakpoint(GetCaretLine(*Batmemo));
}

void TTarnexfm::BreakClear1Click() {
  Batmemo->ClearBreakpoints();
}

void TTarnexfm::RunToCaret1Click() {
  const int line = GetCaretLine(*Batmemo);
  if (engine_->FRunning) {
    debugger_->RunTo(line);  // a paused run goes on to the line; a running one is left alone
    return;
  }
  RunWhole(line);
}

void TTarnexfm::StopRun1Click() {
  debugger_->Stop();
}

namespace {

// A document that has a file of its own, under whose path breakpoints can be kept.
bool HasFile(const std::string& name) {
  return !name.empty() && !SameText(name, documents::kNewFileName);
}

}  // namespace

void TTarnexfm::TextReplaced() {
  // Log lines of the text before lead to no line of this one.
  engine_host_->SetLogSource(++text_generation_);
  restore_breakpoints_ = true;
}

void TTarnexfm::DocumentNamed() {
  const std::string& name = document_->ScriptName();
  if (restore_breakpoints_) {
    // A script just opened (or a new one begun): its own breakpoints come back.
    restore_breakpoints_ = false;
    Batmemo->SetBreakpoints(HasFile(name) ? breakpoints_->Load(name) : std::vector<int>{});
    return;
  }
  // Saved under a name (perhaps a new one): the breakpoints go with it.
  SaveBreakpoints();
}

void TTarnexfm::SaveBreakpoints() {
  const std::string& name = document_->ScriptName();
  if (HasFile(name)) breakpoints_->Save(name, Batmemo->Breakpoints());
}

void TTarnexfm::LogOriginActivated(const LogOrigin& origin) {
  if (origin.source != text_generation_) return;  // a line of a script no longer in the editor
  SetCaretLine(*Batmemo, origin.line);
  Batmemo->setFocus();
}

TConnectionDialog& TTarnexfm::ConnectionDialog() {
  if (connection_ == nullptr) {
    connection_ = new TConnectionDialog(this, settings_, store_);
    connection_->OnApplied = [this] { ApplyConnectionSettings(); };
  }
  return *connection_;
}

void TTarnexfm::ConnectOption1Click() {
  dialogs_.RunModal(ConnectionDialog());
}

void TTarnexfm::ApplyConnectionSettings() {
  engine_->FTP.SetPassive(settings_.connection.Passive);
  engine_->FTP.SetRemoteEncoding(settings_.connection.remote_encoding);
  engine_->FTP.SetTlsMode(settings_.connection.tls_mode);
  engine_->FTP.SetTlsTrust(settings_.connection.tls_ca_file, settings_.connection.tls_fingerprint);
}

}  // namespace tarnex::ui
