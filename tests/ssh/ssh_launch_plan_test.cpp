#include "ssh/ssh_launch_plan.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace tarnex::ssh {
namespace {

using Words = std::vector<std::string>;
using Env = std::vector<std::pair<std::string, std::string>>;

const SshPlaces kPlaces{.ssh_program = "/usr/bin/ssh",
                        .helper = "/usr/libexec/tarnex/tarnex-ssh-helper",
                        .channel_socket = "/tmp/tarnex-ssh-x/channel"};
constexpr char kPin[] = "SHA256:eCV+S6kb9vbJ/vVrGToP+BDoo/4S1Rpz/AXa+Qw8pU4";

bool HasRun(const Words& argv, const Words& run) {
  return std::search(argv.begin(), argv.end(), run.begin(), run.end()) != argv.end();
}

bool HasWord(const Words& argv, std::string_view word) {
  return std::find(argv.begin(), argv.end(), word) != argv.end();
}

struct PlanCase {
  const char* what;
  SshOptions options;
  SshTarget target;
  std::vector<Words> present;  // each a run of consecutive words
  Words absent;                // words found nowhere
  Env env;                     // the whole environment, in order
};

const Env kChannelOnly = {{"TARNEX_SSH_CHANNEL", "/tmp/tarnex-ssh-x/channel"}};
const Env kWithPassword = {{"SSH_ASKPASS", "/usr/libexec/tarnex/tarnex-ssh-helper"},
                           {"SSH_ASKPASS_REQUIRE", "force"},
                           {"TARNEX_SSH_CHANNEL", "/tmp/tarnex-ssh-x/channel"}};
const std::string kReport =
    "KnownHostsCommand=\"/usr/libexec/tarnex/tarnex-ssh-helper\" known-hosts %H %t %K %f";

const PlanCase kPlans[] = {
    {"defaults: nothing forwarded, strict keys, batch mode, ssh's own port and user",
     {},
     {.host = "example.org"},
     {{"-x", "-a", "-T"},
      {"-o", "ClearAllForwardings=yes"},
      {"-o", "ControlPath=none"},
      {"-o", "LogLevel=ERROR"},
      {"-o", "StrictHostKeyChecking=yes"},
      {"-o", kReport},
      {"-o", "BatchMode=yes"}},
     {"-p", "-l", "-F", "-i", "ConnectTimeout=0", "StrictHostKeyChecking=no"},
     kChannelOnly},
    {"port, user, key, known hosts, config and time-out",
     {.key_file = "/keys/id 100%", .known_hosts_file = "/k/known hosts", .config_file = "/c/cfg"},
     {.host = "10.0.0.5", .port = 2222, .user = "deploy", .timeout_seconds = 30},
     {{"/usr/bin/ssh", "-F", "/c/cfg"},
      {"-p", "2222"},
      {"-l", "deploy"},
      {"-o", "IdentityFile=\"/keys/id 100%%\"", "-o", "IdentitiesOnly=yes"},
      {"-o", "UserKnownHostsFile=\"/k/known hosts\""},
      {"-o", "ConnectTimeout=30"},
      {"-o", "ServerAliveInterval=10", "-o", "ServerAliveCountMax=3"}},
     {},
     kChannelOnly},
    {"a short time-out still probes once a second",
     {},
     {.host = "h", .timeout_seconds = 1},
     {{"-o", "ServerAliveInterval=1"}},
     {},
     kChannelOnly},
    {"accept-new, never no",
     {.accept_new = true},
     {.host = "h"},
     {{"-o", "StrictHostKeyChecking=accept-new"}},
     {"StrictHostKeyChecking=yes", "StrictHostKeyChecking=no"},
     kChannelOnly},
    {"a pin trusts its key only, whatever else is asked",
     {.known_hosts_file = "/k/kh", .host_key_pin = kPin, .accept_new = true},
     {.host = "h"},
     {{"-o", "StrictHostKeyChecking=yes", "-o", "UserKnownHostsFile=none", "-o",
       "GlobalKnownHostsFile=none", "-o",
       std::string("KnownHostsCommand=\"/usr/libexec/tarnex/tarnex-ssh-helper\" known-hosts "
                   "--pin ") + kPin + " %H %t %K %f"}},
     {"StrictHostKeyChecking=accept-new", "UserKnownHostsFile=\"/k/kh\""},
     kChannelOnly},
    {"a password: prompts through the helper, one try, keys still first",
     {},
     {.host = "h", .user = "u", .password_given = true},
     {{"-o", "BatchMode=no", "-o", "NumberOfPasswordPrompts=1"}},
     {"BatchMode=yes", "PreferredAuthentications"},
     kWithPassword},
};

TEST(SshLaunchPlan, HoldsTheOptionsAskedForAndEndsWithTheSftpSubsystemOfTheHost) {
  for (const PlanCase& c : kPlans) {
    SCOPED_TRACE(c.what);
    const SshLaunchPlan plan = MakeSshLaunchPlan(c.options, c.target, kPlaces);
    ASSERT_TRUE(plan.Ok()) << plan.error;
    for (const Words& run : c.present) {
      EXPECT_TRUE(HasRun(plan.argv, run)) << run.front() << " " << run.back();
    }
    for (const auto& word : c.absent) EXPECT_FALSE(HasWord(plan.argv, word)) << word;
    EXPECT_EQ(plan.env, c.env);
    // Every option before the host; ssh takes -s before it: `ssh [options] -s HOST sftp`.
    ASSERT_GE(plan.argv.size(), 4u);
    EXPECT_EQ(plan.argv.front(), "/usr/bin/ssh");
    EXPECT_EQ(Words(plan.argv.end() - 3, plan.argv.end()), (Words{"-s", c.target.host, "sftp"}));
  }
}

TEST(SshLaunchPlan, RefusesWhatSshWouldReadAsAnOptionOrMoreThanOneName) {
  struct Refusal {
    SshOptions options;
    SshTarget target;
    SshPlaces places;
    const char* says;
  };
  const Refusal refusals[] = {
      {{}, {.host = "-oProxyCommand=evil"}, kPlaces, "begins with \"-\""},
      {{}, {.host = "a b"}, kPlaces, "blank or control"},
      {{}, {.host = "a\nb"}, kPlaces, "blank or control"},
      {{}, {.host = "user@host"}, kPlaces, "holds \"@\""},
      {{}, {.host = ""}, kPlaces, "no host name"},
      {{}, {.host = "h", .user = "-F/tmp/x"}, kPlaces, "begins with \"-\""},
      {{}, {.host = "h", .user = "a\tb"}, kPlaces, "blank or control"},
      {{}, {.host = "h", .user = "$(reboot)"}, kPlaces, "a shell would read"},
      {{.host_key_pin = "SHA256:short"}, {.host = "h"}, kPlaces, "no SHA256 fingerprint"},
      {{.host_key_pin = std::string(kPin) + "="}, {.host = "h"}, kPlaces, "no SHA256"},
      {{.host_key_pin = "MD5:aa:bb"}, {.host = "h"}, kPlaces, "no SHA256"},
      {{.key_file = "/k/\"x"}, {.host = "h"}, kPlaces, "--ssh-key: "},
      {{.known_hosts_file = "/k/${HOME}"}, {.host = "h"}, kPlaces, "would expand"},
      {{}, {.host = "h"}, {.ssh_program = "ssh"}, "tarnex-ssh-helper is not installed"},
  };
  for (const Refusal& r : refusals) {
    const SshLaunchPlan plan = MakeSshLaunchPlan(r.options, r.target, r.places);
    EXPECT_FALSE(plan.Ok()) << r.says;
    EXPECT_NE(plan.error.find(r.says), std::string::npos) << plan.error;
    EXPECT_TRUE(plan.argv.empty());
  }
  // What may look odd but is a host: an IPv6 address with its zone, a name with "_".
  for (const char* host : {"fe80::1%eth0", "::1", "my_host.example", "127.0.0.1"}) {
    EXPECT_TRUE(MakeSshLaunchPlan({}, {.host = host}, kPlaces).Ok()) << host;
  }
}

}  // namespace
}  // namespace tarnex::ssh
