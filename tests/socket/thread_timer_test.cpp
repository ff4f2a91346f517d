#include "socket/thread_timer.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/clock.h"
#include "platform/errors.h"
#include "tests/socket/loopback_peer.h"

namespace tarnex {
namespace {

using testing::Pump;
using testing::PumpUntil;

TEST(ThreadTimer, StartsEnabledWithOneSecondAndRunsOnlyWithAHandler) {
  TThreadTimer timer;
  EXPECT_TRUE(timer.Enabled());
  EXPECT_EQ(timer.Interval(), 1000u);
  EXPECT_FALSE(timer.Running());
  int ticks = 0;
  timer.SetInterval(10);
  timer.SetOnTimer([&](TThreadTimer&) { ++ticks; });
  EXPECT_TRUE(timer.Running());
  EXPECT_TRUE(PumpUntil([&] { return ticks >= 2; }, 2000));
}

TEST(ThreadTimer, NoIntervalOrDisabledMeansNoTicks) {
  int ticks = 0;
  TThreadTimer timer;
  timer.SetOnTimer([&](TThreadTimer&) { ++ticks; });
  timer.SetInterval(0);
  EXPECT_FALSE(timer.Running());
  timer.SetInterval(5);
  timer.SetEnabled(false);
  EXPECT_FALSE(timer.Running());
  Pump(40);
  EXPECT_EQ(ticks, 0);
}

TEST(ThreadTimer, SettingTheSameValuesKeepsTheTimerCountingFromItsStart) {
  int ticks = 0;
  TThreadTimer timer;
  timer.SetInterval(150);
  timer.SetOnTimer([&](TThreadTimer&) { ++ticks; });
  int64_t start = platform::MonotonicMs();
  // Re-enabling with the same interval every 20 ms must not postpone the first tick.
  while (ticks == 0 && platform::MonotonicMs() - start < 2000) {
    timer.SetEnabled(true);
    timer.SetInterval(150);
    Pump(20);
  }
  // Postponed, it would never have come within the loop's 2 s.
  EXPECT_EQ(ticks, 1);
  EXPECT_LT(platform::MonotonicMs() - start, 1500);
}

TEST(ThreadTimer, ChangingTheIntervalStartsAgain) {
  // Judged by when the tick comes, not by how long a pump took: a slow machine may stretch a
  // pump, never move the tick before its due time.
  int ticks = 0;
  int64_t ticked_at = 0;
  TThreadTimer timer;
  timer.SetInterval(600);
  timer.SetOnTimer([&](TThreadTimer&) {
    ++ticks;
    ticked_at = platform::MonotonicMs();
  });
  Pump(50);
  const int64_t changed_at = platform::MonotonicMs();
  timer.SetInterval(601);  // restarts: no tick at the old 600 ms mark
  ASSERT_TRUE(PumpUntil([&] { return ticks == 1; }, 3000));
  EXPECT_GE(ticked_at - changed_at, 600);
}

TEST(ThreadTimer, AFailingHandlerGoesToOnExceptionAndTheTimerGoesOn) {
  int ticks = 0;
  int errors = 0;
  TThreadTimer timer;
  timer.SetInterval(5);
  timer.OnException = [&](std::exception_ptr error) {
    ++errors;
    EXPECT_THROW(std::rethrow_exception(error), std::runtime_error);
  };
  timer.SetOnTimer([&](TThreadTimer&) {
    ++ticks;
    throw std::runtime_error("handler failed");
  });
  EXPECT_NO_THROW(PumpUntil([&] { return ticks >= 2; }, 2000));
  EXPECT_EQ(errors, ticks);
}

TEST(ThreadTimer, WithoutOnExceptionTheErrorReachesTheDispatchingCode) {
  TThreadTimer timer;
  timer.SetInterval(1);
  timer.SetOnTimer([&](TThreadTimer& t) {
    t.SetEnabled(false);
    throw Exception("handler failed");
  });
  EXPECT_THROW(PumpUntil([] { return false; }, 500), Exception);
}

}  // namespace
}  // namespace tarnex
