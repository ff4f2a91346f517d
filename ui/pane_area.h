// The working area of the main window: the editor pane Panel1 on the left, the 4-pixel splitter
// Panel2 after it and the log pane Panel3 taking what is left. The splitter is moved with the
// mouse (left button alone); the panes are placed by hand so that a pane may shrink to nothing.
#pragma once

#include <QFrame>
#include <functional>

namespace tarnex::ui {

// Panel2: reports every mouse move over it with the buttons, the modifiers and the x position
// within the panel.
class TSplitterPanel : public QWidget {
 public:
  using MoveHandler = std::function<void(Qt::MouseButtons, Qt::KeyboardModifiers, int x)>;

  explicit TSplitterPanel(QWidget* parent = nullptr);
  MoveHandler OnMouseMove;

 protected:
  void mouseMoveEvent(QMouseEvent* event) override;
};

class TPaneArea : public QWidget {
 public:
  static constexpr int kSplitterWidth = 4;
  // The log pane keeps this much when the area has room for it; the editor may shrink to 0.
  static constexpr int kMinLogWidth = 160;

  explicit TPaneArea(QWidget* parent = nullptr);

  QFrame* Panel1() const { return panel1_; }
  TSplitterPanel* Panel2() const { return panel2_; }
  QFrame* Panel3() const { return panel3_; }

  // The editor pane's width as last set; a negative width counts as 0. The panes are laid out
  // so that the splitter stays inside the area, where it can be grabbed again, and the log keeps
  // its minimum width.
  int Panel1Width() const { return panel1_width_; }
  void SetPanel1Width(int width);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void LayoutPanes();

  QFrame* panel1_;
  TSplitterPanel* panel2_;
  QFrame* panel3_;
  int panel1_width_ = 257;
};

}  // namespace tarnex::ui
