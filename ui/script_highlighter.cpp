#include "ui/script_highlighter.h"

#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <algorithm>

#include "script/command_table.h"
#include "ui/script_words.h"

namespace tarnex::ui {
namespace {

constexpr QChar kSpace = QLatin1Char(' ');
constexpr QChar kFullWidthSpace = QChar(0x3000);

// The next token at `at` as the engine takes a command word: leading spaces skipped, the token
// ending at the next space, full-width blanks trimmed from its ends. `at` moves past the token.
struct Token {
  int start = 0;
  int length = 0;
};

Token NextWord(const QString& text, int& at) {
  while (at < text.size() && text[at] == kSpace) ++at;
  int start = at;
  while (at < text.size() && text[at] != kSpace) ++at;
  int end = at;
  while (start < end && text[start] == kFullWidthSpace) ++start;
  while (end > start && text[end - 1] == kFullWidthSpace) --end;
  return {start, end - start};
}

}  // namespace

ScriptHighlighter::ScriptHighlighter(QTextDocument* document) : QSyntaxHighlighter(document) {
  command_.setForeground(QColor(0x00, 0x00, 0x99));
  command_.setFontWeight(QFont::Bold);
  label_.setForeground(QColor(0x88, 0x00, 0x88));
  label_.setFontWeight(QFont::Bold);
  variable_.setForeground(QColor(0x00, 0x70, 0x70));
  comment_.setForeground(QColor(0x2e, 0x7d, 0x32));
  unknown_.setUnderlineStyle(QTextCharFormat::WaveUnderline);
  unknown_.setUnderlineColor(QColor(0xd0, 0x00, 0x00));
}

void ScriptHighlighter::highlightBlock(const QString& text) {
  Labels();  // a label typed on this line may be what a goto elsewhere is waiting for
  HighlightCommand(text, 0);
  HighlightVariables(text);  // lines are expanded before they run, comments included
}

void ScriptHighlighter::HighlightCommand(const QString& text, int from) {
  int at = from;
  const Token word = NextWord(text, at);
  const QString shown = text.mid(word.start, word.length);
  // A command word made of a variable is known only when the line runs.
  if (shown.contains(QLatin1Char('%'))) return;
  switch (ClassifyWord(shown.toStdString())) {
    case WordKind::None:
      return;
    case WordKind::Label:
      setFormat(word.start, word.length, label_);
      return;
    case WordKind::Unknown:
      setFormat(word.start, word.length, unknown_);
      return;
    case WordKind::Command:
      break;
  }
  setFormat(word.start, word.length, command_);
  const auto command = script::LookupCommand(shown.toStdString());
  if (command == script::Command::Rem) {
    setFormat(at, static_cast<int>(text.size()) - at, comment_);
  } else if (command == script::Command::If) {
    const Token condition = NextWord(text, at);
    const QString word = text.mid(condition.start, condition.length);
    const bool known = word.compare(QLatin1String("Error"), Qt::CaseInsensitive) == 0 ||
                       word.compare(QLatin1String("NonError"), Qt::CaseInsensitive) == 0 ||
                       word.contains(QLatin1Char('%'));
    setFormat(condition.start, condition.length, known ? command_ : unknown_);
    HighlightCommand(text, at);
  } else if (command == script::Command::Goto) {
    const Token target = NextWord(text, at);
    const QString name = text.mid(target.start, target.length);
    if (!name.contains(QLatin1Char('%')) && !Labels().contains(name.toLower())) {
      setFormat(target.start, std::max(target.length, 1), unknown_);
    }
  }
}

const QSet<QString>& ScriptHighlighter::Labels() {
  const QTextDocument* text = document();
  if (text == nullptr || labels_revision_ == text->revision()) return labels_;
  labels_revision_ = text->revision();
  QSet<QString> labels;
  for (QTextBlock block = text->begin(); block.isValid(); block = block.next()) {
    const QString line = block.text();
    int at = 0;
    const Token word = NextWord(line, at);
    if (word.length > 0 && line[word.start] == QLatin1Char(':')) {
      labels.insert(line.mid(word.start + 1, word.length - 1).toLower());
    }
  }
  if (labels != labels_) {
    labels_ = std::move(labels);
    // Not from inside this colouring: once it is over.
    QTimer::singleShot(0, this, [this] { rehighlight(); });
  }
  return labels_;
}

void ScriptHighlighter::HighlightVariables(const QString& text) {
  int open = -1;
  for (int i = 0; i < text.size(); ++i) {
    if (text[i] == QLatin1Char('\\') && i + 1 < text.size() && text[i + 1] == QLatin1Char('%')) {
      ++i;  // "\%" is a literal percent sign
    } else if (text[i] == QLatin1Char('%')) {
      if (open < 0) {
        open = i;
      } else {
        setFormat(open, i - open + 1, variable_);
        open = -1;
      }
    }
  }
}

}  // namespace tarnex::ui
