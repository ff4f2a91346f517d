#include "ui/loop_pump.h"

#include <poll.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <stdexcept>

#include "ui/slot_guard.h"

namespace tarnex::ui {
namespace {

uint32_t EpollEvents(short poll_events) {
  uint32_t events = 0;
  if (poll_events & POLLIN) events |= EPOLLIN;
  if (poll_events & POLLPRI) events |= EPOLLPRI;
  if (poll_events & POLLOUT) events |= EPOLLOUT;
  if (poll_events & POLLRDHUP) events |= EPOLLRDHUP;
  return events;
}

// Sets a flag for the length of a scope, whatever leaves it.
class FlagScope {
 public:
  explicit FlagScope(bool& flag) : flag_(flag) { flag_ = true; }
  ~FlagScope() { flag_ = false; }
  FlagScope(const FlagScope&) = delete;
  FlagScope& operator=(const FlagScope&) = delete;

 private:
  bool& flag_;
};

}  // namespace

QtLoopPump::QtLoopPump(platform::MessageLoop& loop, QObject* parent)
    : QObject(parent), loop_(loop), epoll_fd_(::epoll_create1(EPOLL_CLOEXEC)) {
  if (epoll_fd_ < 0) throw std::runtime_error("epoll_create1 failed");
  notifier_ = new QSocketNotifier(epoll_fd_, QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] { DispatchIdle(); });
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, [this] { DispatchIdle(); });
  resync_timer_.setSingleShot(true);
  resync_timer_.setInterval(0);
  connect(&resync_timer_, &QTimer::timeout, this, [this] { Resync(); });
  loop_.SetToolkitHook([this] { ToolkitTurn(); });
  Resync();
}

QtLoopPump::~QtLoopPump() {
  loop_.SetToolkitHook(nullptr);
  delete notifier_;  // before the descriptor it watches goes
  notifier_ = nullptr;
  ::close(epoll_fd_);
}

void QtLoopPump::ToolkitTurn() {
  if (dispatching_ || depth_ >= kMaxDepth) return;
  if (depth_ == 0) Suspend();  // the waiting core polls its descriptors itself
  ++depth_;
  struct Leave {
    QtLoopPump& pump;
    ~Leave() {
      if (--pump.depth_ == 0) pump.resync_timer_.start();
    }
  } leave{*this};
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtLoopPump::Suspend() {
  notifier_->setEnabled(false);
  timer_.stop();
  resync_timer_.stop();
}

void QtLoopPump::DispatchIdle() {
  if (depth_ > 0 || dispatching_) return;
  {
    // The hook gives Qt no nested turn from here: Qt's loop is already on the stack.
    FlagScope scope(dispatching_);
    Guard([this] { loop_.ProcessMessages(); });
  }
  Resync();
}

void QtLoopPump::Resync() {
  if (depth_ > 0) return;
  std::map<int, uint32_t> wanted;
  for (const pollfd& fd : loop_.Descriptors()) wanted[fd.fd] |= EpollEvents(fd.events);
  for (const auto& [fd, events] : watched_) {
    // A descriptor already closed has left the set by itself; the error is expected then.
    if (!wanted.contains(fd)) ::epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, fd, nullptr);
  }
  for (const auto& [fd, events] : wanted) {
    // Always MOD first: a number closed and reused since the last look is no longer in the
    // set, even when the events asked for are the same.
    epoll_event event{};
    event.events = events;
    event.data.fd = fd;
    if (::epoll_ctl(epoll_fd_, EPOLL_CTL_MOD, fd, &event) != 0 && errno == ENOENT) {
      ::epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, fd, &event);
    }
  }
  watched_ = std::move(wanted);
  notifier_->setEnabled(true);
  const int next_timer = loop_.MillisecondsToNextTimer();
  if (next_timer < 0) {
    timer_.stop();
  } else {
    timer_.start(next_timer);
  }
}

}  // namespace tarnex::ui
