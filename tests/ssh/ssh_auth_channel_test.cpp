#include "ssh/ssh_auth_channel.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "platform/message_loop.h"
#include "ssh/ssh_helper_path.h"
#include "tests/ssh/dispatching_run.h"

namespace tarnex::ssh {
namespace {

using testing::DispatchedRun;
using testing::RunDispatching;

constexpr char kPassword[] = "s3cret pass";
constexpr char kPin[] = "SHA256:eCV+S6kb9vbJ/vVrGToP+BDoo/4S1Rpz/AXa+Qw8pU4";
constexpr char kOther[] = "SHA256:jb9EVzACdSG7ssf9mJ7U8NFKFvVt5fQO0ULkzPQmnlQ";

DispatchedRun RunHelper(const SshAuthChannel& channel, std::vector<std::string> args) {
  args.insert(args.begin(), FindSshHelper());
  return RunDispatching({.argv = args, .env = {{kChannelVariable, channel.SocketPath()}}});
}

int ExitCode(const DispatchedRun& run) {
  return run.status && WIFEXITED(*run.status) ? WEXITSTATUS(*run.status) : -1;
}

TEST(SshAuthChannel, GivesThePasswordToAPasswordPromptOnly) {
  struct Prompt {
    std::vector<std::string> args;  // as ssh runs SSH_ASKPASS, or by the mode's name
    bool with_password;
    std::string out;
    int exit_code;
  };
  const Prompt prompts[] = {
      {{"root@127.0.0.1's password: "}, true, std::string(kPassword) + "\n", 0},
      {{"askpass", "root@127.0.0.1's password: "}, true, std::string(kPassword) + "\n", 0},
      {{"Password:"}, true, std::string(kPassword) + "\n", 0},
      {{"root@127.0.0.1's password: "}, false, "", 1},
      {{"Enter passphrase for key '/root/.ssh/id_ed25519': "}, true, "", 1},
      {{"Enter passphrase for key '/tmp/password:': "}, true, "", 1},
      {{"Are you sure you want to continue connecting (yes/no/[fingerprint])? "}, true, "", 1},
  };
  for (const Prompt& p : prompts) {
    SCOPED_TRACE(p.args.back());
    SshAuthChannel channel(p.with_password ? std::optional<std::string>(kPassword) : std::nullopt);
    const DispatchedRun run = RunHelper(channel, p.args);
    EXPECT_EQ(run.out, p.out);
    EXPECT_EQ(ExitCode(run), p.exit_code);
    EXPECT_EQ(channel.PasswordsGiven() + channel.PromptsRefused(), 1);
  }
}

TEST(SshAuthChannel, RecordsTheOfferedKeyAndVouchesOnlyForThePin) {
  SshAuthChannel channel(std::nullopt);
  const std::string key = "AAAAC3NzaC1lZDI1NTE5AAAAIO/8OzQUjKw822AJUDevqcjFaWc5NLydriXOrYiI2y9g";
  struct Call {
    std::vector<std::string> args;
    std::string out;
  };
  const Call calls[] = {
      // ssh's first run orders its algorithms, before any key is offered.
      {{"known-hosts", "--pin", kPin, "127.0.0.1", "NONE", "NONE", "NONE"}, ""},
      {{"known-hosts", "--pin", kPin, "[127.0.0.1]:2222", "ssh-ed25519", key, kPin},
       "[127.0.0.1]:2222 ssh-ed25519 " + key + "\n"},
      {{"known-hosts", "--pin", kPin, "[127.0.0.1]:2222", "ssh-ed25519", key, kOther}, ""},
      {{"known-hosts", "[127.0.0.1]:2222", "ssh-ed25519", key, kPin}, ""},
  };
  for (const Call& call : calls) {
    const DispatchedRun run = RunHelper(channel, call.args);
    EXPECT_EQ(run.out, call.out) << call.args.back();
    EXPECT_EQ(ExitCode(run), 0);
  }
  // Each key once, in the order offered.
  EXPECT_EQ(channel.OfferedKeys(),
            (std::vector<HostKeyReport>{{"[127.0.0.1]:2222", "ssh-ed25519", kPin},
                                        {"[127.0.0.1]:2222", "ssh-ed25519", kOther}}));
}

TEST(SshAuthChannel, LivesInAPrivateFolderThatGoesWithIt) {
  std::string folder;
  {
    SshAuthChannel channel(kPassword);
    folder = std::filesystem::path(channel.SocketPath()).parent_path();
    struct stat info {};
    ASSERT_EQ(::stat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(info.st_uid, ::geteuid());
  }
  EXPECT_FALSE(std::filesystem::exists(folder));
}

TEST(SshAuthChannel, TurnsAwayAnotherUser) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to be another user";
  SshAuthChannel channel(kPassword);
  // Somebody opened the folder up: the peer check still holds.
  const std::string folder = std::filesystem::path(channel.SocketPath()).parent_path();
  ASSERT_EQ(::chmod(folder.c_str(), 0711), 0);
  ASSERT_EQ(::chmod(channel.SocketPath().c_str(), 0777), 0);
  int answer_pipe[2];
  ASSERT_EQ(::pipe(answer_pipe), 0);
  const std::string request = EncodeRequest(AskpassRequest{"root@h's password: "});
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, channel.SocketPath().c_str(), sizeof address.sun_path - 1);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // As "nobody": ask, and hand whatever comes back to the test.
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) ::_exit(4);
    // The channel may have hung up before the request is written: that is its refusal too.
    (void)::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    ::shutdown(fd, SHUT_WR);
    char block[256];
    ssize_t n;
    while ((n = ::read(fd, block, sizeof block)) > 0) {
      if (::write(answer_pipe[1], block, static_cast<size_t>(n)) < 0) ::_exit(6);
    }
    ::_exit(0);
  }
  ::close(answer_pipe[1]);
  std::string answer;
  int status = -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (::waitpid(child, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() < deadline) {
    platform::MessageLoop::Current().WaitAndProcess(20);
  }
  char block[256];
  for (ssize_t n; (n = ::read(answer_pipe[0], block, sizeof block)) > 0;) answer.append(block, n);
  ::close(answer_pipe[0]);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(answer, "");
  EXPECT_EQ(channel.PeersRefused(), 1);
  EXPECT_EQ(channel.PasswordsGiven(), 0);
}

TEST(SshChannelProtocol, ReadsOnlyWellFormedRequests) {
  const HostKeyReport key{"h", "ssh-rsa", kPin};
  EXPECT_EQ(DecodeRequest(EncodeRequest(key)), ChannelRequest(key));
  EXPECT_EQ(DecodeRequest(EncodeRequest(AskpassRequest{"a\nb"})), ChannelRequest(AskpassRequest{"a\nb"}));
  for (const std::string& bad : std::vector<std::string>{"", "hello", "hostkey\nh\nt", "hostkey\nh\nt\nf\nmore",
                                "askpass\n" + std::string(kMaxRequestBytes, 'x')}) {
    EXPECT_FALSE(DecodeRequest(bad)) << bad.substr(0, 20);
  }
}

TEST(SshHelperPath, TheVariableFirstThenTheBuildTreeForItsProgramsThenTheInstalledOne) {
  const HelperPlaces base{.program_folder = "/b/tests/ssh",
                          .build_tree = "/b",
                          .in_build_tree = "/b/ssh/tarnex-ssh-helper",
                          .installed = "/usr/libexec/tarnex/tarnex-ssh-helper"};
  HelperPlaces places = base;
  EXPECT_EQ(ChooseSshHelper(places), "/b/ssh/tarnex-ssh-helper");
  places.from_environment = "/opt/h";
  EXPECT_EQ(ChooseSshHelper(places), "/opt/h");
  for (const char* folder : {"/usr/bin", "/bin", "/b2/app"}) {
    places = base;
    places.program_folder = folder;
    EXPECT_EQ(ChooseSshHelper(places), "/usr/libexec/tarnex/tarnex-ssh-helper") << folder;
  }
  EXPECT_TRUE(std::filesystem::exists(FindSshHelper())) << FindSshHelper();
}

}  // namespace
}  // namespace tarnex::ssh
