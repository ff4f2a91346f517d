// TThreadTimer: a timer whose ticks arrive through the thread's message loop, so its handler
// runs inside whatever wait is dispatching at that moment.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>

#include "platform/message_loop.h"

namespace tarnex {

class TThreadTimer {
 public:
  using NotifyEvent = std::function<void(TThreadTimer& sender)>;

  explicit TThreadTimer(platform::MessageLoop& loop = platform::MessageLoop::Current());
  ~TThreadTimer();
  TThreadTimer(const TThreadTimer&) = delete;
  TThreadTimer& operator=(const TThreadTimer&) = delete;

  // Each setter re-arms the timer, but only when the value really changes: enabling a
  // timer that already runs with the same interval leaves it counting from its first start.
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  uint32_t Interval() const { return interval_; }
  void SetInterval(uint32_t milliseconds);
  const NotifyEvent& OnTimer() const { return on_timer_; }
  void SetOnTimer(NotifyEvent handler);

  // Receives what the OnTimer handler throws, so that a failing handler does not break the
  // wait that dispatched it. Without it the error goes on to the dispatching code.
  std::function<void(std::exception_ptr)> OnException;

  // True while a loop timer is counting.
  bool Running() const { return timer_id_ != 0; }

 private:
  // Stops the loop timer and starts it again when Interval, Enabled and OnTimer allow.
  void Rearm();
  void Tick();

  platform::MessageLoop& loop_;
  bool enabled_ = true;
  uint32_t interval_ = 1000;
  NotifyEvent on_timer_;
  platform::TimerId timer_id_ = 0;
};

}  // namespace tarnex
