#include "ftpclient/facade_text.h"

#include <gtest/gtest.h>

namespace tarnex {
namespace {

TEST(WaitSpanSeconds, RoundsHalfToEvenWithAtLeastOneSecond) {
  struct Case {
    uint32_t ms;
    int64_t seconds;
  } cases[] = {{0, 1},         {400, 1},         {500, 1},          {1499, 1},
               {1500, 2},      {2500, 2},        {2501, 3},         {3500, 4},
               {10000, 10},    {86'399'499, 86'399}, {86'399'500, 86'399},
               {4'294'967'295u, 86'399}};
  for (const auto& c : cases) EXPECT_EQ(WaitSpanSeconds(c.ms), c.seconds) << c.ms;
}

TEST(SummaryLines, TwoDecimalsAndNoDivisionByZero) {
  EXPECT_EQ(TransferSummaryLine(123456, 2000), "    Transfer End 123456 Byte (61728.00Byte/sec)");
  EXPECT_EQ(RetrieveSummaryLine(5000, 2000), "    Retrived End 5000 Byte (2500.00Byte/sec)");
  EXPECT_EQ(RetrieveSummaryLine(0, 1000), "    Retrived End 0 Byte (0.00Byte/sec)");
  EXPECT_EQ(RetrieveSummaryLine(7, 0), "    Retrived End 7 Byte (7000.00Byte/sec)");
  EXPECT_EQ(TransferSummaryLine(1, 3), "    Transfer End 1 Byte (333.33Byte/sec)");
  EXPECT_EQ(TransferSummaryLine(5'000'000'000, 1000),
            "    Transfer End 5000000000 Byte (5000000000.00Byte/sec)");
}

TEST(RoundedRate, HalfToEven) {
  EXPECT_EQ(RoundedRate(TransferRate(2500, 1000)), 2500);
  EXPECT_EQ(RoundedRate(TransferRate(5, 2000)), 2);
  EXPECT_EQ(RoundedRate(TransferRate(7, 2000)), 4);
  EXPECT_EQ(RoundedRate(TransferRate(123456, 2000)), 61728);
  EXPECT_EQ(RoundedRate(TransferRate(0, 0)), 0);
}

TEST(DebugTraceLine, PadsTheTickToFiveDigits) {
  EXPECT_EQ(DebugTraceLine(1234, "ChangeDir Send  pub"), "D*01234:ChangeDir Send  pub");
  EXPECT_EQ(DebugTraceLine(123456, "x"), "D*123456:x");
  EXPECT_EQ(DebugTraceLine(0, ""), "D*00000:");
  EXPECT_EQ(DebugTraceLine(0xFFFFFFFFu, "x"), "D*-00001:x");  // the tick is shown signed
}

}  // namespace
}  // namespace tarnex
