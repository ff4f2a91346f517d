// The gutter beside the script editor: line numbers from 1, a red mark on each breakpoint line
// and an arrow on the line a run is at. A click toggles the breakpoint of the line clicked.
#pragma once

#include <QWidget>

namespace tarnex::ui {

class TScriptEditor;

class LineGutter : public QWidget {
 public:
  explicit LineGutter(TScriptEditor& editor);

  // Wide enough for the largest line number and the mark.
  int WidthNeeded() const;
  QSize sizeHint() const override { return QSize(WidthNeeded(), 0); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  TScriptEditor& editor_;
};

}  // namespace tarnex::ui
