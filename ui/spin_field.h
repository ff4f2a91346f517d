// A spin field over a SpinRange: the value is the number in its text (the minimum when the
// text is no number); every value set into it is clamped; a value the user types stays as
// typed until the field loses the focus, when it is brought into range.
#pragma once

#include <QAbstractSpinBox>
#include <functional>

#include "settings/options_store.h"

class QLineEdit;

namespace tarnex::ui {

class SpinField : public QAbstractSpinBox {
 public:
  SpinField(settings::SpinRange range, QWidget* parent = nullptr);

  int Value() const;
  void SetValue(int value);
  const settings::SpinRange& Range() const { return range_; }
  QLineEdit* Editor() const { return lineEdit(); }

  // Selects the (at most) 99 characters from the start of the current selection: after a step
  // with the buttons, which leaves the caret at the start, the whole value is selected.
  void SelectFromCaret();

  // After every change of the text, typed or set, with the caret where the change left it.
  std::function<void()> OnChange;

  void stepBy(int steps) override;

 protected:
  StepEnabled stepEnabled() const override;
  QValidator::State validate(QString& input, int& pos) const override;
  void fixup(QString& input) const override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  void Changed();

  settings::SpinRange range_;
  bool stepping_ = false;
};

}  // namespace tarnex::ui
