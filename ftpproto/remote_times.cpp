#include "ftpproto/remote_times.h"

#include <cstdio>

#include "ftpproto/reply_parsing.h"

namespace tarnex {
namespace {

constexpr int64_t kSecondsPerDay = 86400;

// Days since 1970-01-01 of a civil date (the well-known era-based conversion).
int64_t DaysFromCivil(int64_t year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t year_of_era = year - era * 400;
  const int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

struct Civil {
  int64_t year;
  int month;
  int day;
};

Civil CivilFromDays(int64_t days) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t day_of_era = days - era * 146097;
  const int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const int64_t day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const int64_t mp = (5 * day_of_year + 2) / 153;
  const int day = static_cast<int>(day_of_year - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  return {year_of_era + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

bool IsLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// The number written by `count` digits at `at`; -1 when one of them is no digit.
int Digits(std::string_view text, size_t at, size_t count) {
  int value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

}  // namespace

int64_t UtcSeconds(int year, int month, int day, int hour, int minute, int second) {
  return DaysFromCivil(year, month, day) * kSecondsPerDay + hour * 3600 + minute * 60 + second;
}

std::optional<int64_t> ParseFtpTime(std::string_view text) {
  if (text.size() < 14) return std::nullopt;
  if (text.size() > 14) {
    // Only a fraction may follow: "." and at least one digit.
    if (text[14] != '.' || text.size() == 15) return std::nullopt;
    for (char c : text.substr(15)) {
      if (c < '0' || c > '9') return std::nullopt;
    }
  }
  const int year = Digits(text, 0, 4);
  const int month = Digits(text, 4, 2);
  const int day = Digits(text, 6, 2);
  const int hour = Digits(text, 8, 2);
  const int minute = Digits(text, 10, 2);
  int second = Digits(text, 12, 2);
  if (year < 1970 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) ||
      hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 60) {
    return std::nullopt;
  }
  if (second == 60) second = 59;
  return UtcSeconds(year, month, day, hour, minute, second);
}

std::optional<int64_t> ParseMdtmReply(std::string_view reply) {
  if (ValidReplyCode(reply) != int16_t{213} || reply.size() < 5) return std::nullopt;
  std::string_view time = reply.substr(4);
  while (!time.empty() && (time.back() == '\n' || time.back() == '\r' || time.back() == ' ')) {
    time.remove_suffix(1);
  }
  while (!time.empty() && time.front() == ' ') time.remove_prefix(1);
  return ParseFtpTime(time);
}

std::string FormatFtpTime(int64_t seconds) {
  int64_t days = seconds / kSecondsPerDay;
  int64_t rest = seconds % kSecondsPerDay;
  if (rest < 0) {
    rest += kSecondsPerDay;
    --days;
  }
  const Civil date = CivilFromDays(days);
  char text[32];
  std::snprintf(text, sizeof text, "%04lld%02d%02d%02d%02d%02d", static_cast<long long>(date.year),
                date.month, date.day, static_cast<int>(rest / 3600),
                static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60));
  return text;
}

}  // namespace tarnex
