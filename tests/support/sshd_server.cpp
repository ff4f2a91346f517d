#include "tests/support/sshd_server.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/support/child_process.h"
#include "tests/support/process_run.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_socket.h"

namespace tarnex::testing {
namespace {

using detail::Clock;

// Runs a command line of fixed words (no quoting needed) and fails loudly when it fails.
std::string MustRun(const std::string& directory, const std::string& command) {
  ProcessOutcome outcome = RunProcess(directory, command, 60);
  if (outcome.status != 0) {
    throw std::runtime_error(command + " failed (" + std::to_string(outcome.status) + "): " +
                             outcome.err);
  }
  return outcome.out;
}

void MakeKey(const std::filesystem::path& dir, const std::string& name, const std::string& type) {
  MustRun(dir.string(), "ssh-keygen -q -N '' -t " + type + " -f " + name);
}

std::string LogOf(const std::filesystem::path& log) {
  std::ifstream in(log);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Until `accepts` says yes or `limit` runs out, trying every 20 ms.
bool WaitUntil(std::chrono::milliseconds limit, const std::function<bool()>& accepts) {
  const auto deadline = Clock::now() + limit;
  for (;;) {
    if (accepts()) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace

std::string SshdServer::UnavailableReason() {
  if (::access(kProgram, X_OK) != 0) {
    return std::string(kProgram) + " is missing (apt-get install openssh-server)";
  }
  if (::geteuid() != 0) return "sshd runs only as root";
  return {};
}

SshdServer::SshdServer() : dir_(std::make_unique<TempDir>()) {
  if (std::string why = UnavailableReason(); !why.empty()) throw std::runtime_error(why);
  // sshd's privilege separation folder, which only its package's start-up makes.
  ::mkdir("/run/sshd", 0755);
  const auto& dir = dir_->path();
  MakeKey(dir, "host_ed25519", "ed25519");
  MakeKey(dir, "host2_ed25519", "ed25519");
  MakeKey(dir, "user_ed25519", "ed25519");
  MakeKey(dir, "user_rsa", "rsa -b 3072");
  {
    std::ofstream keys(dir / "authorized_keys");
    keys << LogOf(dir / "user_ed25519.pub") << LogOf(dir / "user_rsa.pub");
  }
  {
    // A free port: taken from the system, then handed to the server.
    detail::Fd probe = detail::ListenLoopback(1);
    port_ = detail::LocalPort(probe.Get());
  }
  Start();
}

SshdServer::~SshdServer() = default;

const std::filesystem::path& SshdServer::Dir() const { return dir_->path(); }

std::filesystem::path SshdServer::UserKey(SshKeyKind kind) const {
  return Dir() / (kind == SshKeyKind::kEd25519 ? "user_ed25519" : "user_rsa");
}

std::filesystem::path SshdServer::HostKey() const {
  return Dir() / (host_key_ == 0 ? "host_ed25519" : "host2_ed25519");
}

std::string SshdServer::HostKeyFingerprint() const {
  // "256 SHA256:... comment (ED25519)"
  std::istringstream line(MustRun(Dir().string(), "ssh-keygen -lf " + HostKey().string() + ".pub"));
  std::string bits, fingerprint;
  line >> bits >> fingerprint;
  return fingerprint;
}

void SshdServer::ChangeHostKey() {
  process_.reset();
  host_key_ = 1;
  Start();
}

void SshdServer::Start() {
  const auto& dir = Dir();
  const auto config = dir / "sshd_config";
  std::ofstream(config) << "ListenAddress 127.0.0.1\n"
                        << "Port " << port_ << "\n"
                        << "HostKey " << HostKey().string() << "\n"
                        << "PidFile none\n"
                        << "UsePAM no\n"
                        << "StrictModes no\n"
                        << "AuthorizedKeysFile " << (dir / "authorized_keys").string() << "\n"
                        << "PermitRootLogin prohibit-password\n"
                        << "PasswordAuthentication yes\n"
                        << "KbdInteractiveAuthentication no\n"
                        << "AllowTcpForwarding no\nX11Forwarding no\nPermitTTY no\n"
                        << "Subsystem sftp internal-sftp\n";
  // A log of its own per start: the last start's "listening" line says nothing of this one.
  const auto log = dir / ("sshd-" + std::to_string(host_key_) + ".log");
  // -D: in the foreground, so that it is this process's child; -E: its lines into the log.
  process_ = std::make_unique<detail::ChildProcess>(
      std::vector<std::string>{kProgram, "-D", "-f", config.string(), "-E", log.string()},
      false);
  const bool listening = WaitUntil(std::chrono::seconds(15), [&] {
    if (process_->WaitExit(std::chrono::milliseconds(0))) {
      throw std::runtime_error("sshd ended at once: " + LogOf(log));
    }
    return LogOf(log).find("Server listening on 127.0.0.1 port " + std::to_string(port_)) !=
           std::string::npos;
  });
  if (!listening) throw std::runtime_error("sshd did not listen within 15 s: " + LogOf(log));
}

PasswordUser::PasswordUser() {
  // One test at a time holds the user and its password, across test processes and builds.
  // A bare container may lack /run/lock.
  ::mkdir("/run/lock", 01777);
  lock_fd_ = ::open("/run/lock/tarnex-sftp-test.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lock_fd_ < 0) {
    throw std::runtime_error(std::string("cannot open the test user's lock: ") + std::strerror(errno));
  }
  if (!WaitUntil(std::chrono::seconds(60), [&] { return ::flock(lock_fd_, LOCK_EX | LOCK_NB) == 0; })) {
    ::close(lock_fd_);
    throw std::runtime_error("another test held the test user for 60 s");
  }
  const std::string here = std::filesystem::temp_directory_path().string();
  if (RunProcess(here, std::string("id -u ") + kName + " >/dev/null").status != 0) {
    MustRun(here, std::string("useradd --system --no-create-home --home-dir /nonexistent "
                              "--shell /usr/sbin/nologin ") + kName);
  }
  unsigned char random[18];
  std::ifstream("/dev/urandom", std::ios::binary).read(reinterpret_cast<char*>(random), sizeof random);
  for (unsigned char byte : random) {
    static constexpr char kDigits[] = "0123456789abcdef";
    password_ += kDigits[byte >> 4];
    password_ += kDigits[byte & 15];
  }
  // The password goes to chpasswd's input, not onto a command line.
  FILE* chpasswd = ::popen("chpasswd", "w");
  if (chpasswd == nullptr) throw std::runtime_error("cannot run chpasswd");
  std::fprintf(chpasswd, "%s:%s\n", kName, password_.c_str());
  if (::pclose(chpasswd) != 0) throw std::runtime_error("chpasswd failed");
}

PasswordUser::~PasswordUser() {
  const ProcessOutcome locked = RunProcess(std::filesystem::temp_directory_path().string(),
                                           std::string("usermod --lock ") + kName);
  if (locked.status != 0) std::fprintf(stderr, "usermod --lock %s failed: %s\n", kName, locked.err.c_str());
  if (lock_fd_ >= 0) ::close(lock_fd_);
}

SshAgent::SshAgent(const std::filesystem::path& key) : dir_(std::make_unique<TempDir>()) {
  socket_ = (*dir_) / "agent.sock";
  process_ = std::make_unique<detail::ChildProcess>(
      std::vector<std::string>{"/usr/bin/ssh-agent", "-D", "-a", socket_}, false);
  // Ready once its socket takes a connection.
  const bool ready = WaitUntil(std::chrono::seconds(10), [&] {
    detail::Fd probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socket_.c_str(), sizeof address.sun_path - 1);
    return ::connect(probe.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  });
  if (!ready) throw std::runtime_error("ssh-agent did not start within 10 s");
  MustRun(dir_->path().string(), "env SSH_AUTH_SOCK=" + socket_ + " ssh-add -q " + key.string());
}

SshAgent::~SshAgent() = default;

}  // namespace tarnex::testing
