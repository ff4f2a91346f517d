// The progress window Tprogfm: shown by an automatic run when "転送中Windowを表示する" is on,
// it says that data is being exchanged and can unfold its copy of the execution log. It has no
// close box and cannot be closed by the user; the automatic run closes it at its end.
#pragma once

#include <QWidget>

#include "settings/live_settings.h"

class QLabel;
class QToolButton;

namespace tarnex::ui {

class CopyAnimation;
class TLogMemo;

class Tprogfm : public QWidget {
 public:
  static constexpr int kFoldedHeight = 125;    // Log's top - 3: the log cut off
  static constexpr int kUnfoldedHeight = 436;  // Log's top + height + 3

  explicit Tprogfm(const settings::LiveSettings& settings, QWidget* parent = nullptr);

  // At every showing: the caption, the folded height, the detail button as the settings say.
  void FormShow();
  // The detail button: unfolds the log while it is down, folds it when it comes up.
  void SpeedButton1Click();
  // Hides the window (the end of the automatic run).
  void CloseForm();

  QLabel* Label1;
  CopyAnimation* Animate1;
  QToolButton* SpeedButton1;
  TLogMemo* Log;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void SetClientHeight(int height);

  const settings::LiveSettings& settings_;
};

}  // namespace tarnex::ui
