// The private channel between Tarnex and the tarnex-ssh-helper runs of one ssh: a Unix socket
// in a fresh folder only this user can enter, served on the thread's message loop, so that it
// answers while the session waits for ssh. It gives the password to ssh's password prompt and
// nothing to any other question, and keeps the host keys ssh was offered, so that a failed
// login can name them. The password goes nowhere else: not into argv, the environment or a
// file. The folder and the socket go with the channel.
//
//   SshAuthChannel channel(password);              // on the session's thread
//   plan = MakeSshLaunchPlan(..., {.channel_socket = channel.SocketPath(), ...});
//   ... run ssh; its helpers are answered whenever the loop is dispatched ...
//   channel.OfferedKeys()                          // for the failure's message
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/owned_fd.h"
#include "ssh/ssh_channel_protocol.h"

namespace tarnex::ssh {

class SshAuthChannel {
 public:
  // No password: every prompt is refused. Throws std::system_error when the folder or the
  // socket cannot be made.
  explicit SshAuthChannel(std::optional<std::string> password);
  ~SshAuthChannel();
  SshAuthChannel(const SshAuthChannel&) = delete;
  SshAuthChannel& operator=(const SshAuthChannel&) = delete;

  const std::string& SocketPath() const { return socket_path_; }
  // Each key offered, once, in the order ssh reported them.
  const std::vector<HostKeyReport>& OfferedKeys() const { return offered_keys_; }
  // How often the password was handed out, and how many prompts were refused.
  int PasswordsGiven() const { return passwords_given_; }
  int PromptsRefused() const { return prompts_refused_; }
  // Connections turned away because they came from another user.
  int PeersRefused() const { return peers_refused_; }

 private:
  void AcceptPending();
  void ReadFrom(int fd);
  std::string_view Answer(const ChannelRequest& request);
  void Drop(int fd);

  std::optional<std::string> password_;
  std::string folder_;
  std::string socket_path_;
  platform::OwnedFd listener_;
  struct Connection {
    platform::OwnedFd socket;
    std::string request;  // what it sent so far
  };
  std::map<int, Connection> connections_;  // by descriptor
  std::vector<HostKeyReport> offered_keys_;
  int passwords_given_ = 0;
  int prompts_refused_ = 0;
  int peers_refused_ = 0;
};

}  // namespace tarnex::ssh
