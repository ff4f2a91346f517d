#include "ui/log_memo.h"

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
  if (origin.line >= 0) {
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
  clear();
}

LogOrigin TLogMemo::OriginAt(int block) const {
  const auto* data =
      dynamic_cast<const OriginData*>(document()->findBlockByNumber(block).userData());
  return data != nullptr ? data->Origin() : LogOrigin{};
}

void TLogMemo::mouseDoubleClickEvent(QMouseEvent* event) {
  QPlainTextEdit::mouseDoubleClickEvent(event);
  const LogOrigin origin = OriginAt(cursorForPosition(event->position().toPoint()).blockNumber());
  if (origin.line >= 0 && OnOriginActivated) Guard([&] { OnOriginActivated(origin); });
}

}  // namespace tarnex::ui
