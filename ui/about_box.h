// The about box TAboutBox ("ﾊﾞｰｼﾞｮﾝ情報"): name, description, version and the link to the
// maker's site. Placed once, when it is made, 50 pixels right of and below the main window.
#pragma once

#include <QDialog>
#include <string>

class QLabel;
class QPushButton;

namespace tarnex::ui {

class TURLLabel;

class TAboutBox : public QDialog {
 public:
  static constexpr const char* kURL = "https://tarnex.example/";

  explicit TAboutBox(QWidget* main_window);

  // Set by the main window before every showing; Label5 reads "Version " + VersionText.
  std::string VersionText;

  void FormShow();

  QLabel* Image2;
  QLabel* Image3;
  QLabel* Label3;
  QLabel* Label4;
  QLabel* Label5;
  QLabel* Label6;
  TURLLabel* URLLabel1;
  QPushButton* OKButton;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QLabel* MakeLabel(const char* name, const QString& text, int x, int y);
};

}  // namespace tarnex::ui
