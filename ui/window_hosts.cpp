#include "ui/window_hosts.h"

#include <QApplication>
#include <QTextBlock>
#include <QTextCursor>
#include <algorithm>
#include <cstddef>

#include "text/lines.h"
#include "ui/progress_window.h"
#include "ui/qt_text.h"
#include "ui/run_debugger.h"

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

// The engine's strings are in the run's encoding; the log and the status bar keep CP932, the
// log file's and the store's encoding, and show a UTF-8 run's lines as they are.
void WindowEngineHost::AppendLog(const std::string& line) {
  AppendLogLines({line});
}

void WindowEngineHost::AppendLogLines(const std::vector<std::string>& lines) {
  std::vector<std::string> kept;
  kept.reserve(lines.size());
  QStringList shown;
  shown.reserve(static_cast<qsizetype>(lines.size()));
  for (const auto& line : lines) {
    kept.push_back(RunTextToCp932(line));
    shown.push_back(RunTextToQt(line));
  }
  const int line_id = running_line_ >= 0 && LineIdOf ? LineIdOf(running_line_) : 0;
  log_.AppendLines(kept, shown, LogOrigin{line_id});
  if (log_copy_) log_copy_->AppendLines(kept, shown, LogOrigin{});
}

void WindowEngineHost::AppendScriptLine(int32_t /*index*/, const std::string& line) {
  script_line_at_ = log_.Lines().size();
  AppendLog(line);
}

void WindowEngineHost::CommandFailed() {
  // The line that says why: the last one after the script line (the script line itself when
  // the command wrote none). A log cleared since has none of them.
  if (log_.Lines().size() > script_line_at_) log_.ColourLastLine(LogColour::Failure);
}

void WindowEngineHost::AppendWarning(const std::string& line) {
  AppendLog(line);
  log_.ColourLastLine(LogColour::Warning);
}

std::string WindowEngineHost::StatusText(int panel) const {
  return Cp932ToRunText(status_.Text(panel));
}

void WindowEngineHost::SetStatusText(int panel, const std::string& text) {
  const std::string kept = RunTextToCp932(text);
  status_.SetText(panel, kept);
  if (panel == 3 && progress_) progress_->ShowProgressText(kept);
  if (OnStateChanged) OnStateChanged();
}

void WindowEngineHost::LockUi() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  menu_lock_.Lock(menu_items_());
  if (OnLockChanged) OnLockChanged(true);
}

void WindowEngineHost::UnlockUi() {
  QApplication::restoreOverrideCursor();
  menu_lock_.Unlock();
  running_line_ = -1;
  // The run is over, however it ended.
  if (debugger_ != nullptr) debugger_->RunEnded();
  if (OnLockChanged) OnLockChanged(false);
}

bool WindowEngineHost::BeforeLine(int32_t index) {
  if (debugger_ != nullptr && !debugger_->BeforeLine(index)) return false;
  running_line_ = index;  // after a pause: what is logged while held belongs to no line
  return true;
}

void WindowEngineHost::AfterLine(int32_t index) {
  running_line_ = -1;  // what is logged in the pause after a line belongs to no line
  if (debugger_ != nullptr) debugger_->AfterLine(index);
}

platform::MessageResult WindowEngineHost::ShowMessage(const platform::MessageBoxRequest& box) {
  // A system-modal box (pause) stands alone, as it does without an owner window.
  return dialogs_.ShowMessage(box.system_modal ? nullptr : &window_, box);
}

// --- MemoEditor ---

std::string MemoEditor::Text() const {
  QString text = memo_.toPlainText();
  text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
  if (encoding_ == platform::TextEncoding::Utf8) return Utf8ScriptFromQt(text, escaped_);
  return ScriptFromQt(text).bytes;
}

void MemoEditor::SetTextEncoding(platform::TextEncoding encoding) {
  encoding_ = encoding;
  escaped_ = false;
}

std::optional<documents::UnsavableCharacter> MemoEditor::FirstUnsavableCharacter() const {
  if (encoding_ == platform::TextEncoding::Utf8) return std::nullopt;  // UTF-8 holds them all
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
  QString shown =
      encoding_ == platform::TextEncoding::Utf8 ? Utf8ScriptToQt(text, escaped_) : ScriptToQt(text);
  shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  memo_.setPlainText(shown);
  if (OnTextReplaced) OnTextReplaced();
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
  if (OnNamed) OnNamed();
}

void WindowDocumentHost::SetModifiedMarker(const std::string& text) {
  const std::string mark = RunTextToCp932(text);  // it comes in a running script's encoding
  if (OnModifiedMarker && OnModifiedMarker(mark)) return;
  status_.SetText(0, mark);
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
