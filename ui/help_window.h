// The help: the bundled HTML manual in a window of its own.
#pragma once

#include <QWidget>

class QTextBrowser;

namespace tarnex::ui {

class THelpWindow : public QWidget {
 public:
  static constexpr const char* kContents = "qrc:/help/tarnex.html";

  explicit THelpWindow(QWidget* parent = nullptr);

  // Shows the contents page.
  void ShowContents();
  QTextBrowser* Browser() const { return browser_; }

 private:
  QTextBrowser* browser_;
};

}  // namespace tarnex::ui
