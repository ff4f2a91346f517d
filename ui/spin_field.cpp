#include "ui/spin_field.h"

#include <QLineEdit>
#include <QRegularExpression>
#include <algorithm>

#include "ui/slot_guard.h"

namespace tarnex::ui {

SpinField::SpinField(settings::SpinRange range, QWidget* parent)
    : QAbstractSpinBox(parent), range_(range) {
  setButtonSymbols(QAbstractSpinBox::UpDownArrows);
  setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
  lineEdit()->setText(QString::number(range_.min));
  connect(lineEdit(), &QLineEdit::textChanged, this, [this] {
    if (!stepping_) Changed();
  });
}

int SpinField::Value() const {
  return range_.ValueFromText(lineEdit()->text().toStdString());
}

void SpinField::SetValue(int value) {
  lineEdit()->setText(QString::number(range_.Clamp(value)));
}

void SpinField::SelectFromCaret() {
  QLineEdit* edit = lineEdit();
  const int start = edit->hasSelectedText() ? edit->selectionStart() : edit->cursorPosition();
  const int length = std::min(99, static_cast<int>(edit->text().size()) - start);
  if (length > 0) {
    edit->setSelection(start, length);
  } else {
    edit->setCursorPosition(start);
  }
}

void SpinField::stepBy(int steps) {
  const long long next =
      static_cast<long long>(Value()) + static_cast<long long>(steps) * range_.step;
  stepping_ = true;
  SetValue(static_cast<int>(std::clamp<long long>(next, range_.min, range_.max)));
  stepping_ = false;
  lineEdit()->setCursorPosition(0);
  Changed();
}

QAbstractSpinBox::StepEnabled SpinField::stepEnabled() const {
  if (!isEnabled() || isReadOnly()) return StepNone;
  return StepUpEnabled | StepDownEnabled;
}

QValidator::State SpinField::validate(QString& input, int&) const {
  // Digits and signs only, as a number is typed; whether it is a number is read later.
  static const QRegularExpression allowed(QStringLiteral("^[0-9+\\-]*$"));
  return allowed.match(input).hasMatch() ? QValidator::Acceptable : QValidator::Invalid;
}

void SpinField::fixup(QString&) const {}

void SpinField::focusOutEvent(QFocusEvent* event) {
  QAbstractSpinBox::focusOutEvent(event);
  const QString clamped = QString::number(range_.Clamp(Value()));
  if (lineEdit()->text() != clamped) lineEdit()->setText(clamped);
}

void SpinField::Changed() {
  if (OnChange) Guard(OnChange);
}

}  // namespace tarnex::ui
