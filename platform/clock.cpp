#include "platform/clock.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace tarnex::platform {
namespace {

constexpr int64_t kMsPerDay = 86'400'000;
// 1899-12-30 is day 0 of the day count; it lies 25569 days before 1970-01-01.
constexpr int64_t kUnixEpochDay = 25'569;

}  // namespace

uint32_t TickCount() { return static_cast<uint32_t>(MonotonicMs()); }

int64_t MonotonicMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

double Now() {
  using namespace std::chrono;
  auto now = system_clock::now();
  int64_t ms = duration_cast<milliseconds>(now.time_since_epoch()).count();
  std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm local{};
  localtime_r(&seconds, &local);
  // Shift UTC milliseconds into local wall-clock milliseconds.
  int64_t local_ms = ms + static_cast<int64_t>(local.tm_gmtoff) * 1000;
  int64_t day = local_ms / kMsPerDay;
  int64_t in_day = local_ms % kMsPerDay;
  if (in_day < 0) {
    in_day += kMsPerDay;
    --day;
  }
  return static_cast<double>(day + kUnixEpochDay) + static_cast<double>(in_day) / kMsPerDay;
}

std::string FormatDateTime(double days) {
  using namespace std::chrono;
  double whole = std::floor(days);
  auto total_ms = static_cast<int64_t>(std::llround((days - whole) * kMsPerDay));
  auto day = static_cast<int64_t>(whole);
  if (total_ms >= kMsPerDay) {
    total_ms -= kMsPerDay;
    ++day;
  }
  year_month_day date{sys_days{} + std::chrono::days{day - kUnixEpochDay}};
  int64_t seconds = total_ms / 1000;
  char text[32];
  std::snprintf(text, sizeof text, "%04d/%02u/%02u %02d:%02d:%02d", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(seconds / 3600), static_cast<int>(seconds / 60 % 60),
                static_cast<int>(seconds % 60));
  return text;
}

}  // namespace tarnex::platform
