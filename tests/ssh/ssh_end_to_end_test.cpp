// ssh itself, run with the plan's argv and environment against the fixture's sshd, answered by
// the channel and the real helper: the SFTP VERSION packet arrives, or the failure says why.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "sftp/sftp_protocol.h"
#include "sftp/sftp_requests.h"
#include "ssh/ssh_auth_channel.h"
#include "ssh/ssh_failure.h"
#include "ssh/ssh_helper_path.h"
#include "ssh/ssh_launch_plan.h"
#include "tests/ssh/dispatching_run.h"
#include "tests/support/sshd_server.h"
#include "tests/support/temp_dir.h"

namespace tarnex::ssh {
namespace {

using testing::PasswordUser;
using testing::SshAgent;
using testing::SshdServer;
using testing::SshKeyKind;
using testing::TempDir;

// Whether `out` starts with a whole SSH_FXP_VERSION packet.
bool HasVersion(const std::string& out) {
  if (out.size() < 5) return false;
  const uint32_t length = (uint32_t(uint8_t(out[0])) << 24) | (uint32_t(uint8_t(out[1])) << 16) |
                          (uint32_t(uint8_t(out[2])) << 8) | uint32_t(uint8_t(out[3]));
  return uint8_t(out[4]) == sftp::SSH_FXP_VERSION && out.size() >= 4 + size_t(length);
}

struct Outcome {
  bool version = false;
  std::vector<std::string> message;  // the failure's, when there is no VERSION
  std::vector<HostKeyReport> offered;
  int passwords_given = 0;
};

class SshLogin : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::string why = SshdServer::UnavailableReason(); !why.empty()) FAIL() << why;
    sshd_ = std::make_unique<SshdServer>();
    // An empty config: the machine's ~/.ssh/config has no say.
    std::ofstream(dir_ / "ssh_config");
    std::ofstream(dir_ / "known_hosts");
  }

  SshOptions Options() const {
    return {.known_hosts_file = dir_ / "known_hosts", .config_file = dir_ / "ssh_config"};
  }
  SshTarget Target(std::string user = "root") const {
    return {.host = "127.0.0.1", .port = sshd_->Port(), .user = std::move(user),
            .timeout_seconds = 20};
  }
  // The host key as a line of known_hosts.
  void KnowHostKey() {
    std::ifstream pub(sshd_->Dir() / "host_ed25519.pub");
    std::string type, key;
    pub >> type >> key;
    std::ofstream(dir_ / "known_hosts")
        << "[127.0.0.1]:" << sshd_->Port() << " " << type << " " << key << "\n";
  }

  Outcome Login(const SshOptions& options, SshTarget target,
                std::optional<std::string> password = std::nullopt,
                std::vector<std::pair<std::string, std::string>> env = {}) {
    target.password_given = password.has_value();
    SshAuthChannel channel(password);
    const SshLaunchPlan plan = MakeSshLaunchPlan(
        options, target,
        {.ssh_program = "/usr/bin/ssh", .helper = FindSshHelper(),
         .channel_socket = channel.SocketPath()});
    EXPECT_TRUE(plan.Ok()) << plan.error;
    env.insert(env.end(), plan.env.begin(), plan.env.end());
    std::vector<std::string> unset = {"DISPLAY", "SSH_ASKPASS", "SSH_ASKPASS_REQUIRE"};
    const bool with_agent = std::any_of(env.begin(), env.end(),
                                        [](const auto& v) { return v.first == "SSH_AUTH_SOCK"; });
    if (!with_agent) unset.push_back("SSH_AUTH_SOCK");
    const auto run = testing::RunDispatching({.argv = plan.argv,
                                              .env = env,
                                              .unset = unset,
                                              .input = sftp::EncodeInit(),
                                              .enough = HasVersion});
    Outcome outcome;
    outcome.version = HasVersion(run.out);
    outcome.offered = channel.OfferedKeys();
    outcome.passwords_given = channel.PasswordsGiven();
    if (!outcome.version) {
      outcome.message = DescribeSshFailure({.host = target.host, .port = target.port,
                                            .stderr_lines = run.err_lines,
                                            .offered_keys = channel.OfferedKeys(),
                                            .host_key_pin = options.host_key_pin});
    }
    return outcome;
  }

  static std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += line + "\n";
    return text;
  }

  TempDir dir_;
  std::unique_ptr<SshdServer> sshd_;
};

TEST_F(SshLogin, WithAKeyFileOfEitherKind) {
  KnowHostKey();
  for (SshKeyKind kind : {SshKeyKind::kEd25519, SshKeyKind::kRsa}) {
    SshOptions options = Options();
    options.key_file = sshd_->UserKey(kind);
    const Outcome outcome = Login(options, Target());
    EXPECT_TRUE(outcome.version) << Joined(outcome.message);
    // The offered key was reported, and is the server's.
    ASSERT_EQ(outcome.offered.size(), 1u);
    EXPECT_EQ(outcome.offered[0].fingerprint, sshd_->HostKeyFingerprint());
  }
}

TEST_F(SshLogin, WithAKeyFromTheAgent) {
  KnowHostKey();
  SshAgent agent(sshd_->UserKey(SshKeyKind::kEd25519));
  const Outcome outcome = Login(Options(), Target(), std::nullopt, {{"SSH_AUTH_SOCK", agent.Socket()}});
  EXPECT_TRUE(outcome.version) << Joined(outcome.message);
}

TEST_F(SshLogin, WithAPasswordThroughTheChannelAndRefusedWithAWrongOne) {
  KnowHostKey();
  PasswordUser user;
  Outcome outcome = Login(Options(), Target(PasswordUser::kName), user.Password());
  EXPECT_TRUE(outcome.version) << Joined(outcome.message);
  EXPECT_EQ(outcome.passwords_given, 1);

  outcome = Login(Options(), Target(PasswordUser::kName), "not-" + user.Password());
  EXPECT_FALSE(outcome.version);
  EXPECT_EQ(outcome.message,
            std::vector<std::string>{"Login refused: tarnex-sftp-test@127.0.0.1: Permission "
                                     "denied (publickey,password)."});
}

TEST_F(SshLogin, AnUnknownHostKeyFailsAndIsNamed) {
  SshOptions options = Options();
  options.key_file = sshd_->UserKey(SshKeyKind::kEd25519);
  const Outcome outcome = Login(options, Target());
  EXPECT_FALSE(outcome.version);
  ASSERT_FALSE(outcome.message.empty());
  EXPECT_EQ(outcome.message[0], "Host key of 127.0.0.1:" + std::to_string(sshd_->Port()) +
                                    " is not known: " + sshd_->HostKeyFingerprint() +
                                    " (ED25519)");
}

TEST_F(SshLogin, APinnedKeyIsTrustedAloneAndAnotherPinFails) {
  SshOptions options = Options();
  options.key_file = sshd_->UserKey(SshKeyKind::kEd25519);
  options.host_key_pin = sshd_->HostKeyFingerprint();
  Outcome outcome = Login(options, Target());
  EXPECT_TRUE(outcome.version) << Joined(outcome.message);

  options.host_key_pin = "SHA256:jb9EVzACdSG7ssf9mJ7U8NFKFvVt5fQO0ULkzPQmnlQ";
  outcome = Login(options, Target());
  EXPECT_FALSE(outcome.version);
  ASSERT_FALSE(outcome.message.empty());
  EXPECT_NE(outcome.message[0].find("is not the pinned key: it offered " +
                                    sshd_->HostKeyFingerprint()),
            std::string::npos)
      << Joined(outcome.message);
}

TEST_F(SshLogin, AcceptNewRemembersTheFirstKeyAndAChangedKeyStillFailsLoudly) {
  SshOptions options = Options();
  options.key_file = sshd_->UserKey(SshKeyKind::kEd25519);
  options.accept_new = true;
  Outcome outcome = Login(options, Target());
  EXPECT_TRUE(outcome.version) << Joined(outcome.message);
  std::stringstream known;
  known << std::ifstream(dir_ / "known_hosts").rdbuf();
  EXPECT_EQ(known.str().rfind("[127.0.0.1]:" + std::to_string(sshd_->Port()) + " ssh-ed25519 ", 0), 0u)
      << known.str();

  sshd_->ChangeHostKey();
  for (bool accept_new : {true, false}) {
    options.accept_new = accept_new;
    outcome = Login(options, Target());
    EXPECT_FALSE(outcome.version);
    const std::string text = Joined(outcome.message);
    EXPECT_EQ(text.rfind("HOST KEY OF 127.0.0.1:" + std::to_string(sshd_->Port()) + " HAS CHANGED", 0), 0u)
        << text;
    EXPECT_NE(text.find(sshd_->HostKeyFingerprint()), std::string::npos) << text;
  }
}

}  // namespace
}  // namespace tarnex::ssh
