#include "ui/window_hosts.h"

#include <QApplication>
#include <QTextBlock>
#include <QTextCursor>
#include <algorithm>
#include <cstddef>

#include "text/lines.h"
#include "ui/qt_text.h"

namespace tarnex::ui {

// --- WindowEngineHost ---

WindowEngineHost::WindowEngineHost(QWidget& window, TLogMemo& log, TStatusPanels& status,
                                   UserDialogs& dialogs,
                                   std::function<std::vector<QAction*>()> menu_items)
    : window_(window),
      log_(log),
      status_(status),
      dialogs_(dialogs),
      menu_items_(std::move(menu_items)) {}

void WindowEngineHost::AppendLog(const std::string& line) {
  log_.AppendLine(line);
  if (log_copy_) log_copy_->AppendLine(line);
}

std::string WindowEngineHost::StatusText(int panel) const {
  return status_.Text(panel);
}

void WindowEngineHost::SetStatusText(int panel, const std::string& text) {
  status_.SetText(panel, text);
}

void WindowEngineHost::LockUi() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  menu_lock_.Lock(menu_items_());
}

void WindowEngineHost::UnlockUi() {
  QApplication::restoreOverrideCursor();
  menu_lock_.Unlock();
}

platform::MessageResult WindowEngineHost::ShowMessage(const platform::MessageBoxRequest& box) {
  // A system-modal box (pause) stands alone, as it does without an owner window.
  return dialogs_.ShowMessage(box.system_modal ? nullptr : &window_, box);
}

// --- MemoEditor ---

std::string MemoEditor::Text() const {
  QString text = memo_.toPlainText();
  text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
  return ScriptFromQt(text).bytes;
}

std::optional<documents::UnsavableCharacter> MemoEditor::FirstUnsavableCharacter() const {
  const QString text = memo_.toPlainText();
  const std::optional<platform::Unrepresentable> first = ScriptFromQt(text).first_unrepresentable;
  if (!first) return std::nullopt;
  // The offset counts the UTF-8 bytes of the text, in which lines end with LF.
  const std::string utf8 = text.toStdString();
  const auto end = utf8.begin() + static_cast<std::ptrdiff_t>(first->offset);
  const auto line_breaks = std::count(utf8.begin(), end, '\n');
  return documents::UnsavableCharacter{static_cast<int>(line_breaks) + 1, first->code_point};
}

void MemoEditor::SetText(const std::string& text) {
  QString shown = ScriptToQt(text);
  shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  memo_.setPlainText(shown);
}

bool MemoEditor::Modified() const {
  return memo_.document()->isModified();
}

void MemoEditor::SetModified(bool modified) {
  memo_.document()->setModified(modified);
}

std::vector<std::string> MemoEditor::Lines() const {
  return SplitLines(Text());
}

int GetCaretLine(const QPlainTextEdit& memo) {
  return memo.document()->findBlock(memo.textCursor().selectionStart()).blockNumber();
}

void SetCaretLine(QPlainTextEdit& memo, int line) {
  QTextCursor cursor(memo.document());
  const QTextBlock block = memo.document()->findBlockByNumber(line);
  if (line >= 0 && block.isValid()) {
    cursor.setPosition(block.position());
  } else {
    cursor.movePosition(QTextCursor::End);
  }
  memo.setTextCursor(cursor);
}

// --- WindowDocumentHost ---

WindowDocumentHost::WindowDocumentHost(QWidget& window, TStatusPanels& status, UserDialogs& dialogs,
                                       std::function<void()> enable_document_menus)
    : window_(window),
      status_(status),
      dialogs_(dialogs),
      enable_document_menus_(std::move(enable_document_menus)) {}

void WindowDocumentHost::SetCaption(const std::string& caption) {
  window_.setWindowTitle(ToQt(caption));
}

void WindowDocumentHost::SetModifiedMarker(const std::string& text) {
  status_.SetText(0, text);
}

platform::MessageResult WindowDocumentHost::ShowMessage(const platform::MessageBoxRequest& box) {
  return dialogs_.ShowMessage(&window_, box);
}

bool WindowDocumentHost::RunOpenDialog(documents::FileDialog& dialog) {
  return dialogs_.RunOpenDialog(&window_, dialog, true);
}

bool WindowDocumentHost::RunSaveDialog(documents::FileDialog& dialog) {
  return dialogs_.RunSaveDialog(&window_, dialog, true);
}

void WindowDocumentHost::EnableDocumentMenus() {
  if (enable_document_menus_) enable_document_menus_();
}

}  // namespace tarnex::ui
