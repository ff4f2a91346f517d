#include "text/datetime_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

namespace tarnex {
namespace {

constexpr int kYear = 2024;
constexpr double kDay = 86400000.0;  // milliseconds

TEST(TryStrToDateTime, ConvertsDatesAndTimes) {
  const std::vector<std::pair<std::string, double>> cases = {
      {"00:00:01", 1000 / kDay},
      {"00:00:10", 10000 / kDay},
      {"12:00", 0.5},
      {"0:0:1", 1000 / kDay},
      {"  06:00:00  ", 0.25},
      {"23:59:59.999", 86399999 / kDay},
      {"00:00:01.5", 1500 / kDay},  // the digits after the point are a fraction of a second
      {"00:00:00.05", 50 / kDay},
      {"1899/12/30", 0.0},
      {"1899/12/29", -1.0},
      {"1900/01/01", 2.0},
      {"2024/01/01", 45292.0},
      {"2024/2/29 12:00", 45351.5},
      {"2024/01/01   06:00:00", 45292.25},
      {"24/1/1", 45292.0},  // a 2-digit year is in the current century
      {"01/01", 45292.0},   // month and day in the current year
      {" 3/1 ", 45352.0},
  };
  for (const auto& [text, days] : cases) {
    const auto value = TryStrToDateTime(text, kYear);
    ASSERT_TRUE(value.has_value()) << text;
    EXPECT_EQ(*value, days) << text;
  }
}

TEST(TryStrToDateTime, RejectsWhatIsNoDateOrTime) {
  const std::vector<std::string> cases = {
      // nothing, words, signs, tabs
      "", "   ", "ten", "+1:00", "-0:00:01", "\t00:00:01", "12",
      // times out of range or malformed
      "25:00:00", "24:00", "12:60", "12:00:60", "123:00", "12:", "1:2:3:4", "00:00:01.",
      "00:00:01.1234",
      // dates that do not exist or are malformed
      "2023/02/29", "2024/13/01", "2024/00/10", "2024/01/32", "2024/04/31", "0000/01/01",
      "12345/01/01", "2024-01-01", "123/01", "2024/01", "2024/",
      // trailing garbage and wrong order
      "00:00:01x", "00:00:01 x", "2024/01/01x", "2024/01/0112:00", "2024/01/01 25:00",
      "12:00 2024/01/01"};
  for (const auto& text : cases) EXPECT_FALSE(TryStrToDateTime(text, kYear).has_value()) << text;
}

TEST(TryStrToDateTime, TakesTheYearFromTheClockWhenNotGiven) {
  const auto value = TryStrToDateTime("00:00:01");
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(*value, 1000 / kDay);
  EXPECT_TRUE(TryStrToDateTime("1/1").has_value());
}

TEST(DateTimeToMilliseconds, RoundsToTheNearestMillisecond) {
  const std::vector<std::pair<double, int64_t>> cases = {
      {1000 / kDay, 1000},
      {3000 / kDay, 3000},
      {0.5, 43200000},
      {-0.5, -43200000},
      {45292.25, 45292LL * 86400000 + 21600000},
      {1e300, std::numeric_limits<int64_t>::max()},
      {-1e300, std::numeric_limits<int64_t>::min()},
      {std::nan(""), 0},
  };
  for (const auto& [days, ms] : cases) EXPECT_EQ(DateTimeToMilliseconds(days), ms) << days;
}

TEST(WaitTimerSteps, OneStepPerSecondAndOneForAFraction) {
  const std::vector<std::pair<std::string, int64_t>> cases = {
      {"00:00:00", 0},     {"00:00:01", 1},     {"00:00:03", 3},
      {"00:00:10", 10},    {"00:01:00", 60},    {"00:00:00.5", 1},
      {"00:00:01.001", 2}, {"00:00:02.999", 3}, {"1900/01/01", 2 * 86400},
  };
  for (const auto& [text, steps] : cases) {
    const auto value = TryStrToDateTime(text, kYear);
    ASSERT_TRUE(value.has_value()) << text;
    EXPECT_EQ(WaitTimerSteps(*value), steps) << text;
  }
  EXPECT_EQ(WaitTimerSteps(-1.0), 0);
  EXPECT_EQ(WaitTimerSteps(0.0), 0);
}

// Day fractions of whole seconds are rarely exact; the count must not drift by one.
TEST(WaitTimerSteps, ExactlyNStepsForEveryWholeSecondOfADay) {
  char text[16];
  for (int second = 0; second < 86400; ++second) {
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", second / 3600, second / 60 % 60,
                  second % 60);
    const auto value = TryStrToDateTime(text, kYear);
    ASSERT_TRUE(value.has_value()) << text;
    ASSERT_EQ(WaitTimerSteps(*value), second) << text;
  }
}

}  // namespace
}  // namespace tarnex
