#include "platform/child_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string_view>

#include "platform/cancellable_wait.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/loop_timer.h"
#include "platform/message_loop.h"

namespace tarnex::platform {
namespace {

// Everything the child writes on `stream` (1 or 2) until it closes it, waiting through the
// loop at most `limit_ms`.
std::string ReadToEnd(ChildProcess& child, int stream, int limit_ms = 5000) {
  std::string text;
  const int64_t end = MonotonicMs() + limit_ms;
  char buffer[4096];
  while (MonotonicMs() < end) {
    const PipeResult got = stream == 1 ? child.ReadSome(buffer) : child.ReadErrorSome(buffer);
    if (got.state == PipeResult::State::Moved) {
      text.append(buffer, got.count);
    } else if (got.WouldBlock()) {
      pollfd fd{stream == 1 ? child.OutputDescriptor() : child.ErrorDescriptor(), POLLIN, 0};
      MessageLoop::Current().WaitAndProcess(50, {&fd, 1});
    } else {
      break;
    }
  }
  return text;
}

// Waits (bounded) until the child has ended.
std::optional<ChildExit> ReapWithin(ChildProcess& child, int limit_ms = 5000) {
  const int64_t end = MonotonicMs() + limit_ms;
  while (!child.TryReap() && MonotonicMs() < end) ::usleep(1000);
  return child.Exit();
}

TEST(ChildProcess, EchoesWhatItIsGivenAndEndsAtTheEndOfItsInput) {
  ChildProcess child = ChildProcess::Start({"cat"});
  const PipeResult sent = child.WriteSome("hello\n");
  ASSERT_EQ(sent.state, PipeResult::State::Moved);
  EXPECT_EQ(sent.count, 6u);
  child.CloseInput();
  EXPECT_EQ(ReadToEnd(child, 1), "hello\n");
  EXPECT_EQ(ReapWithin(child), (ChildExit{0, 0}));
}

TEST(ChildProcess, GatheredPiecesAndFileBytesArriveInTheirOrderOverAPipeOrASocket) {
  FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  std::fputs("0123456789", file);
  std::fflush(file);
  for (const ChildProcess::InputKind kind :
       {ChildProcess::InputKind::Pipe, ChildProcess::InputKind::Socket}) {
    SCOPED_TRACE(kind == ChildProcess::InputKind::Pipe ? "pipe" : "socket");
    ChildProcess child = ChildProcess::Start({"cat"}, {}, kind);
    EXPECT_GE(child.GrowPipes(1024 * 1024), 64u * 1024);
    const std::string_view pieces[] = {"a", "", "bc"};
    const PipeResult sent = child.WriteSome(std::span<const std::string_view>(pieces));
    ASSERT_EQ(sent.state, PipeResult::State::Moved);
    EXPECT_EQ(sent.count, 3u);
    int64_t offset = 2;
    const PipeResult moved = child.SpliceIntoInput(::fileno(file), offset, 5);
    ASSERT_EQ(moved.state, PipeResult::State::Moved);
    EXPECT_EQ(moved.count, 5u);
    EXPECT_EQ(offset, 7);
    offset = 10;  // the file's end: nothing there
    EXPECT_EQ(child.SpliceIntoInput(::fileno(file), offset, 5).state, PipeResult::State::End);
    EXPECT_EQ(offset, 10);
    EXPECT_EQ(child.WriteSome("!").count, 1u);
    child.CloseInput();
    EXPECT_EQ(ReadToEnd(child, 1), "abc23456!");
    EXPECT_EQ(ReapWithin(child), (ChildExit{0, 0}));
  }
  std::fclose(file);
}

TEST(ChildProcess, StandardErrorAndExitCodeAreItsOwn) {
  ChildProcess child =
      ChildProcess::Start({"sh", "-c", "echo to-out; echo \"$TARNEX_WORD\" >&2; exit 3"},
                          {{"TARNEX_WORD", "from-extra"}, {"HOME", "/nowhere"}});
  EXPECT_EQ(ReadToEnd(child, 1), "to-out\n");
  EXPECT_EQ(ReadToEnd(child, 2), "from-extra\n");
  const std::optional<ChildExit> exit = ReapWithin(child);
  ASSERT_TRUE(exit);
  EXPECT_EQ(exit->code, 3);
  EXPECT_EQ(exit->Describe(), "exit status 3");
}

TEST(ChildProcess, AProgramThatCannotStartIsAnExceptionNotAnExitCode) {
  struct Case {
    std::vector<std::string> argv;
    std::string message;
  };
  const Case cases[] = {
      {{"tarnex-no-such-program"}, "Cannot start tarnex-no-such-program: no such program in PATH"},
      {{"/nonexistent/tool"}, "Cannot start /nonexistent/tool: No such file or directory"},
      {{"/etc/passwd"}, "Cannot start /etc/passwd: Permission denied"},
      {{}, "Cannot start a program without a name"},
  };
  for (const Case& c : cases) {
    try {
      ChildProcess::Start(c.argv);
      ADD_FAILURE() << c.message;
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
  }
}

TEST(ChildProcess, KeepsNoDescriptorSignalMaskOrIgnoredSignalOfOurs) {
  const int stray = ::open("/dev/null", O_RDONLY);  // not close-on-exec
  ASSERT_GE(stray, 0);
  sigset_t usr1;
  sigemptyset(&usr1);
  sigaddset(&usr1, SIGUSR1);
  sigset_t old_mask;
  pthread_sigmask(SIG_BLOCK, &usr1, &old_mask);
  struct sigaction ignore {}, old_action{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGUSR2, &ignore, &old_action);

  ChildProcess fds = ChildProcess::Start({"ls", "/proc/self/fd"});
  ChildProcess status = ChildProcess::Start({"cat", "/proc/self/status"});
  pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  sigaction(SIGUSR2, &old_action, nullptr);
  ::close(stray);

  // ls sees its three pipes and the folder it reads.
  EXPECT_EQ(ReadToEnd(fds, 1), "0\n1\n2\n3\n");
  const std::string text = ReadToEnd(status, 1);
  EXPECT_NE(text.find("SigBlk:\t0000000000000000\n"), std::string::npos) << text;
  EXPECT_NE(text.find("SigIgn:\t0000000000000000\n"), std::string::npos) << text;
}

TEST(ChildProcess, AChildThatIgnoresSigtermIsKilledAfterTheGrace) {
  ChildProcess child = ChildProcess::Start({"sh", "-c", "trap '' TERM; echo ready; read x"});
  // The trap is in place once it says so.
  std::string ready;
  char buffer[16];
  const int64_t end = MonotonicMs() + 5000;
  while (ready.find('\n') == std::string::npos && MonotonicMs() < end) {
    const PipeResult got = child.ReadSome(buffer);
    if (got.state == PipeResult::State::Moved) ready.append(buffer, got.count);
    pollfd fd{child.OutputDescriptor(), POLLIN, 0};
    ::poll(&fd, 1, 50);
  }
  ASSERT_EQ(ready, "ready\n");
  const ChildExit exit = child.Terminate(/*grace_ms=*/50);
  EXPECT_EQ(exit.signal, SIGKILL);
  EXPECT_EQ(exit.code, -1);
}

TEST(ChildProcess, DestructionLeavesNoZombieAndWritesAfterTheEndFailQuietly) {
  pid_t pid = -1;
  FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  std::fputs(std::string(65536, 'f').c_str(), file);
  std::fflush(file);
  for (const ChildProcess::InputKind kind :
       {ChildProcess::InputKind::Pipe, ChildProcess::InputKind::Socket}) {
    ChildProcess child = ChildProcess::Start({"sh", "-c", "exit 0"}, {}, kind);
    pid = child.Pid();
    ASSERT_TRUE(ReapWithin(child));
    // Its input has no reader now: EPIPE, and no SIGPIPE ends this test.
    PipeResult sent = PipeResult::Moved(0);
    for (int i = 0; i < 100 && sent.state != PipeResult::State::Failed; ++i) {
      sent = child.WriteSome(std::string(65536, 'x'));
    }
    EXPECT_EQ(sent.state, PipeResult::State::Failed);
    EXPECT_EQ(sent.error, EPIPE);
    int64_t offset = 0;
    const PipeResult spliced = child.SpliceIntoInput(::fileno(file), offset, 65536);
    EXPECT_EQ(spliced.state, PipeResult::State::Failed);
    EXPECT_EQ(spliced.error, EPIPE);
  }
  std::fclose(file);
  {
    ChildProcess running = ChildProcess::Start({"cat"});
    pid = running.Pid();
  }
  EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  EXPECT_EQ(::kill(pid, 0), -1);
}

TEST(CancellableWait, ACancelFromAPostedCallOrATimerEndsTheWait) {
  ChildProcess silent = ChildProcess::Start({"cat"});  // writes nothing until it is fed
  CancellableWait wait;
  pollfd fd{silent.OutputDescriptor(), POLLIN, 0};

  MessageLoop::Current().Post([&] { wait.Cancel(); });
  EXPECT_THROW(wait.Wait({&fd, 1}, "posted"), EAbortError);

  LoopTimer timer(5, [&] { wait.Cancel(); });
  timer.SetEnabled(true);
  try {
    wait.Wait({&fd, 1}, "timed out");
    ADD_FAILURE();
  } catch (const EAbortError& e) {
    EXPECT_EQ(e.Message(), "timed out");
  }
  timer.SetEnabled(false);
  // The cancel was used up: a ready descriptor ends the next wait as usual.
  ASSERT_EQ(silent.WriteSome("x").state, PipeResult::State::Moved);
  wait.Wait({&fd, 1}, "not cancelled");
  EXPECT_TRUE(fd.revents & POLLIN);
}

TEST(FindProgram, LooksInEachFolderOfThePathInTurn) {
  EXPECT_EQ(FindProgram("sh", "/nonexistent:/bin"), "/bin/sh");
  EXPECT_EQ(FindProgram("./x", "/bin"), "./x");
  EXPECT_EQ(FindProgram("passwd", "/etc"), std::nullopt);  // there, but not executable
  EXPECT_EQ(FindProgram("", "/bin"), std::nullopt);
}

}  // namespace
}  // namespace tarnex::platform
