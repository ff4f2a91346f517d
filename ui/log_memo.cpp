#include "ui/log_memo.h"

#include <QScrollBar>

#include "ui/qt_text.h"

namespace tarnex::ui {

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

void TLogMemo::AppendLine(const std::string& cp932_line) {
  lines_.push_back(cp932_line);
  appendPlainText(ToQt(cp932_line));
  verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void TLogMemo::ClearLines() {
  lines_.clear();
  clear();
}

}  // namespace tarnex::ui
