// A wait for descriptors (a child's pipes) that lets the thread's message loop run meanwhile,
// so that timers fire, posted calls run and the desktop stays live, and that any of them can
// end by calling Cancel: the wait then raises EAbortError.
#pragma once

#include <poll.h>

#include <span>
#include <string>

namespace tarnex::platform {

class CancellableWait {
 public:
  // Ends the wait in progress, or the next one when none is (until Reset).
  void Cancel() { canceled_ = true; }
  void Reset() { canceled_ = false; }
  bool Canceled() const { return canceled_; }

  // Waits until one of `fds` is ready (their revents are filled in), dispatching the loop
  // meanwhile. Raises EAbortError(`aborted`) when Cancel came before or during the wait; the
  // cancel is then used up.
  void Wait(std::span<pollfd> fds, const std::string& aborted);
  // Raises EAbortError(`aborted`) when a cancel is pending, using it up.
  void ThrowIfCanceled(const std::string& aborted);

 private:
  bool canceled_ = false;
};

}  // namespace tarnex::platform
