#include "platform/message_loop.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

#include "platform/clock.h"

namespace tarnex::platform {

MessageLoop& MessageLoop::Current() {
  thread_local MessageLoop loop;
  return loop;
}

MessageLoop::MessageLoop() : wakeup_fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  if (wakeup_fd_ < 0) throw std::runtime_error("eventfd failed");
}

MessageLoop::~MessageLoop() { ::close(wakeup_fd_); }

TimerId MessageLoop::StartTimer(uint32_t interval_ms, std::function<void()> on_timer) {
  TimerId id = next_timer_id_++;
  timers_[id] = Timer{interval_ms, MonotonicMs() + interval_ms,
                      std::make_shared<std::function<void()>>(std::move(on_timer))};
  return id;
}

void MessageLoop::StopTimer(TimerId id) { timers_.erase(id); }

void MessageLoop::Post(std::function<void()> call) {
  {
    std::lock_guard lock(posted_mutex_);
    posted_.push_back(std::move(call));
  }
  wakeup_pending_.store(true, std::memory_order_release);
  uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(wakeup_fd_, &one, sizeof one);
}

void MessageLoop::WatchSocket(int fd, short events, SocketNotify notify) {
  watches_[fd] = Watch{events, next_generation_++,
                       std::make_shared<SocketNotify>(std::move(notify))};
}

void MessageLoop::SetSocketEvents(int fd, short events) {
  auto it = watches_.find(fd);
  if (it != watches_.end()) it->second.events = events;
}

void MessageLoop::UnwatchSocket(int fd) { watches_.erase(fd); }

void MessageLoop::SetToolkitHook(std::function<void()> hook) { toolkit_hook_ = std::move(hook); }

void MessageLoop::ProcessMessages() {
  DispatchSockets();
  DispatchTheRest();
}

void MessageLoop::ProcessMessagesIfDue() {
  constexpr int64_t kBusyDispatchMs = 5;
  if (MonotonicMs() - last_dispatch_ms_ < kBusyDispatchMs && MillisecondsToNextTimer() != 0 &&
      !wakeup_pending_.load(std::memory_order_acquire)) {
    return;
  }
  ProcessMessages();
}

void MessageLoop::DispatchTheRest() {
  last_dispatch_ms_ = MonotonicMs();
  DispatchTimers();
  DispatchPosted();
  if (toolkit_hook_) {
    auto hook = toolkit_hook_;  // the hook may replace itself
    hook();
  }
}

void MessageLoop::CollectWatches(std::vector<pollfd>& fds,
                                 std::vector<uint64_t>& generations) const {
  for (const auto& [fd, watch] : watches_) {
    if (watch.events == 0) continue;
    fds.push_back(pollfd{fd, watch.events, 0});
    generations.push_back(watch.generation);
  }
}

void MessageLoop::DispatchSockets() {
  if (watches_.empty()) return;
  std::vector<pollfd> fds;
  std::vector<uint64_t> generations;
  fds.reserve(watches_.size());
  CollectWatches(fds, generations);
  if (fds.empty() || ::poll(fds.data(), fds.size(), 0) <= 0) return;
  DeliverSockets(fds, generations, 0);
}

void MessageLoop::DeliverSockets(const std::vector<pollfd>& fds,
                                 const std::vector<uint64_t>& generations, size_t first) {
  for (size_t i = 0; i < generations.size(); ++i) {
    const pollfd& polled = fds[first + i];
    if (polled.revents == 0) continue;
    // A handler may have closed or replaced a socket that was ready: deliver only to the
    // registration that was polled, and only events it still asks for.
    auto it = watches_.find(polled.fd);
    if (it == watches_.end() || it->second.generation != generations[i]) continue;
    short revents = polled.revents & (it->second.events | POLLERR | POLLHUP | POLLNVAL);
    if (revents == 0) continue;
    auto notify = it->second.notify;
    (*notify)(revents);
  }
}

void MessageLoop::DispatchTimers() {
  if (timers_.empty()) return;
  int64_t now = MonotonicMs();
  std::vector<TimerId> due;
  for (const auto& [id, timer] : timers_) {
    if (timer.due_ms <= now && !timer.firing) due.push_back(id);
  }
  for (TimerId id : due) {
    auto it = timers_.find(id);
    if (it == timers_.end() || it->second.firing) continue;
    it->second.due_ms = MonotonicMs() + it->second.interval_ms;
    it->second.firing = true;
    auto on_timer = it->second.on_timer;
    try {
      (*on_timer)();
    } catch (...) {
      auto again = timers_.find(id);
      if (again != timers_.end()) again->second.firing = false;
      throw;
    }
    auto again = timers_.find(id);
    if (again != timers_.end()) again->second.firing = false;
  }
}

void MessageLoop::DrainWakeup() {
  uint64_t count;
  while (::read(wakeup_fd_, &count, sizeof count) > 0) {
  }
}

void MessageLoop::DispatchPosted() {
  // The eventfd is read only when a Post wrote to it: an empty read per dispatch would cost a
  // failing system call for every block of a transfer.
  if (!wakeup_pending_.exchange(false, std::memory_order_acq_rel)) return;
  DrainWakeup();
  std::deque<std::function<void()>> calls;
  {
    std::lock_guard lock(posted_mutex_);
    calls.swap(posted_);
  }
  while (!calls.empty()) {
    auto call = std::move(calls.front());
    calls.pop_front();
    try {
      call();
    } catch (...) {
      // Keep the calls that were not run yet for the next dispatch.
      std::lock_guard lock(posted_mutex_);
      posted_.insert(posted_.begin(), std::make_move_iterator(calls.begin()),
                     std::make_move_iterator(calls.end()));
      throw;
    }
  }
}

int MessageLoop::MillisecondsToNextTimer() const {
  if (timers_.empty()) return -1;
  int64_t next = INT64_MAX;
  for (const auto& [id, timer] : timers_) {
    if (!timer.firing) next = std::min(next, timer.due_ms);
  }
  if (next == INT64_MAX) return -1;
  int64_t left = next - MonotonicMs();
  return left <= 0 ? 0 : static_cast<int>(std::min<int64_t>(left, INT32_MAX));
}

std::vector<pollfd> MessageLoop::Descriptors() const {
  std::vector<pollfd> fds;
  fds.push_back(pollfd{wakeup_fd_, POLLIN, 0});
  for (const auto& [fd, watch] : watches_) {
    if (watch.events != 0) fds.push_back(pollfd{fd, watch.events, 0});
  }
  return fds;
}

void MessageLoop::WaitAndProcess(int max_ms, std::span<pollfd> extra) {
  // One poll for the whole wait: the wake-up descriptor, the watched sockets and the caller's
  // own; its results are what the sockets' notifications are made of (no second poll).
  std::vector<pollfd> fds;
  std::vector<uint64_t> generations;
  fds.reserve(watches_.size() + extra.size() + 1);
  fds.push_back(pollfd{wakeup_fd_, POLLIN, 0});
  CollectWatches(fds, generations);
  const size_t first_extra = fds.size();
  fds.insert(fds.end(), extra.begin(), extra.end());
  int timeout = max_ms < 0 ? 0 : max_ms;
  int to_timer = MillisecondsToNextTimer();
  if (to_timer >= 0) timeout = std::min(timeout, to_timer);
  if (wakeup_pending_.load(std::memory_order_acquire)) timeout = 0;
  int ready;
  do {
    ready = ::poll(fds.data(), fds.size(), timeout);
  } while (ready < 0 && errno == EINTR);
  for (size_t i = 0; i < extra.size(); ++i) extra[i].revents = fds[first_extra + i].revents;
  if (ready > 0) DeliverSockets(fds, generations, 1);
  DispatchTheRest();
}

}  // namespace tarnex::platform
