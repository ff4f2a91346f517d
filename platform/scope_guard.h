// Runs a piece of clean-up when the scope it was made in is left, however it is left.
//
//   list_in_progress_ = true;
//   ScopeExit clear([&] { list_in_progress_ = false; });
#pragma once

#include <utility>

namespace tarnex {

template <typename Action>
class ScopeExit {
 public:
  explicit ScopeExit(Action action) : action_(std::move(action)) {}
  ~ScopeExit() {
    if (armed_) action_();
  }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

  // The clean-up is not wanted any more (the work it undoes was kept).
  void Dismiss() { armed_ = false; }

 private:
  Action action_;
  bool armed_ = true;
};

}  // namespace tarnex
