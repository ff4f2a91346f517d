// A message-loop timer that stops itself when it goes out of scope.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/message_loop.h"

namespace tarnex::platform {

class LoopTimer {
 public:
  LoopTimer(uint32_t interval_ms, std::function<void()> on_timer)
      : interval_ms_(interval_ms), on_timer_(std::move(on_timer)) {}
  ~LoopTimer() { SetEnabled(false); }
  LoopTimer(const LoopTimer&) = delete;
  LoopTimer& operator=(const LoopTimer&) = delete;

  // Enabling starts a fresh interval; the first tick comes one interval later.
  void SetEnabled(bool enabled) {
    if (enabled == (id_ != 0)) return;
    auto& loop = MessageLoop::Current();
    if (enabled) {
      id_ = loop.StartTimer(interval_ms_, [this] { on_timer_(); });
    } else {
      loop.StopTimer(id_);
      id_ = 0;
    }
  }
  bool Enabled() const { return id_ != 0; }

 private:
  uint32_t interval_ms_;
  std::function<void()> on_timer_;
  TimerId id_ = 0;
};

}  // namespace tarnex::platform
