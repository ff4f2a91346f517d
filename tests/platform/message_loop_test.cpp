#include "platform/message_loop.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "platform/clock.h"

namespace tarnex::platform {
namespace {

// Runs the loop until `done` or the deadline; bounded.
template <typename Pred>
bool PumpUntil(Pred done, int limit_ms = 3000) {
  int64_t end = MonotonicMs() + limit_ms;
  while (!done()) {
    if (MonotonicMs() > end) return false;
    MessageLoop::Current().WaitAndProcess(5);
  }
  return true;
}

TEST(MessageLoop, TimersFireOnlyFromDispatchAndNotReentrantly) {
  auto& loop = MessageLoop::Current();
  int fired = 0;
  TimerId id = loop.StartTimer(20, [&] {
    ++fired;
    loop.ProcessMessages();  // a nested dispatch must not fire the same timer again
  });
  ::usleep(60'000);
  EXPECT_EQ(fired, 0);  // nothing happens without dispatch
  loop.ProcessMessages();
  EXPECT_EQ(fired, 1);  // late ticks coalesce into one
  EXPECT_TRUE(PumpUntil([&] { return fired >= 3; }));
  loop.StopTimer(id);
  int after = fired;
  ::usleep(40'000);
  loop.ProcessMessages();
  EXPECT_EQ(fired, after);
}

TEST(MessageLoop, ATimerMayStopItself) {
  auto& loop = MessageLoop::Current();
  int fired = 0;
  TimerId id = 0;
  id = loop.StartTimer(1, [&] {
    ++fired;
    loop.StopTimer(id);
  });
  EXPECT_TRUE(PumpUntil([&] { return fired == 1; }));
  ::usleep(5'000);
  loop.ProcessMessages();
  EXPECT_EQ(fired, 1);
}

TEST(MessageLoop, PostedCallsFromOtherThreadsRunInOrderAndWakeAWait) {
  auto& loop = MessageLoop::Current();
  std::vector<int> order;
  std::thread worker([&loop, &order] {
    for (int i = 0; i < 3; ++i) loop.Post([&order, i] { order.push_back(i); });
  });
  worker.join();
  int64_t start = MonotonicMs();
  loop.WaitAndProcess(2000);
  EXPECT_LT(MonotonicMs() - start, 1000);
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
}

TEST(MessageLoop, SocketNotificationsFollowTheWatchedEvents) {
  auto& loop = MessageLoop::Current();
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair), 0);
  int reads = 0;
  loop.WatchSocket(pair[0], POLLIN, [&](short revents) {
    if (revents & POLLIN) ++reads;
    loop.SetSocketEvents(pair[0], 0);  // like a one-shot read notification
  });
  loop.ProcessMessages();
  EXPECT_EQ(reads, 0);
  ASSERT_EQ(::write(pair[1], "x", 1), 1);
  int64_t start = MonotonicMs();
  loop.WaitAndProcess(2000);
  EXPECT_LT(MonotonicMs() - start, 1000);  // the wait ends when the socket is ready
  EXPECT_EQ(reads, 1);
  loop.ProcessMessages();
  EXPECT_EQ(reads, 1);  // narrowed: no repeat although the byte is still there
  loop.SetSocketEvents(pair[0], POLLIN);
  loop.ProcessMessages();
  EXPECT_EQ(reads, 2);
  loop.UnwatchSocket(pair[0]);
  loop.ProcessMessages();
  EXPECT_EQ(reads, 2);
  ::close(pair[0]);
  ::close(pair[1]);
}

TEST(MessageLoop, ToolkitHookGetsATurnPerDispatch) {
  auto& loop = MessageLoop::Current();
  int turns = 0;
  loop.SetToolkitHook([&] { ++turns; });
  loop.ProcessMessages();
  loop.WaitAndProcess(1);
  loop.SetToolkitHook(nullptr);
  loop.ProcessMessages();
  EXPECT_EQ(turns, 2);
}

TEST(MessageLoop, AWaitWithNothingToDoCostsAlmostNoCpu) {
  auto cpu = [] {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_utime.tv_sec * 1000000L + usage.ru_utime.tv_usec +
           usage.ru_stime.tv_sec * 1000000L + usage.ru_stime.tv_usec;
  };
  long before = cpu();
  int64_t end = MonotonicMs() + 300;
  while (MonotonicMs() < end) MessageLoop::Current().WaitAndProcess(100);
  // Blocking, not spinning: far below the 300 ms that a spin would burn.
  EXPECT_LT(cpu() - before, 100'000);
}

}  // namespace
}  // namespace tarnex::platform
