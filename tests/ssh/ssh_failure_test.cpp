#include "ssh/ssh_failure.h"

#include <gtest/gtest.h>

namespace tarnex::ssh {
namespace {

using Lines = std::vector<std::string>;

constexpr char kOffered[] = "SHA256:eCV+S6kb9vbJ/vVrGToP+BDoo/4S1Rpz/AXa+Qw8pU4";
constexpr char kPin[] = "SHA256:jb9EVzACdSG7ssf9mJ7U8NFKFvVt5fQO0ULkzPQmnlQ";
const HostKeyReport kKey{"[127.0.0.1]:42222", "ssh-ed25519", kOffered};

// What ssh 9.2 writes with LogLevel=ERROR.
const Lines kUnknown = {
    "No ED25519 host key is known for [127.0.0.1]:42222 and you have requested strict checking.",
    "Host key verification failed."};
const Lines kChanged = {
    "@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@",
    "@    WARNING: REMOTE HOST IDENTIFICATION HAS CHANGED!     @",
    "@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@",
    "IT IS POSSIBLE THAT SOMEONE IS DOING SOMETHING NASTY!",
    "The fingerprint for the ED25519 key sent by the remote host is",
    "SHA256:jb9EVzACdSG7ssf9mJ7U8NFKFvVt5fQO0ULkzPQmnlQ.",
    "Offending ED25519 key in /tmp/sx/kh:1",
    "  ssh-keygen -f \"/tmp/sx/kh\" -R \"[127.0.0.1]:42222\"",
    "Host key for [127.0.0.1]:42222 has changed and you have requested strict checking.",
    "Host key verification failed."};

struct FailureCase {
  const char* what;
  SshFailureFacts facts;
  Lines message;
};

const FailureCase kFailures[] = {
    {"an unknown key is named, with the ways to trust it",
     {.host = "127.0.0.1", .port = 42222, .stderr_lines = kUnknown, .offered_keys = {kKey}},
     {std::string("Host key of 127.0.0.1:42222 is not known: ") + kOffered + " (ED25519)",
      std::string("To trust it: --ssh-hostkey ") + kOffered +
          " (this key only), --ssh-accept-new (remember it on first use), or --ssh-known-hosts "
          "FILE with a file that holds it"}},
    {"a key that is not the pin names both",
     {.host = "sftp.example", .stderr_lines = kUnknown, .offered_keys = {kKey}, .host_key_pin = kPin},
     {std::string("Host key of sftp.example is not the pinned key: it offered ") + kOffered +
      " (ED25519), --ssh-hostkey is " + kPin}},
    {"a changed key is loud and carries ssh's explanation",
     {.host = "127.0.0.1", .port = 42222, .stderr_lines = kChanged, .offered_keys = {kKey}},
     {"HOST KEY OF 127.0.0.1:42222 HAS CHANGED: the connection was refused. Either the server's "
      "key was replaced, or somebody is between you and the server. ssh says:",
      "  @    WARNING: REMOTE HOST IDENTIFICATION HAS CHANGED!     @",
      "  IT IS POSSIBLE THAT SOMEONE IS DOING SOMETHING NASTY!",
      "  The fingerprint for the ED25519 key sent by the remote host is",
      "  SHA256:jb9EVzACdSG7ssf9mJ7U8NFKFvVt5fQO0ULkzPQmnlQ.",
      "  Offending ED25519 key in /tmp/sx/kh:1",
      "    ssh-keygen -f \"/tmp/sx/kh\" -R \"[127.0.0.1]:42222\"",
      "  Host key for [127.0.0.1]:42222 has changed and you have requested strict checking.",
      "  Host key verification failed."}},
    {"a refused login",
     {.host = "h", .stderr_lines = {"root@127.0.0.1: Permission denied (publickey,password).\r"}},
     {"Login refused: root@127.0.0.1: Permission denied (publickey,password)."}},
    {"connection refused: ssh's line",
     {.host = "h", .stderr_lines = {"ssh: connect to host 127.0.0.1 port 42223: Connection refused"}},
     {"ssh: connect to host 127.0.0.1 port 42223: Connection refused"}},
    {"a name not known: ssh's line",
     {.host = "x.invalid",
      .stderr_lines = {"ssh: Could not resolve hostname x.invalid: Name or service not known"}},
     {"ssh: Could not resolve hostname x.invalid: Name or service not known"}},
    {"timed out: ssh's line",
     {.host = "h", .stderr_lines = {"Connection timed out during banner exchange"}},
     {"Connection timed out during banner exchange"}},
    {"a key check that failed with no key reported: ssh's lines",
     {.host = "h", .stderr_lines = kUnknown},
     kUnknown},
    {"nothing said",
     {.host = "h", .stderr_lines = {"", "@@@"}},
     {"ssh ended without saying why"}},
};

TEST(SshFailure, SaysWhatWentWrongInTheUsersTerms) {
  for (const FailureCase& c : kFailures) {
    EXPECT_EQ(DescribeSshFailure(c.facts), c.message) << c.what;
  }
}

TEST(SshFailure, NamesTheServerAsPeopleWriteIt) {
  EXPECT_EQ(ServerName("h", 0), "h");
  EXPECT_EQ(ServerName("h", 22), "h");
  EXPECT_EQ(ServerName("h", 2222), "h:2222");
  EXPECT_EQ(ServerName("::1", 2222), "[::1]:2222");
}

}  // namespace
}  // namespace tarnex::ssh
