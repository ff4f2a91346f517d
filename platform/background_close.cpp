#include "platform/background_close.h"

#include <unistd.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

namespace tarnex::platform {
namespace {

class BackgroundCloser {
 public:
  BackgroundCloser() = default;
  BackgroundCloser(const BackgroundCloser&) = delete;
  BackgroundCloser& operator=(const BackgroundCloser&) = delete;

  // What was handed over is closed before the program ends.
  ~BackgroundCloser() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    work_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

  void Close(int fd) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!thread_.joinable()) {
        try {
          thread_ = std::thread([this] { Run(); });
        } catch (const std::system_error&) {
          // No thread to be had: the caller waits for the close instead.
          ::close(fd);
          return;
        }
      }
      pending_.push_back(fd);
    }
    work_.notify_all();
  }

  void Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [this] { return pending_.empty() && !closing_; });
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      work_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
      if (pending_.empty()) return;  // stopping, and nothing left to close
      const int fd = pending_.front();
      pending_.pop_front();
      closing_ = true;
      lock.unlock();
      ::close(fd);  // a close that fails has still released the descriptor
      lock.lock();
      closing_ = false;
      idle_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable work_;
  std::condition_variable idle_;
  std::deque<int> pending_;
  bool closing_ = false;
  bool stopping_ = false;
  std::thread thread_;
};

BackgroundCloser& Closer() {
  static BackgroundCloser closer;
  return closer;
}

}  // namespace

void CloseInBackground(int fd) {
  if (fd >= 0) Closer().Close(fd);
}

void WaitForBackgroundCloses() { Closer().Wait(); }

}  // namespace tarnex::platform
