// Everything runs on one thread: a wait dispatches the thread's message loop, and never hands
// over to another thread. An object that must only be used there remembers the thread that
// made it, and debug builds check it where a use begins.
#pragma once

#include <cassert>
#include <thread>

namespace tarnex::platform {

class OwningThread {
 public:
  void Check() const { assert(std::this_thread::get_id() == owner_ && "used from another thread"); }

 private:
  std::thread::id owner_ = std::this_thread::get_id();
};

}  // namespace tarnex::platform
