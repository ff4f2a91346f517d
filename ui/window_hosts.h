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
#include "ui/status_panels.h"
#include "ui/user_dialogs.h"

namespace tarnex::ui {

class WindowEngineHost : public script::EngineHost {
 public:
  // `menu_items` lists the window's own menu items at the moment of locking.
  WindowEngineHost(QWidget& window, TLogMemo& log, TStatusPanels& status, UserDialogs& dialogs,
                   std::function<std::vector<QAction*>()> menu_items);

  // The progress window's copy of the log, which receives every line from then on.
  void SetLogCopy(TLogMemo* copy) { log_copy_ = copy; }

  void AppendLog(const std::string& line) override;
  std::string StatusText(int panel) const override;
  void SetStatusText(int panel, const std::string& text) override;
  void LockUi() override;
  void UnlockUi() override;
  platform::MessageResult ShowMessage(const platform::MessageBoxRequest& box) override;

  bool Locked() const { return menu_lock_.Locked(); }

 private:
  QWidget& window_;
  TLogMemo& log_;
  QPointer<TLogMemo> log_copy_;
  TStatusPanels& status_;
  UserDialogs& dialogs_;
  std::function<std::vector<QAction*>()> menu_items_;
  MenuLock menu_lock_;
};

// The editor Batmemo: CP932 text with CR LF line breaks on the core's side. A byte of a script
// that is not CP932 shows as a private-use character and is written back as that byte, so
// opening and saving never changes a line the user did not edit.
class MemoEditor : public documents::DocumentEditor {
 public:
  explicit MemoEditor(QPlainTextEdit& memo) : memo_(memo) {}

  std::string Text() const override;
  std::optional<documents::UnsavableCharacter> FirstUnsavableCharacter() const override;
  void SetText(const std::string& text) override;
  bool Modified() const override;
  void SetModified(bool modified) override;

  // The editor's lines, as a run or step takes them.
  std::vector<std::string> Lines() const;

 private:
  QPlainTextEdit& memo_;
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

 private:
  QWidget& window_;
  TStatusPanels& status_;
  UserDialogs& dialogs_;
  std::function<void()> enable_document_menus_;
};

}  // namespace tarnex::ui
