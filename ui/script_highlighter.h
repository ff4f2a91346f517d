// The colours of the script editor: command words, labels, %variables% and Rem comments. A
// first word that is no command, label or blank (the rule by which the runner warns of a slip
// of the pen) is underlined in red. A first word built from a variable is known only when the
// line runs and is left plain.
#pragma once

#include <QSyntaxHighlighter>
#include <QTextCharFormat>

namespace tarnex::ui {

class ScriptHighlighter : public QSyntaxHighlighter {
 public:
  explicit ScriptHighlighter(QTextDocument* document);

  // The format of each kind of word, for whoever wants to look.
  const QTextCharFormat& CommandFormat() const { return command_; }
  const QTextCharFormat& LabelFormat() const { return label_; }
  const QTextCharFormat& VariableFormat() const { return variable_; }
  const QTextCharFormat& CommentFormat() const { return comment_; }
  const QTextCharFormat& UnknownFormat() const { return unknown_; }

 protected:
  void highlightBlock(const QString& text) override;

 private:
  // Colours the command line that starts at `from` (a whole line, or what follows `if COND`).
  void HighlightCommand(const QString& text, int from);
  void HighlightVariables(const QString& text);

  QTextCharFormat command_;
  QTextCharFormat label_;
  QTextCharFormat variable_;
  QTextCharFormat comment_;
  QTextCharFormat unknown_;
};

}  // namespace tarnex::ui
