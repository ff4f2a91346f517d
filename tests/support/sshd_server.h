// OpenSSH's server for the tests of ssh as SFTP's transport: /usr/sbin/sshd (Debian
// openssh-server) on a free 127.0.0.1 port, with a config of its own (no PAM, the test's
// authorised keys for every user, SFTP inside sshd), host keys and user keys made by
// ssh-keygen at test time. It runs as root, as CI does; a missing sshd fails the test.
//
//   SshdServer sshd;                                   // started and listening
//   ... ssh -p sshd.Port() -l root -i sshd.UserKey(SshKeyKind::kEd25519) 127.0.0.1 ...
//   sshd.HostKeyFingerprint()                          // "SHA256:..." as ssh-keygen -l says
//   sshd.ChangeHostKey();                              // the same port, another host key
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace tarnex::testing {

class TempDir;
namespace detail {
class ChildProcess;
}  // namespace detail

enum class SshKeyKind { kEd25519, kRsa };

class SshdServer {
 public:
  static constexpr const char* kProgram = "/usr/sbin/sshd";
  // Why sshd cannot run here; empty when it can.
  static std::string UnavailableReason();

  SshdServer();
  ~SshdServer();
  SshdServer(const SshdServer&) = delete;
  SshdServer& operator=(const SshdServer&) = delete;

  uint16_t Port() const { return port_; }
  const std::filesystem::path& Dir() const;
  // The private key of a user key the server accepts (for every user).
  std::filesystem::path UserKey(SshKeyKind kind) const;
  // The fingerprint of the host key in use, as `ssh-keygen -lf KEY.pub` prints it.
  std::string HostKeyFingerprint() const;
  // Restarts on the same port with a second host key, as if the server's key was replaced.
  void ChangeHostKey();

 private:
  void Start();
  std::filesystem::path HostKey() const;

  std::unique_ptr<TempDir> dir_;
  std::unique_ptr<detail::ChildProcess> process_;
  uint16_t port_ = 0;
  int host_key_ = 0;
};

// A local user for password logins, `tarnex-sftp-test` (no shell, no home), made by useradd
// when missing and given a fresh random password for as long as this object lives; its
// password is locked again afterwards. Tests that use it take turns (a lock file in /run/lock).
class PasswordUser {
 public:
  static constexpr const char* kName = "tarnex-sftp-test";
  PasswordUser();
  ~PasswordUser();
  PasswordUser(const PasswordUser&) = delete;
  PasswordUser& operator=(const PasswordUser&) = delete;

  const std::string& Password() const { return password_; }

 private:
  int lock_fd_ = -1;
  std::string password_;
};

// ssh-agent in the foreground on a socket of its own, holding one key; stopped afterwards.
class SshAgent {
 public:
  explicit SshAgent(const std::filesystem::path& key);
  ~SshAgent();
  SshAgent(const SshAgent&) = delete;
  SshAgent& operator=(const SshAgent&) = delete;

  const std::string& Socket() const { return socket_; }

 private:
  std::unique_ptr<TempDir> dir_;
  std::unique_ptr<detail::ChildProcess> process_;
  std::string socket_;
};

}  // namespace tarnex::testing
