// The main window as a script debugger: the debug menu, breakpoints kept per script file, the
// pause of a whole run before a line, the variables panel, and the way from a log line back to
// the script line that wrote it. Also the connection settings dialog of the file menu.
#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "documents/document_texts.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/scope_guard.h"
#include "platform/text_encoding.h"
#include "text/printable.h"
#include "text/string_helpers.h"
#include "text/texts.h"
#include "ui/breakpoint_store.h"
#include "ui/connection_dialog.h"
#include "ui/debug_state.h"
#include "ui/main_window.h"
#include "ui/qt_text.h"
#include "ui/run_debugger.h"
#include "ui/slot_guard.h"
#include "ui/status_panels.h"
#include "ui/ui_fonts.h"
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
  // Not one of the designed menus: it has a mnemonic of its own.
  Debug1 = menuBar()->addMenu(QStringLiteral("デバッグ(&D)"));
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
  // Ctrl+Break arrives as Ctrl+Pause.
  Pause1 = AddItem(Debug1, "Pause1", "一時停止", QKeySequence(Qt::CTRL | Qt::Key_Pause),
                   &TTarnexfm::Pause1Click);
  StopRun1 = AddItem(Debug1, "StopRun1", "実行の中止", QKeySequence(Qt::SHIFT | Qt::Key_F5),
                     &TTarnexfm::StopRun1Click);
  AddSeparator(Debug1, "N8");
  Variables1 = AddItem(Debug1, "Variables1", "変数パネル", QKeySequence(Qt::Key_F6), nullptr);
  Variables1->setCheckable(true);
  connect(Variables1, &QAction::triggered, this,
          [this](bool checked) { Guard([&] { Variables1Click(checked); }); });

  // The same commands, one click away.
  DebugBar = addToolBar(QStringLiteral("デバッグ"));
  DebugBar->setObjectName(QStringLiteral("DebugBar"));
  DebugBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  DebugBar->setFont(GothicFont(12));
  const struct {
    QAction* item;
    QStyle::StandardPixmap icon;
    const char* text;
    const char* keys;
  } tools[] = {{Continue1, QStyle::SP_MediaPlay, "続行", "F9"},
               {StepNext1, QStyle::SP_MediaSeekForward, "ステップ", "F8"},
               {RunToCaret1, QStyle::SP_ArrowRight, "カーソル行まで", "F4"},
               {Pause1, QStyle::SP_MediaPause, "一時停止", "Ctrl+Break"},
               {StopRun1, QStyle::SP_MediaStop, "中止", "Shift+F5"}};
  for (const auto& tool : tools) {
    tool.item->setIcon(style()->standardIcon(tool.icon));
    tool.item->setIconText(QString::fromUtf8(tool.text));
    tool.item->setToolTip(QStringLiteral("%1 (%2)").arg(QString::fromUtf8(tool.text),
                                                        QString::fromLatin1(tool.keys)));
    DebugBar->addAction(tool.item);
  }

  VariablesPanel = new TVariablesPanel(this);
  addDockWidget(Qt::RightDockWidgetArea, VariablesPanel);
  VariablesPanel->hide();
  // Closed by its own close box, the panel unticks its menu item.
  connect(VariablesPanel, &QDockWidget::visibilityChanged, this,
          [this] { Variables1->setChecked(!VariablesPanel->isHidden()); });
}

void TTarnexfm::BuildDebugger() {
  RunDebugger::Hooks hooks;
  // The run's lines are those of its copy; each leads to the block it was taken from.
  hooks.is_breakpoint = [this](int32_t line) { return Batmemo->RunLineHasBreakpoint(line); };
  hooks.running = [this] { return engine_->FRunning; };
  hooks.show_line = [this](int32_t line, bool paused) { Batmemo->SetRunLine(line, paused); };
  hooks.pause_changed = [this](bool paused) { Guard([&] { ShowPaused(paused); }); };
  hooks.line_done = [this](int32_t) { Guard([this] { RefreshVariables(); }); };
  debugger_ = std::make_unique<RunDebugger>(std::move(hooks));
  engine_host_->SetRunDebugger(debugger_.get());
  engine_host_->LineIdOf = [this](int32_t index) { return Batmemo->RunLineId(index); };
  engine_host_->OnLockChanged = [this](bool) { Guard([this] { UpdateDebugItems(); }); };
  refresh_timer_ = new QTimer(this);
  refresh_timer_->setSingleShot(true);
  refresh_timer_->setInterval(50);
  connect(refresh_timer_, &QTimer::timeout, this, Guarded([this] { RefreshVariables(); }));
  engine_host_->OnStateChanged = [this] {
    if (!VariablesPanel->isHidden() && !refresh_timer_->isActive()) refresh_timer_->start();
  };
  engine_->FTP.SetDialogueTrace([this](bool sent, const std::string& line) {
    if (!sent) ReplyLine(line);
  });
  // The warnings the runner writes to standard error go to the log here.
  engine_->OnScriptProblem = [this](script::ScriptEngine::ScriptProblem problem, int32_t line,
                                    const std::string& word) {
    using Problem = script::ScriptEngine::ScriptProblem;
    const auto text = problem == Problem::UnknownCommand ? texts::UnknownCommandWarning
                      : problem == Problem::MissingLabel ? texts::MissingLabelWarning
                                                         : texts::BadConditionWarning;
    engine_host_->AppendWarning(text(line + 1, word));
    return false;
  };
  document_host_->OnModifiedMarker = [this](const std::string& mark) {
    if (!engine_->FRunning) return false;
    // Panel 0 tells how the run is; the mark shows once the run is over.
    mark_during_run_ = mark;
    return true;
  };
  connect(Batmemo, &QPlainTextEdit::textChanged, this, [this] {
    if (!engine_->FRunning || !debugger_->Armed()) return;
    edited_during_run_ = true;
    UpdateRunNotice();
  });
  breakpoints_ = std::make_unique<BreakpointStore>(store_);
  Batmemo->OnBreakpointsChanged = [this] { SaveBreakpoints(); };
  Logmemo->OnOriginActivated = [this](const LogOrigin& origin) { LogOriginActivated(origin); };
}

void TTarnexfm::ReplyLine(const std::string& line) {
  // The last line of a reply: three digits and a blank.
  if (line.size() < 4 || line[3] != ' ' ||
      !std::all_of(line.begin(), line.begin() + 3, [](char c) { return c >= '0' && c <= '9'; })) {
    return;
  }
  reply_code_ = std::stoi(line.substr(0, 3));
  reply_line_ = platform::CurrentTextToUtf8(EscapeControlCharacters(line));
  if (engine_host_->OnStateChanged) engine_host_->OnStateChanged();
}

void TTarnexfm::RunWhole(int32_t run_to) {
  Batmemo->TieRunLines();
  edited_during_run_ = false;
  debugger_->ArmWholeRun(run_to);
  // Disarmed however the run ends, also when it fails before its first line.
  ScopeExit disarm([this] {
    debugger_->RunEnded();
    RunFinished();
  });
  InScriptEncoding([this] { engine_->Run(editor_->Lines()); });
}

void TTarnexfm::RunFinished() {
  edited_during_run_ = false;
  UpdateRunNotice();
  if (mark_during_run_) Stbar->SetText(0, *mark_during_run_);
  mark_during_run_.reset();
  UpdateDebugItems();
  RefreshVariables();
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
    Logmemo->ColourLastLine(LogColour::Failure);
  }
}

std::vector<QAction*> TTarnexfm::PausedRunItems() const {
  // Saving is allowed while held: the run goes on with its own copy of the lines.
  std::vector<QAction*> items{file1->menuAction(), Run1, Step1, Save1, SaveAs1};
  return items;
}

void TTarnexfm::UpdateDebugItems() {
  // From the moment the run lock is taken until it is given back.
  const bool running = engine_host_->Locked();
  const bool document = Run1->isEnabled() || running;
  const bool armed = running && debugger_->Armed();
  const bool held = debugger_->Paused();
  Debug1->menuAction()->setEnabled(document || Debug1->menuAction()->isEnabled());
  if (!Debug1->menuAction()->isEnabled()) return;  // no document yet
  for (QAction* item : Debug1->actions()) {
    if (item->isSeparator()) item->setEnabled(true);
  }
  BreakToggle1->setEnabled(true);
  BreakClear1->setEnabled(true);
  Variables1->setEnabled(true);
  // A run in progress takes Continue and Step only while held; the automatic run none.
  Continue1->setEnabled(!running || held);
  StepNext1->setEnabled(!running || held);
  RunToCaret1->setEnabled(!running || armed);
  Pause1->setEnabled(armed && !held);
  StopRun1->setEnabled(running && isEnabled());
}

void TTarnexfm::UpdateRunNotice() {
  RunNotice->setVisible(engine_->FRunning && (debugger_->Paused() || edited_during_run_));
}

void TTarnexfm::ShowPaused(bool paused) {
  // The run lock disabled every item; a held run takes commands from these alone. The lock
  // still restores every item when the run ends.
  for (QAction* item : PausedRunItems()) item->setEnabled(paused);
  UpdateDebugItems();
  UpdateRunNotice();
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
  DebugState state = CollectDebugState(*engine_, lines, platform::TextEncoding::Cp932, store_);
  // What the server said last, also in the middle of a command (the end of a transfer).
  if (reply_code_ > 0) {
    state.reply_code = reply_code_;
    state.reply_line = reply_line_;
  }
  VariablesPanel->Show(state);
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
    // The run's own number of the caret's line; a line typed since leads nowhere.
    const int index = Batmemo->RunIndexOfLine(line);
    if (index >= 0) debugger_->RunTo(index);
    return;
  }
  RunWhole(line);
}

void TTarnexfm::Pause1Click() {
  debugger_->RequestPause();
  UpdateDebugItems();
}

void TTarnexfm::StopRun1Click() {
  if (!engine_->FRunning || !isEnabled()) return;  // not the automatic run
  bool quit = false;
  if (engine_->FConnected) {
    platform::MessageBoxRequest box;
    box.text = texts::ConfirmQuitOnStop();
    box.caption = "Tarnex";
    box.icon = platform::MessageIcon::Question;
    box.buttons = platform::MessageButtons::YesNoCancel;
    const platform::MessageResult answer = dialogs_.ShowMessage(this, box);
    if (answer == platform::MessageResult::Cancel) return;
    quit = answer == platform::MessageResult::Yes;
  }
  engine_->RequestStop(quit);
  debugger_->Stop();
  UpdateDebugItems();
}

namespace {

// A document that has a file of its own, under whose path breakpoints can be kept.
bool HasFile(const std::string& name) {
  return !name.empty() && !SameText(name, documents::kNewFileName);
}

// The key breakpoints are kept under: the absolute, canonical path of the file, so that a
// script opened by a relative path, through a link, or after the current folder changed finds
// the same breakpoints.
std::string BreakpointKey(const std::string& name) {
  if (!HasFile(name)) return {};
  std::error_code error;
  const std::filesystem::path native(platform::NativePath(name));
  std::filesystem::path absolute = std::filesystem::absolute(native, error);
  if (error) return name;
  const std::filesystem::path canonical = std::filesystem::weakly_canonical(absolute, error);
  if (!error) absolute = canonical;
  return PathFromQt(QString::fromStdString(absolute.lexically_normal().string()));
}

}  // namespace

void TTarnexfm::TextReplaced() {
  restore_breakpoints_ = true;
}

void TTarnexfm::DocumentNamed() {
  // Worked out now: a relative name means the current folder of this moment.
  breakpoint_key_ = BreakpointKey(document_->ScriptName());
  if (restore_breakpoints_) {
    // A script just opened (or a new one begun): its own breakpoints come back.
    restore_breakpoints_ = false;
    Batmemo->SetBreakpoints(breakpoint_key_.empty() ? std::vector<int>{}
                                                    : breakpoints_->Load(breakpoint_key_));
    return;
  }
  // Saved under a name (perhaps a new one): the breakpoints go with it.
  SaveBreakpoints();
}

void TTarnexfm::SaveBreakpoints() {
  if (!breakpoint_key_.empty()) breakpoints_->Save(breakpoint_key_, Batmemo->Breakpoints());
}

void TTarnexfm::LogOriginActivated(const LogOrigin& origin) {
  // The line as it is numbered now; a line deleted since, or of another text, leads nowhere.
  const int line = Batmemo->LineOfId(origin.line_id);
  if (line < 0) return;
  SetCaretLine(*Batmemo, line);
  Batmemo->setFocus();
}

TConnectionDialog& TTarnexfm::ConnectionDialog() {
  if (connection_ == nullptr) {
    connection_ = new TConnectionDialog(this, settings_, store_, dialogs_);
    connection_->OnApplied = [this] { ApplyConnectionSettings(); };
  }
  return *connection_;
}

void TTarnexfm::ConnectOption1Click() {
  dialogs_.RunModal(ConnectionDialog());
}

void TTarnexfm::ApplyConnectionSettings() {
  engine_->ApplyConnectionSettings();
  RefreshVariables();  // the data connection mode may have changed
}

}  // namespace tarnex::ui
