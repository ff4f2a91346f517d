#include "platform/clock.h"

#include <gtest/gtest.h>

#include <cmath>

namespace tarnex::platform {
namespace {

TEST(Clock, FormatsDayCounts) {
  struct Case {
    double days;
    const char* text;
  } cases[] = {
      {0.0, "1899/12/30 00:00:00"},
      {1.5, "1899/12/31 12:00:00"},
      {46362.0 + (19 * 3600 + 48 * 60 + 27) / 86400.0, "2026/12/06 19:48:27"},
      {25569.0 + 0.99999999, "1970/01/01 23:59:59"},
      {25569.0 + 0.999999999, "1970/01/02 00:00:00"},  // rounds to the next millisecond
  };
  for (const auto& c : cases) EXPECT_EQ(FormatDateTime(c.days), c.text) << c.days;
}

TEST(Clock, NowIsTodayLocallyAndTicksAdvance) {
  double now = Now();
  EXPECT_GT(now, 46000.0);  // after 2025
  std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  double fraction = now - std::floor(now);
  double expected = (local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec) / 86400.0;
  EXPECT_NEAR(fraction, expected, 5.0 / 86400.0);
  int64_t a = MonotonicMs();
  uint32_t tick = TickCount();
  EXPECT_GE(MonotonicMs(), a);
  EXPECT_EQ(static_cast<uint32_t>(MonotonicMs()) - tick < 1000u, true);
}

}  // namespace
}  // namespace tarnex::platform
