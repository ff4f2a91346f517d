// A read-only log: the lines as the core wrote them (CP932, kept byte for byte for saving) and
// their display. Used for the main window's execution log and the progress window's copy.
#pragma once

#include <QPlainTextEdit>
#include <QStringList>
#include <functional>
#include <string>
#include <vector>

namespace tarnex::ui {

// Where a log line came from: the identity of the script line that was running (see
// TScriptEditor::TieRunLines), which leads to that line wherever edits have moved it. 0: none.
struct LogOrigin {
  int line_id = 0;
};

// How a log line is coloured: as it is, a warning about the script, a failure.
enum class LogColour { Plain, Warning, Failure };

class TLogMemo : public QPlainTextEdit {
 public:
  explicit TLogMemo(QWidget* parent = nullptr);

  void AppendLine(const std::string& cp932_line, LogOrigin origin = {});
  // The same, shown as `shown` (the line of a UTF-8 run, which CP932 may not hold whole).
  void AppendLine(const std::string& cp932_line, const QString& shown, LogOrigin origin);
  // Many lines at once (a listing), as appending each would show them, with one layout and
  // one scroll instead of one per line. `shown` holds a display text per line.
  void AppendLines(const std::vector<std::string>& cp932_lines, const QStringList& shown,
                   LogOrigin origin);
  void ClearLines();
  // Colours the last line written (each display line of it).
  void ColourLastLine(LogColour colour);
  // The colour the display line `block` was given.
  LogColour ColourAt(int block) const;
  const std::vector<std::string>& Lines() const { return lines_; }

  // The origin of the line shown at display line `block`; line_id 0 when it has none.
  LogOrigin OriginAt(int block) const;
  // A double click, or Enter, on a line that has an origin.
  std::function<void(const LogOrigin&)> OnOriginActivated;

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Activate(int block);

  std::vector<std::string> lines_;
  int last_line_blocks_ = 0;  // display lines of the line written last
};

}  // namespace tarnex::ui
