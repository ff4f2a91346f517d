// The status bar Stbar: four panels of fixed width (50, 90, 120, 50), the first two centred.
// Panel texts are kept as the core wrote them (CP932) and shown converted; each panel's
// tooltip shows its whole text, which a narrow panel may cut off.
#pragma once

#include <QStatusBar>
#include <array>
#include <string>

class QLabel;

namespace tarnex::ui {

class TStatusPanels : public QStatusBar {
 public:
  static constexpr int kPanels = 4;

  explicit TStatusPanels(QWidget* parent = nullptr);

  // Empty for a panel that does not exist.
  std::string Text(int panel) const;
  void SetText(int panel, const std::string& cp932_text);
  QLabel* Panel(int panel) const;

 private:
  std::array<std::string, kPanels> texts_;
  std::array<QLabel*, kPanels> labels_{};
};

}  // namespace tarnex::ui
