// The main window as the core sees it: the engine's host (log, status panels, run lock,
// message boxes), the script editor, and the document's host (caption, marker, questions,
// file dialogs, document menus).
#pragma once

#include <QPlainTextEdit>
#include <QPointer>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "documents/document_host.h"
#include "script/engine_host.h"
#include "ui/log_memo.h"
#include "ui/menu_lock.h"
#include "ui/progress_window.h"
#include "ui/status_panels.h"
#include "ui/user_dialogs.h"

namespace tarnex::ui {

class RunDebugger;

class WindowEngineHost : public script::EngineHost {
 public:
  // `menu_items` lists the window's own menu items at the moment of locking.
  WindowEngineHost(QWidget& window, TLogMemo& log, TStatusPanels& status, UserDialogs& dialogs,
                   std::function<std::vector<QAction*>()> menu_items);

  // The progress window's copy of the log, which receives every line from then on.
  void SetLogCopy(TLogMemo* copy) { log_copy_ = copy; }
  // The progress window, whose caption line shows the progress texts too.
  void SetProgressWindow(Tprogfm* progress) { progress_ = progress; }
  // Hears of every line of a run and of the run's end; none: lines run unobserved.
  void SetRunDebugger(RunDebugger* debugger) { debugger_ = debugger; }
  // The identity of the run's line `index` for the log lines it writes (see LogOrigin).
  std::function<int(int32_t index)> LineIdOf;
  // After the run lock was taken (true) or given back (false).
  std::function<void(bool locked)> OnLockChanged;
  // Something the variables panel shows may have changed (a status panel was written).
  std::function<void()> OnStateChanged;

  // A warning about the script, coloured as such.
  void AppendWarning(const std::string& line);

  void AppendLog(const std::string& line) override;
  void AppendLogLines(const std::vector<std::string>& lines) override;
  void AppendScriptLine(int32_t index, const std::string& line) override;
  void CommandFailed() override;
  std::string StatusText(int panel) const override;
  void SetStatusText(int panel, const std::string& text) override;
  void LockUi() override;
  void UnlockUi() override;
  platform::MessageResult ShowMessage(const platform::MessageBoxRequest& box) override;
  bool BeforeLine(int32_t index) override;
  void AfterLine(int32_t index) override;

  bool Locked() const { return menu_lock_.Locked(); }

 private:
  QWidget& window_;
  TLogMemo& log_;
  QPointer<TLogMemo> log_copy_;
  QPointer<Tprogfm> progress_;
  TStatusPanels& status_;
  UserDialogs& dialogs_;
  std::function<std::vector<QAction*>()> menu_items_;
  MenuLock menu_lock_;
  RunDebugger* debugger_ = nullptr;
  int running_line_ = -1;      // the line whose log lines are being written, -1 between lines
  size_t script_line_at_ = 0;  // how many log lines there were before the last script line
};

// The editor Batmemo: CP932 (or, for a UTF-8 script, UTF-8) text with CR LF line breaks on the
// core's side. A byte of a script that is not in its encoding shows as a private-use character
// and is written back as that byte, so opening and saving never changes a line the user did
// not edit.
class MemoEditor : public documents::DocumentEditor {
 public:
  explicit MemoEditor(QPlainTextEdit& memo) : memo_(memo) {}

  // After SetText replaced the whole text (a script opened, a new one begun).
  std::function<void()> OnTextReplaced;

  std::string Text() const override;
  std::optional<documents::UnsavableCharacter> FirstUnsavableCharacter() const override;
  void SetText(const std::string& text) override;
  bool Modified() const override;
  void SetModified(bool modified) override;
  void SetTextEncoding(platform::TextEncoding encoding) override;

  // The editor's lines, as a run or step takes them.
  std::vector<std::string> Lines() const;

 private:
  QPlainTextEdit& memo_;
  platform::TextEncoding encoding_ = platform::TextEncoding::Cp932;
  bool escaped_ = false;  // the UTF-8 text had bytes shown as private-use characters
};

// The 0-based line of the caret (the start of the selection).
int GetCaretLine(const QPlainTextEdit& memo);
// The caret to the start of line `line`, or to the end when the text has fewer lines.
void SetCaretLine(QPlainTextEdit& memo, int line);

class WindowDocumentHost : public documents::DocumentHost {
 public:
  WindowDocumentHost(QWidget& window, TStatusPanels& status, UserDialogs& dialogs,
                     std::function<void()> enable_document_menus);

  void SetCaption(const std::string& caption) override;
  void SetModifiedMarker(const std::string& text) override;
  platform::MessageResult ShowMessage(const platform::MessageBoxRequest& box) override;
  bool RunOpenDialog(documents::FileDialog& dialog) override;
  bool RunSaveDialog(documents::FileDialog& dialog) override;
  void EnableDocumentMenus() override;

  // After the document was named (New, Open, Save as: the caption follows the name).
  std::function<void()> OnNamed;
  // Takes the modified mark (CP932) instead of status panel 0 when it answers true (while a
  // run shows its own state there).
  std::function<bool(const std::string& mark)> OnModifiedMarker;

 private:
  QWidget& window_;
  TStatusPanels& status_;
  UserDialogs& dialogs_;
  std::function<void()> enable_document_menus_;
};

}  // namespace tarnex::ui
