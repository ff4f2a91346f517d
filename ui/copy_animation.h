// A small animation of files being copied: sheets fly in an arc from one folder to another,
// looping for as long as the widget is shown.
#pragma once

#include <QTimer>
#include <QWidget>

namespace tarnex::ui {

class CopyAnimation : public QWidget {
 public:
  static constexpr int kFrames = 35;  // one flight, frames 0..34

  explicit CopyAnimation(QWidget* parent = nullptr);

  int Frame() const { return frame_; }
  bool Running() const { return timer_.isActive(); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void Advance();

  QTimer timer_;
  int frame_ = 0;
};

}  // namespace tarnex::ui
