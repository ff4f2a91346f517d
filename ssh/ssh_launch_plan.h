// ssh's command line for an SFTP session: `ssh [options] -s HOST sftp`, run without a shell,
// with the variables its helpers need. Pure: the same request gives the same plan.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "ssh/ssh_options.h"

namespace tarnex::ssh {

struct SshTarget {
  std::string host;
  uint16_t port = 0;  // 0: ssh's own (22, or what the config says)
  std::string user;   // empty: ssh's own
  bool password_given = false;
  int timeout_seconds = 0;  // 0: none
};

// Where the pieces live on this machine.
struct SshPlaces {
  std::string ssh_program = "ssh";  // looked up in PATH by the one who runs it
  std::string helper;               // tarnex-ssh-helper
  std::string channel_socket;       // the SshAuthChannel's socket
};

struct SshLaunchPlan {
  std::vector<std::string> argv;
  // Set in ssh's environment on top of Tarnex's own.
  std::vector<std::pair<std::string, std::string>> env;
  // Why there is no plan (a host that would be read as an option, a malformed pin...).
  std::string error;

  bool Ok() const { return error.empty(); }
};

SshLaunchPlan MakeSshLaunchPlan(const SshOptions& options, const SshTarget& target,
                                const SshPlaces& places);

}  // namespace tarnex::ssh
