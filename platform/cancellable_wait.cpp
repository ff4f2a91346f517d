#include "platform/cancellable_wait.h"

#include "platform/errors.h"
#include "platform/message_loop.h"

namespace tarnex::platform {
namespace {

// A ready descriptor, a due timer or a posted call ends a wait slice at once; the slice only
// says how often a wait with nothing to do gives a toolkit its turn.
constexpr int kWaitSliceMs = 10;

bool AnyReady(std::span<pollfd> fds) {
  for (const pollfd& fd : fds) {
    if (fd.revents != 0) return true;
  }
  return false;
}

}  // namespace

void CancellableWait::ThrowIfCanceled(const std::string& aborted) {
  if (!canceled_) return;
  canceled_ = false;
  throw EAbortError(aborted);
}

void CancellableWait::Wait(std::span<pollfd> fds, const std::string& aborted) {
  for (pollfd& fd : fds) fd.revents = 0;
  while (true) {
    ThrowIfCanceled(aborted);
    MessageLoop::Current().WaitAndProcess(kWaitSliceMs, fds);
    // A handler run by this dispatch may have cancelled: that wins over what is ready.
    ThrowIfCanceled(aborted);
    if (AnyReady(fds)) return;
  }
}

}  // namespace tarnex::platform
