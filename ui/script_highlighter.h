// The colours of the script editor: command words, labels, %variables% and Rem comments. What
// the runner warns of is underlined in red: a first word that is no command, label or blank, an
// `if` condition that is neither Error nor NonError, a `goto` to a label no line has. A word
// built from a variable is known only when the line runs and is left plain.
#pragma once

#include <QSet>
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
  // The labels of the whole text, without their colon and in lower case; worked out again once
  // per change of the text. When they changed, every line is coloured again (a goto elsewhere
  // may have found or lost its label).
  const QSet<QString>& Labels();

  QSet<QString> labels_;
  int labels_revision_ = -1;

  QTextCharFormat command_;
  QTextCharFormat label_;
  QTextCharFormat variable_;
  QTextCharFormat comment_;
  QTextCharFormat unknown_;
};

}  // namespace tarnex::ui
