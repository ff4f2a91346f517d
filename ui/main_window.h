// The main window TTarnexfm: the script editor on the left, the execution log on the right,
// the menus and the four-panel status bar. It owns the script engine (and with it the FTP
// client), the script document and the recall list, and it is the engine's and the document's
// host. Start-up, the automatic run ("/auto"), the close query and the application-wide error
// handler live here too.
#pragma once

#include <QMainWindow>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "documents/file_dialog.h"
#include "documents/recall_menu.h"
#include "documents/script_document.h"
#include "platform/registry.h"
#include "script/engine.h"
#include "settings/live_settings.h"
#include "ui/log_memo.h"
#include "ui/script_editor.h"

class QAction;
class QMenu;
class QPlainTextEdit;
class QLabel;
class QTimer;
class QToolBar;

namespace tarnex::ui {

class BreakpointStore;
class MemoEditor;
class QtLoopPump;
class RecallMenuBinding;
class RunDebugger;
class ScriptHighlighter;
class TAboutBox;
class TConnectionDialog;
class THelpWindow;
class TLogMemo;
class TPaneArea;
class TStatusPanels;
class TTarnexOption;
class TVariablesPanel;
class Tprogfm;
class UserDialogs;
class WindowDocumentHost;
class WindowEngineHost;

class TTarnexfm : public QMainWindow {
 public:
  static constexpr const char* kVersion = "2.51b ";

  TTarnexfm(std::shared_ptr<platform::RegistryStore> store, UserDialogs& dialogs,
            QWidget* parent = nullptr);
  ~TTarnexfm() override;

  // The forms made after this one; the window uses them from now on.
  void AttachForms(TTarnexOption& options, TAboutBox& about, Tprogfm& progress);

  // Start-up: the settings, then New, or with "/auto" + path the script and the automatic run,
  // posted to start once start-up is over. False when the window is not to be shown at all
  // (an automatic run that hides the program).
  bool FormShow(const QStringList& arguments);
  void WMAutoRun();
  // At the end of the program: stores the recall list.
  void FormDestroy();
  // Writes an error that nothing else caught to the log as "999 予期せぬエラー：" + message.
  void AppException(std::exception_ptr error);

  void FormCloseQuery(bool& can_close);
  void FormClose();
  // Called once the window has closed; the program ends then.
  std::function<void()> OnClosed;

  void Run1Click();
  void Step1Click();
  void exit1Click();
  void Option1Click();
  void Version1Click();
  void Contets1Click();
  void LogfileSave1Click();
  void LogClear1Click();
  void Cut1Click();
  void Copy1Click();
  void Peast1Click();
  void Delete1Click();
  void All1Click();
  void RecallMenu1Selected(const std::string& selected);
  // The connection settings dialog, and its settings handed to the FTP client.
  void ConnectOption1Click();
  void ApplyConnectionSettings();
  // The debug menu. While a run is paused, Run1 (F9) continues it and Step1 (F8) runs its
  // next line and pauses again; otherwise they run and step as always.
  void BreakToggle1Click();
  void BreakClear1Click();
  void RunToCaret1Click();
  // Pause holds a going run before its next line; Stop ends a going or held run, asking first
  // whether to close an open FTP session (QUIT).
  void Pause1Click();
  void StopRun1Click();
  void Variables1Click(bool checked);
  void Panel2MouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers, int x);

  // The window as the user left it (geometry, bars, the editor's width), or on a first start
  // most of the screen with the panes in proportion; and kept for the next start.
  void RestoreWindowState();
  void SaveWindowState();

  // Enables Save, Save as, Run, Step and the edit menu.
  void EnableDocumentMenus();
  // Every menu item the window owns: the menus themselves and their items.
  std::vector<QAction*> MenuItems() const;

  script::ScriptEngine& Engine() { return *engine_; }
  documents::ScriptDocument& Document() { return *document_; }
  documents::TRecallMenu& RecallMenu1() { return *recall_; }
  settings::LiveSettings& Settings() { return settings_; }
  const MemoEditor& Editor() const { return *editor_; }
  TPaneArea& Panes() const { return *panes_; }
  THelpWindow* HelpWindow() const { return help_; }
  RecallMenuBinding& RecallBinding() { return *recall_binding_; }
  QtLoopPump& Pump() { return *pump_; }
  RunDebugger& Debugger() { return *debugger_; }
  TConnectionDialog& ConnectionDialog();

  TScriptEditor* Batmemo = nullptr;
  TLogMemo* Logmemo = nullptr;
  TStatusPanels* Stbar = nullptr;
  QLabel* Panel4 = nullptr;
  QLabel* Panel5 = nullptr;
  QMenu* file1 = nullptr;
  QMenu* Edit1 = nullptr;
  QMenu* Log1 = nullptr;
  QMenu* Help1 = nullptr;
  QMenu* Debug1 = nullptr;
  QMenu* N6 = nullptr;
  QAction* Newfile1 = nullptr;
  QAction* Open1 = nullptr;
  QAction* Save1 = nullptr;
  QAction* SaveAs1 = nullptr;
  QAction* Option1 = nullptr;
  QAction* ConnectOption1 = nullptr;
  QAction* Run1 = nullptr;
  QAction* Step1 = nullptr;
  QAction* exit1 = nullptr;
  QAction* Cut1 = nullptr;
  QAction* Copy1 = nullptr;
  QAction* Peast1 = nullptr;
  QAction* Delete1 = nullptr;
  QAction* All1 = nullptr;
  QAction* LogfileSave1 = nullptr;
  QAction* LogClear1 = nullptr;
  QAction* Contets1 = nullptr;
  QAction* Version1 = nullptr;
  QAction* BreakToggle1 = nullptr;
  QAction* BreakClear1 = nullptr;
  QAction* Continue1 = nullptr;
  QAction* StepNext1 = nullptr;
  QAction* RunToCaret1 = nullptr;
  QAction* StopRun1 = nullptr;
  QAction* Pause1 = nullptr;
  QAction* Variables1 = nullptr;
  TVariablesPanel* VariablesPanel = nullptr;
  QToolBar* DebugBar = nullptr;
  // Above the editor while a run is held, or goes on after the text was edited.
  QLabel* RunNotice = nullptr;
  documents::FileDialog SaveDialog2;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  // No menu of docks and tool bars on a right click: the window's menus are as designed.
  QMenu* createPopupMenu() override { return nullptr; }

 private:
  void FormCreate();
  void BuildPanes();
  QLabel* MakeCaptionPanel(QWidget* pane, const char* name, const char* caption);
  void BuildMenus();
  void BuildFileMenu();
  void BuildOtherMenus();
  void BuildDebugMenu();
  void BuildDebugger();
  void BuildKeyboard();
  void OpenMenu(QMenu* menu);
  // Ctrl+Tab: the editor, the log and the variables panel in turn.
  void FocusNextPane(bool forward);
  // Runs the whole script; with `run_to` 0 or more it pauses before that line.
  void RunWhole(int32_t run_to);
  // Runs `run` (a run or step of the engine) in the script's encoding, with the document's name
  // in it; an error that escapes is logged in that encoding too.
  void InScriptEncoding(const std::function<void()>& run);
  // The window while a run is held: the menus that act on a paused run, the status, the cursor.
  void ShowPaused(bool paused);
  std::vector<QAction*> PausedRunItems() const;
  void RefreshVariables();
  // The debug menu and tool bar as the run state allows: no run, a run going, a run held.
  void UpdateDebugItems();
  void UpdateRunNotice();
  // A run or step ended: the modified mark that came meanwhile shows now.
  void RunFinished();
  void ReplyLine(const std::string& line);
  // The document's text was replaced, or the document named: its breakpoints follow.
  void TextReplaced();
  void DocumentNamed();
  void SaveBreakpoints();
  void LogOriginActivated(const LogOrigin& origin);
  QAction* AddItem(QMenu* menu, const char* name, const char* caption, const QKeySequence& shortcut,
                   void (TTarnexfm::*handler)());
  void AddSeparator(QMenu* menu, const char* name);
  bool ClaimsShortcut(const QKeyEvent& key) const;
  platform::MessageResult Ask(const std::string& question);

  std::shared_ptr<platform::RegistryStore> store_;
  UserDialogs& dialogs_;
  settings::LiveSettings settings_;
  TPaneArea* panes_ = nullptr;
  TTarnexOption* options_ = nullptr;
  TAboutBox* about_ = nullptr;
  Tprogfm* progress_ = nullptr;
  THelpWindow* help_ = nullptr;
  std::vector<QAction*> menu_items_;
  std::vector<QAction*> keyboard_items_;  // keys of the window that are no menu item
  std::unique_ptr<WindowEngineHost> engine_host_;
  std::unique_ptr<script::ScriptEngine> engine_;
  std::unique_ptr<MemoEditor> editor_;
  std::unique_ptr<WindowDocumentHost> document_host_;
  std::unique_ptr<documents::TRecallMenu> recall_;
  std::unique_ptr<documents::ScriptDocument> document_;
  std::unique_ptr<RecallMenuBinding> recall_binding_;
  std::unique_ptr<BreakpointStore> breakpoints_;
  std::unique_ptr<RunDebugger> debugger_;
  ScriptHighlighter* highlighter_ = nullptr;    // owned by the editor's document
  TConnectionDialog* connection_ = nullptr;     // owned by the window, made when first asked for
  bool restore_breakpoints_ = false;            // the next naming follows a text replaced
  std::string breakpoint_key_;                  // the document's absolute, canonical path
  std::optional<std::string> mark_during_run_;  // the modified mark that came during a run
  bool edited_during_run_ = false;
  QTimer* refresh_timer_ = nullptr;  // the variables panel after an event, once for many
  int reply_code_ = 0;               // the last reply the server sent, as the panel shows it
  std::string reply_line_;
  std::string status_before_pause_;
  bool pause_cursor_ = false;
  // Last: the first to go, so that no wait of the engine's teardown gives Qt a turn.
  std::unique_ptr<QtLoopPump> pump_;
};

}  // namespace tarnex::ui
