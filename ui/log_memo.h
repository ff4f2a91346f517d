// A read-only log: the lines as the core wrote them (CP932, kept byte for byte for saving) and
// their display. Used for the main window's execution log and the progress window's copy.
#pragma once

#include <QPlainTextEdit>
#include <string>
#include <vector>

namespace tarnex::ui {

class TLogMemo : public QPlainTextEdit {
 public:
  explicit TLogMemo(QWidget* parent = nullptr);

  void AppendLine(const std::string& cp932_line);
  void ClearLines();
  const std::vector<std::string>& Lines() const { return lines_; }

 private:
  std::vector<std::string> lines_;
};

}  // namespace tarnex::ui
