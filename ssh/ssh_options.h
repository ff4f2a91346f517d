// How the user asked ssh to authenticate the server and itself (the --ssh-... options and
// their stored values). Empty fields leave ssh's own defaults: its config, keys and agent, and
// ~/.ssh/known_hosts.
#pragma once

#include <string>

namespace tarnex::ssh {

struct SshOptions {
  std::string key_file;          // -i: this key only
  std::string known_hosts_file;  // instead of ~/.ssh/known_hosts
  std::string host_key_pin;      // "SHA256:...": trust this key and no other
  bool accept_new = false;       // a host not yet known is added; a changed key still fails
  std::string config_file;       // -F: instead of ~/.ssh/config (not stored)

  bool operator==(const SshOptions&) const = default;
};

}  // namespace tarnex::ssh
