#include "socket/thread_timer.h"

#include <new>

#include "platform/errors.h"

namespace tarnex {

TThreadTimer::TThreadTimer(platform::MessageLoop& loop) : loop_(loop) {}

TThreadTimer::~TThreadTimer() {
  if (timer_id_ != 0) loop_.StopTimer(timer_id_);
}

void TThreadTimer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  Rearm();
}

void TThreadTimer::SetInterval(uint32_t milliseconds) {
  if (milliseconds == interval_) return;
  interval_ = milliseconds;
  Rearm();
}

void TThreadTimer::SetOnTimer(NotifyEvent handler) {
  on_timer_ = std::move(handler);
  Rearm();
}

void TThreadTimer::Rearm() {
  if (timer_id_ != 0) {
    loop_.StopTimer(timer_id_);
    timer_id_ = 0;
  }
  if (interval_ == 0 || !enabled_ || !on_timer_) return;
  try {
    timer_id_ = loop_.StartTimer(interval_, [this] { Tick(); });
  } catch (const std::bad_alloc&) {
    throw Exception("No Timer");
  }
}

void TThreadTimer::Tick() {
  if (!on_timer_) return;
  auto handler = on_timer_;  // the handler may replace itself
  if (!OnException) {
    handler(*this);
    return;
  }
  try {
    handler(*this);
  } catch (...) {
    OnException(std::current_exception());
  }
}

}  // namespace tarnex
