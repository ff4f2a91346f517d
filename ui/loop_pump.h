// Qt and the core's message loop share the one thread.
//
// Inside every wait of the core (a running script, an FTP operation) the loop calls its toolkit
// hook, and the hook gives Qt its turn with processEvents(): the window repaints, the status
// bar follows the transfer and the close box works while a script runs.
//
// While nothing in the core waits, Qt's own event loop runs and the core's loop is driven from
// it: the loop's descriptors sit in one epoll set, with exactly the poll events the loop asks
// for (peer hang-up included), watched by a single socket notifier; the loop's next timer is a
// single-shot QTimer. Either one dispatches the loop once and re-arms both. Nothing polls.
#pragma once

#include <QObject>
#include <QTimer>
#include <map>

#include "platform/message_loop.h"

class QSocketNotifier;

namespace tarnex::ui {

class QtLoopPump : public QObject {
 public:
  explicit QtLoopPump(platform::MessageLoop& loop, QObject* parent = nullptr);
  // Removes the hook: the core's waits no longer give Qt a turn.
  ~QtLoopPump() override;
  QtLoopPump(const QtLoopPump&) = delete;
  QtLoopPump& operator=(const QtLoopPump&) = delete;

  // Dispatches what is due on the loop, as Qt's loop does when a descriptor or the timer is
  // ready. Does nothing inside a wait of the core, which dispatches by itself.
  void DispatchIdle();
  // Watches the loop's descriptors and next timer as they are now.
  void Resync();

  // How many core waits are giving Qt a turn right now (0 when Qt's own loop runs).
  int Depth() const { return depth_; }

 private:
  // Deep enough for a question asked while a transfer is cancelled inside a run; a deeper
  // wait still dispatches the core, only without Qt's turn.
  static constexpr int kMaxDepth = 4;

  void ToolkitTurn();
  void Suspend();

  platform::MessageLoop& loop_;
  int epoll_fd_ = -1;
  std::map<int, uint32_t> watched_;  // descriptor -> epoll events
  QSocketNotifier* notifier_ = nullptr;
  QTimer timer_;         // the loop's next timer
  QTimer resync_timer_;  // back to idle watching once the outermost wait is over
  int depth_ = 0;
  bool dispatching_ = false;
};

}  // namespace tarnex::ui
