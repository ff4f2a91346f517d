// The thread's message loop: the stand-in for window messages. Timers fire, socket
// notifications are delivered and posted calls run only from ProcessMessages(), so that every
// handler runs on the one thread, inside the waits of whatever operation is in progress.
#pragma once

#include <poll.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

namespace tarnex::platform {

using TimerId = uint64_t;

class MessageLoop {
 public:
  // The loop of the calling thread.
  static MessageLoop& Current();

  MessageLoop();
  ~MessageLoop();
  MessageLoop(const MessageLoop&) = delete;
  MessageLoop& operator=(const MessageLoop&) = delete;

  // A periodic timer. It fires at most once per dispatch however late it is, never while its
  // own handler runs, and only from ProcessMessages().
  TimerId StartTimer(uint32_t interval_ms, std::function<void()> on_timer);
  void StopTimer(TimerId id);

  // Runs `call` from a later ProcessMessages() of this loop's thread. Safe from any thread.
  void Post(std::function<void()> call);

  // Socket notifications: `notify` receives poll's revents for `fd` whenever one of `events`
  // is pending at a dispatch. The owner narrows `events` to stop repeated notifications.
  using SocketNotify = std::function<void(short revents)>;
  void WatchSocket(int fd, short events, SocketNotify notify);
  void SetSocketEvents(int fd, short events);
  void UnwatchSocket(int fd);

  // Called once per ProcessMessages() so that a GUI toolkit gets its turn.
  void SetToolkitHook(std::function<void()> hook);

  // Dispatches what is due now: socket notifications, due timers, posted calls, the toolkit.
  void ProcessMessages();
  // The same for a loop that moves data as fast as it can (a transfer): dispatches only when
  // the last dispatch is a few milliseconds old or a timer is due, so that the data moves
  // with no system call of the loop's in between, yet timers, posted calls and the toolkit
  // still get their turn many times a second.
  void ProcessMessagesIfDue();

  // Waits up to `max_ms` (less when a timer falls due first) until a watched socket, one of
  // `extra` or a posted call is ready, then dispatches. Returns the revents of `extra`.
  void WaitAndProcess(int max_ms, std::span<pollfd> extra = {});

  // Milliseconds until the next timer is due (0 when one is overdue, -1 when none runs).
  int MillisecondsToNextTimer() const;
  // The descriptors a toolkit should watch to call ProcessMessages() when something arrives.
  std::vector<pollfd> Descriptors() const;

 private:
  struct Timer {
    uint32_t interval_ms;
    int64_t due_ms;
    std::shared_ptr<std::function<void()>> on_timer;
    bool firing = false;
  };
  struct Watch {
    short events;
    uint64_t generation;
    std::shared_ptr<SocketNotify> notify;
  };

  // The watched sockets that ask for something, and the registration each belongs to.
  void CollectWatches(std::vector<pollfd>& fds, std::vector<uint64_t>& generations) const;
  // Delivers the revents of `fds` (as CollectWatches made them) to their registrations.
  void DeliverSockets(const std::vector<pollfd>& fds, const std::vector<uint64_t>& generations,
                      size_t first);
  void DispatchSockets();
  // Everything but the sockets, which the caller has dispatched.
  void DispatchTheRest();
  void DispatchTimers();
  void DispatchPosted();
  void DrainWakeup();

  std::map<TimerId, Timer> timers_;
  TimerId next_timer_id_ = 1;
  std::map<int, Watch> watches_;
  uint64_t next_generation_ = 1;
  std::function<void()> toolkit_hook_;

  std::mutex posted_mutex_;
  std::deque<std::function<void()>> posted_;
  int wakeup_fd_ = -1;  // eventfd: a posted call ends a wait at once
  std::atomic<bool> wakeup_pending_{false};  // the eventfd holds a count to read
  int64_t last_dispatch_ms_ = 0;
};

// Dispatches what is due on the calling thread's loop.
inline void ProcessMessages() { MessageLoop::Current().ProcessMessages(); }

}  // namespace tarnex::platform
