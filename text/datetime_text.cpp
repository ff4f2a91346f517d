#include "text/datetime_text.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <limits>

namespace tarnex {
namespace {

constexpr double kMillisecondsPerDay = 86400000.0;

// A cursor over the text; every Scan* call either consumes what it read or fails.
struct Scanner {
  std::string_view text;
  std::size_t pos = 0;

  bool AtEnd() const { return pos >= text.size(); }
  bool IsDigitAt(std::size_t i) const {
    return i < text.size() && text[i] >= '0' && text[i] <= '9';
  }

  // Skips ASCII spaces; true when there was at least one.
  bool SkipBlanks() {
    const std::size_t start = pos;
    while (!AtEnd() && text[pos] == ' ') ++pos;
    return pos > start;
  }

  bool ScanChar(char c) {
    if (AtEnd() || text[pos] != c) return false;
    ++pos;
    return true;
  }

  // A run of 1 to max_digits digits that is not followed by a further digit.
  struct Number {
    int value;
    int digits;
  };
  std::optional<Number> ScanNumber(int max_digits) {
    Number number{0, 0};
    while (IsDigitAt(pos)) {
      if (++number.digits > max_digits) return std::nullopt;
      number.value = number.value * 10 + (text[pos] - '0');
      ++pos;
    }
    if (number.digits == 0) return std::nullopt;
    return number;
  }
};

// yyyy/mm/dd or mm/dd, as days since 1899-12-30.
std::optional<int64_t> ScanDate(Scanner& scanner, int current_year) {
  const auto first = scanner.ScanNumber(4);
  if (!first || !scanner.ScanChar('/')) return std::nullopt;
  const auto second = scanner.ScanNumber(2);
  if (!second) return std::nullopt;
  int year = current_year;
  int month = 0;
  int day = 0;
  if (scanner.ScanChar('/')) {
    const auto third = scanner.ScanNumber(2);
    if (!third) return std::nullopt;
    year = first->value;
    if (first->digits <= 2) year += current_year / 100 * 100;
    month = second->value;
    day = third->value;
  } else {
    if (first->digits > 2) return std::nullopt;
    month = first->value;
    day = second->value;
  }
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return std::nullopt;
  const std::chrono::year_month_day date{std::chrono::year{year},
                                         std::chrono::month{static_cast<unsigned>(month)},
                                         std::chrono::day{static_cast<unsigned>(day)}};
  if (!date.ok()) return std::nullopt;  // 2023/02/29, 2024/04/31, ...
  constexpr std::chrono::sys_days kEpoch = std::chrono::year{1899} / std::chrono::December / 30;
  return (std::chrono::sys_days{date} - kEpoch).count();
}

// h:nn[:ss[.zzz]], as milliseconds since midnight.
std::optional<int64_t> ScanTime(Scanner& scanner) {
  const auto hours = scanner.ScanNumber(2);
  if (!hours || hours->value > 23 || !scanner.ScanChar(':')) return std::nullopt;
  const auto minutes = scanner.ScanNumber(2);
  if (!minutes || minutes->value > 59) return std::nullopt;
  int seconds = 0;
  int milliseconds = 0;
  if (scanner.ScanChar(':')) {
    const auto whole = scanner.ScanNumber(2);
    if (!whole || whole->value > 59) return std::nullopt;
    seconds = whole->value;
    if (scanner.ScanChar('.')) {
      const auto fraction = scanner.ScanNumber(3);
      if (!fraction) return std::nullopt;
      milliseconds = fraction->value;
      for (int digits = fraction->digits; digits < 3; ++digits) milliseconds *= 10;
    }
  }
  return ((int64_t{hours->value} * 60 + minutes->value) * 60 + seconds) * 1000 + milliseconds;
}

int CurrentLocalYear() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local.tm_year + 1900;
}

}  // namespace

std::optional<double> TryStrToDateTime(std::string_view text, int current_year) {
  Scanner scanner{text};
  scanner.SkipBlanks();
  bool converted = false;
  double days = 0.0;

  const std::size_t start = scanner.pos;
  if (const auto date = ScanDate(scanner, current_year)) {
    converted = true;
    days = static_cast<double>(*date);
    // A time may follow, but only after a blank.
    if (!scanner.SkipBlanks() && !scanner.AtEnd()) return std::nullopt;
  } else {
    scanner.pos = start;
  }

  if (!scanner.AtEnd()) {
    const auto time = ScanTime(scanner);
    if (!time) return std::nullopt;
    converted = true;
    days += static_cast<double>(*time) / kMillisecondsPerDay;
    scanner.SkipBlanks();
  }

  if (!converted || !scanner.AtEnd()) return std::nullopt;
  return days;
}

std::optional<double> TryStrToDateTime(std::string_view text) {
  return TryStrToDateTime(text, CurrentLocalYear());
}

int64_t DateTimeToMilliseconds(double days) {
  const double milliseconds = std::round(days * kMillisecondsPerDay);
  // 2^63 is exact as a double; anything at or beyond it saturates.
  constexpr double kLimit = 9223372036854775808.0;
  if (std::isnan(milliseconds)) return 0;
  if (milliseconds >= kLimit) return std::numeric_limits<int64_t>::max();
  if (milliseconds <= -kLimit) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(milliseconds);
}

int64_t WaitTimerSteps(double days) {
  const int64_t milliseconds = DateTimeToMilliseconds(days);
  if (milliseconds <= 0) return 0;
  return milliseconds / 1000 + (milliseconds % 1000 != 0 ? 1 : 0);
}

}  // namespace tarnex
