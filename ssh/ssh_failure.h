// The message of a failed ssh login, from ssh's error lines and the host key it was offered:
// an unknown key is named with how to trust it, a changed key fails loudly with ssh's own
// explanation, anything else is ssh's line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ssh/ssh_channel_protocol.h"

namespace tarnex::ssh {

struct SshFailureFacts {
  std::string host;
  uint16_t port = 0;
  std::vector<std::string> stderr_lines;     // what ssh wrote, line by line
  std::vector<HostKeyReport> offered_keys;   // SshAuthChannel::OfferedKeys()
  std::string host_key_pin;                  // --ssh-hostkey, when given
};

// One or a few log lines; never none.
std::vector<std::string> DescribeSshFailure(const SshFailureFacts& facts);

// The server as people name it: "host", or "host:port" off port 22 ("[::1]:2222").
std::string ServerName(const std::string& host, uint16_t port);

}  // namespace tarnex::ssh
