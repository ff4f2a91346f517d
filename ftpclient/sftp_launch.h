// How an SFTP session starts OpenSSH's client: ssh's command line and environment for the
// login, the private channel its helpers ask through (the password, the host key offered), and
// what a failed login says, made from ssh's own lines and the key it was offered.
#pragma once

#include <cstdint>
#include <string>

#include "sftpproto/proto_sftp.h"
#include "ssh/ssh_launch_plan.h"

namespace tarnex {

struct SftpLogin {
  std::string host;
  int32_t port = 0;  // 0: ssh's own
  std::string user;
  std::string password;  // empty: keys and agent only (ssh asks nobody)
  int64_t timeout_seconds = 0;
};

// Raises Exception with the reason when there can be no such session (a host that would be
// read as an option, a malformed pin, no private folder for the channel).
TProtoSFTP::Launch MakeSftpLaunch(const ssh::SshOptions& options, const SftpLogin& login);

}  // namespace tarnex
