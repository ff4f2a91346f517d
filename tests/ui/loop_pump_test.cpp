// Qt and the core's loop on one thread: idle dispatch of timers and sockets, and the window
// staying alive while a script runs.
#include <sys/socket.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QTimer>

#include "platform/message_loop.h"
#include "tests/support/real_ftp_server.h"
#include "tests/ui/ui_test_support.h"
#include "ui/log_memo.h"
#include "ui/loop_pump.h"
#include "ui/status_panels.h"

namespace tarnex::ui::testing {
namespace {

class LoopPumpTest : public ::testing::Test {
 protected:
  platform::MessageLoop& loop = platform::MessageLoop::Current();
  QtLoopPump pump{loop};
};

TEST_F(LoopPumpTest, LoopTimersFireWhileQtsOwnLoopRuns) {
  int fired = 0;
  const platform::TimerId id = loop.StartTimer(30, [&] { ++fired; });
  pump.Resync();
  EXPECT_TRUE(WaitUntil([&] { return fired >= 3; }, 3000));
  loop.StopTimer(id);
}

TEST_F(LoopPumpTest, SocketNotificationsAndPostedCallsArriveWhileIdle) {
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  int notified = 0;
  loop.WatchSocket(fds[0], POLLIN, [&](short) {
    char buffer[16];
    [[maybe_unused]] ssize_t n = ::read(fds[0], buffer, sizeof buffer);
    ++notified;
  });
  pump.Resync();
  ASSERT_EQ(::write(fds[1], "x", 1), 1);
  EXPECT_TRUE(WaitUntil([&] { return notified == 1; }, 3000));
  // A call posted from another thread wakes the loop too.
  bool posted = false;
  std::thread([&] { loop.Post([&] { posted = true; }); }).join();
  EXPECT_TRUE(WaitUntil([&] { return posted; }, 3000));
  loop.UnwatchSocket(fds[0]);
  ::close(fds[0]);
  ::close(fds[1]);
}

TEST_F(LoopPumpTest, IdleWaitingDoesNotSpin) {
  // Nothing due: a quarter of a second of Qt's loop costs next to no processor time.
  pump.Resync();
  const std::clock_t start = std::clock();
  QElapsedTimer clock;
  clock.start();
  QEventLoop idle;
  QTimer::singleShot(250, &idle, &QEventLoop::quit);
  idle.exec();
  const double cpu_ms = 1000.0 * static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
  EXPECT_LT(cpu_ms, 100.0);
}

TEST_F(LoopPumpTest, WaitsOfTheCoreGiveQtItsTurn) {
  bool qt_ran = false;
  QTimer::singleShot(0, [&] { qt_ran = true; });
  for (int i = 0; i < 20 && !qt_ran; ++i) loop.WaitAndProcess(10);
  EXPECT_TRUE(qt_ran);
  EXPECT_EQ(pump.Depth(), 0);
}

class ServerTest : public FormsTest {};

TEST_F(ServerTest, AConnectionClosedWhileIdleShowsInTheStatusBar) {
  TARNEX_SKIP_UNLESS_REAL_FTP_SERVER();
  auto server = std::make_unique<tarnex::testing::RealFtpServer>();
  MakeForms();
  const QString script = QStringLiteral("Open 127.0.0.1 NONE %1\nLogin %2 %3")
                             .arg(server->Port())
                             .arg(QString::fromStdString(server->User()))
                             .arg(QString::fromStdString(server->Password()));
  Main().Batmemo->setPlainText(script);
  Main().Run1Click();
  ASSERT_EQ(Main().Stbar->Text(1), "Connect");
  ASSERT_EQ(Main().Stbar->Text(2), "127.0.0.1");
  ASSERT_TRUE(Main().Engine().FConnected);
  server.reset();  // the server goes away while no script runs
  EXPECT_TRUE(WaitUntil([&] { return Main().Stbar->Text(1) == "DisConnect"; }, 10000));
  EXPECT_EQ(Main().Stbar->Text(2), "");
  EXPECT_FALSE(Main().Engine().FConnected);
}

TEST_F(ServerTest, ClosingDuringARunStopsItAfterTheCurrentLine) {
  MakeForms();
  bool closed = false;
  Main().OnClosed = [&] { closed = true; };
  Main().Batmemo->setPlainText(QStringLiteral("WaitTimer 00:00:30\nRem never"));
  // The close box pressed while the script waits: Qt handles it inside the engine's wait.
  QTimer::singleShot(300, &Main(), [&] { Main().close(); });
  dialogs.answers = {platform::MessageResult::Yes};
  QElapsedTimer clock;
  clock.start();
  Main().Run1Click();
  EXPECT_LT(clock.elapsed(), 5000);
  EXPECT_TRUE(closed);
  EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{
                                 "ＦＴＰコマンドスクリプトを実行中です  強制終了していいですか"});
  const std::vector<std::string> log = LogLines();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[1], "WaitTimer 00:00:30");
  EXPECT_EQ(log[2].rfind("<<newfile>> end   ", 0), 0u);
}

}  // namespace
}  // namespace tarnex::ui::testing
