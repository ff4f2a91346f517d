#include "ui/log_memo.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTextBlock>

#include "ui/qt_text.h"
#include "ui/slot_guard.h"

namespace tarnex::ui {
namespace {

// The origin of a display line, kept with its text block.
class OriginData : public QTextBlockUserData {
 public:
  explicit OriginData(LogOrigin origin) : origin_(origin) {}
  const LogOrigin& Origin() const { return origin_; }

 private:
  LogOrigin origin_;
};

const QColor kWarningColour(0xb0, 0x50, 0x00);
const QColor kFailureColour(0xc0, 0x00, 0x00);
constexpr int kColourProperty = QTextFormat::UserProperty + 1;

}  // namespace

TLogMemo::TLogMemo(QWidget* parent) : QPlainTextEdit(parent) {
  setReadOnly(true);
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setFocusPolicy(Qt::ClickFocus);  // not a tab stop
  setUndoRedoEnabled(false);
  // The button-face colour marks the log as something to read, not to type into.
  QPalette colours = palette();
  colours.setColor(QPalette::Base, colours.color(QPalette::Button));
  setPalette(colours);
}

void TLogMemo::AppendLine(const std::string& cp932_line, LogOrigin origin) {
  AppendLine(cp932_line, ToQt(cp932_line), origin);
}

void TLogMemo::AppendLine(const std::string& cp932_line, const QString& shown, LogOrigin origin) {
  AppendLines({cp932_line}, {shown}, origin);
}

void TLogMemo::AppendLines(const std::vector<std::string>& cp932_lines, const QStringList& shown,
                           LogOrigin origin) {
  if (cp932_lines.empty()) return;
  lines_.insert(lines_.end(), cp932_lines.begin(), cp932_lines.end());
  // The first line goes into the empty block an empty document has.
  const int first_new = document()->isEmpty() ? 0 : document()->blockCount();
  // One text with a line break between the lines gives the blocks that one append per line
  // would.
  appendPlainText(shown.join(QChar('\n')));
  last_line_blocks_ = static_cast<int>(shown.back().count(QChar('\n'))) + 1;
  if (origin.line_id > 0) {
    // A line with a line break of its own shows as several blocks; each leads to the origin.
    for (QTextBlock block = document()->findBlockByNumber(first_new); block.isValid();
         block = block.next()) {
      block.setUserData(new OriginData(origin));
    }
  }
  verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void TLogMemo::ClearLines() {
  lines_.clear();
  last_line_blocks_ = 0;
  clear();
}

void TLogMemo::ColourLastLine(LogColour colour) {
  if (last_line_blocks_ <= 0 || colour == LogColour::Plain) return;
  QTextCursor cursor(document()->findBlockByNumber(document()->blockCount() - last_line_blocks_));
  cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
  QTextCharFormat format;
  format.setForeground(colour == LogColour::Warning ? kWarningColour : kFailureColour);
  format.setProperty(kColourProperty, static_cast<int>(colour));
  cursor.mergeCharFormat(format);
}

LogColour TLogMemo::ColourAt(int block) const {
  const QTextBlock found = document()->findBlockByNumber(block);
  if (!found.isValid()) return LogColour::Plain;
  QTextCursor cursor(found);
  cursor.movePosition(QTextCursor::NextCharacter);
  return static_cast<LogColour>(cursor.charFormat().intProperty(kColourProperty));
}

LogOrigin TLogMemo::OriginAt(int block) const {
  const auto* data =
      dynamic_cast<const OriginData*>(document()->findBlockByNumber(block).userData());
  return data != nullptr ? data->Origin() : LogOrigin{};
}

void TLogMemo::mouseDoubleClickEvent(QMouseEvent* event) {
  QPlainTextEdit::mouseDoubleClickEvent(event);
  Activate(cursorForPosition(event->position().toPoint()).blockNumber());
}

void TLogMemo::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    Activate(textCursor().blockNumber());
    return;
  }
  QPlainTextEdit::keyPressEvent(event);
}

void TLogMemo::Activate(int block) {
  const LogOrigin origin = OriginAt(block);
  if (origin.line_id > 0 && OnOriginActivated) Guard([&] { OnOriginActivated(origin); });
}

}  // namespace tarnex::ui
