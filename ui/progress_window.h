// The progress window Tprogfm: shown by an automatic run when "転送中Windowを表示する" is on,
// it says that data is being exchanged and can unfold its copy of the execution log. It has no
// close box and cannot be closed by the user; the automatic run closes it at its end. Its
// caption line also shows the progress of the transfer under way.
#pragma once

#include <QWidget>
#include <string>

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
  // A transfer's progress text (status panel 3, CP932) after the caption, where it can be read
  // while the main window is hidden; an empty text leaves the caption alone.
  void ShowProgressText(const std::string& cp932_text);

  QLabel* Label1;
  CopyAnimation* Animate1;
  QToolButton* SpeedButton1;
  TLogMemo* Log;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void SetClientHeight(int height);
  // Moves the window up or left as far as needed to have it wholly on its screen.
  void KeepOnScreen();

  const settings::LiveSettings& settings_;
};

}  // namespace tarnex::ui
