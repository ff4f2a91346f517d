// A read-only log: the lines as the core wrote them (CP932, kept byte for byte for saving) and
// their display. Used for the main window's execution log and the progress window's copy.
#pragma once

#include <QPlainTextEdit>
#include <QStringList>
#include <functional>
#include <string>
#include <vector>

namespace tarnex::ui {

// Where a log line came from: the 0-based script line that was running, and which script text
// (the window counts the texts it loads) that line belonged to. -1: no line.
struct LogOrigin {
  int line = -1;
  int source = 0;
};

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
  const std::vector<std::string>& Lines() const { return lines_; }

  // The origin of the line shown at display line `block`; line -1 when it has none.
  LogOrigin OriginAt(int block) const;
  // A double click on a line that has an origin.
  std::function<void(const LogOrigin&)> OnOriginActivated;

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  std::vector<std::string> lines_;
};

}  // namespace tarnex::ui
