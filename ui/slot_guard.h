// No exception may cross Qt's event loop. Every slot and event handler that can fail runs its
// work through Guard, which hands whatever escapes to the application's error handler: the
// main window's AppException, which writes the error to the execution log.
#pragma once

#include <exception>
#include <functional>
#include <utility>

namespace tarnex::ui {

using ErrorHandler = std::function<void(std::exception_ptr)>;

// Installs the handler of errors that nothing else caught; an empty handler removes it.
void SetApplicationErrorHandler(ErrorHandler handler);
// Passes `error` to the installed handler, or to standard error when there is none.
void HandleApplicationError(std::exception_ptr error) noexcept;

template <typename Fn>
void Guard(Fn&& fn) noexcept {
  try {
    std::forward<Fn>(fn)();
  } catch (...) {
    HandleApplicationError(std::current_exception());
  }
}

// A guarded slot for connect(): the signal's arguments are dropped.
template <typename Fn>
auto Guarded(Fn fn) {
  return [fn = std::move(fn)]() { Guard(fn); };
}

}  // namespace tarnex::ui
