#include "tests/support/real_ftp_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <pwd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_socket.h"

namespace tarnex::testing {

namespace {

using detail::ExitText;

std::string CheckAvailability() {
  if (::access(RealFtpServer::kPython, X_OK) != 0) {
    return std::string(RealFtpServer::kPython) + " is missing (apt-get install python3)";
  }
  detail::ChildProcess check({RealFtpServer::kPython, RealFtpServer::Script().string(), "--check"},
                             false);
  auto status = check.WaitExit(std::chrono::seconds(20));
  if (!status) return RealFtpServer::Script().string() + " --check did not finish in 20 s";
  if (*status != 0) {
    return "python3-pyftpdlib is not installed for " + std::string(RealFtpServer::kPython) +
           " (apt-get install python3-pyftpdlib); " + ExitText(*status);
  }
  return {};
}

// The first line of the child's output, read within the deadline; empty at end of file.
std::string ReadFirstLine(int fd, detail::Clock::time_point deadline) {
  std::string text;
  char block[256];
  while (text.find('\n') == std::string::npos) {
    auto ready = detail::WaitFor(fd, POLLIN, deadline, nullptr);
    if (ready == detail::Ready::kTimeout) throw std::runtime_error("timed out");
    ssize_t n = ::read(fd, block, sizeof block);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return {};
    text.append(block, static_cast<std::size_t>(n));
  }
  return text.substr(0, text.find('\n'));
}

}  // namespace

bool RealFtpServer::Available() {
  return UnavailableReason().empty();
}

std::string RealFtpServer::UnavailableReason() {
  static const std::string reason = CheckAvailability();
  return reason;
}

bool RealFtpServer::Required() {
  const char* value = std::getenv("TARNEX_REQUIRE_REAL_SERVER");
  return value != nullptr && *value != '\0' && std::string(value) != "0";
}

std::filesystem::path RealFtpServer::Script() {
  return TARNEX_FTPD_SCRIPT;
}

RealFtpServer::RealFtpServer(RealFtpServerOptions options) : options_(std::move(options)) {
  if (options_.root.empty()) {
    own_root_ = std::make_unique<TempDir>();
    root_ = own_root_->path();
  } else {
    root_ = options_.root;
  }
  std::vector<std::string> argv = {kPython,      Script().string(), "--port", "0",
                                   "--root",     root_.string(),    "--user", options_.user,
                                   "--password", options_.password, "--host",   options_.host};
  if (options_.anonymous) argv.push_back("--anonymous");
  if (!options_.tls.empty()) {
    argv.insert(argv.end(), {"--tls", options_.tls, "--cert", options_.certificate.string()});
  }
  process_ = std::make_unique<detail::ChildProcess>(argv, true);
  std::string line;
  try {
    line = ReadFirstLine(process_->Output(), detail::Clock::now() + options_.start_timeout);
  } catch (const std::runtime_error&) {
    throw std::runtime_error("ftpd.py did not report its port within " +
                             std::to_string(options_.start_timeout.count()) + " s");
  }
  char* end = nullptr;
  long port = std::strtol(line.c_str(), &end, 10);
  if (line.empty() || *end != '\0' || port <= 0 || port > 65535) {
    auto status = process_->WaitExit(std::chrono::milliseconds(500));
    throw std::runtime_error("ftpd.py did not start (" +
                             (status ? ExitText(*status) : "printed \"" + line + "\"") +
                             "); its error output is above");
  }
  port_ = static_cast<uint16_t>(port);
}

RealFtpServer::~RealFtpServer() = default;

std::string TlsReuseServer::UnavailableReason() {
  if (::access(kProgram, X_OK) != 0) return std::string(kProgram) + " is missing (apt-get install vsftpd)";
  if (::geteuid() != 0) return "vsftpd runs only as root";
  if (::getpwnam("ftp") == nullptr) return "the user \"ftp\" of the vsftpd package is missing";
  return {};
}

TlsReuseServer::TlsReuseServer(const std::filesystem::path& certificate)
    : dir_(std::make_unique<TempDir>()), root_(dir_->path() / "root") {
  std::filesystem::create_directories(root_);
  std::filesystem::create_directories(dir_->path() / "empty");
  {
    // A free port: taken from the system, then handed to the server.
    detail::Fd probe = detail::ListenLoopback(1);
    port_ = detail::LocalPort(probe.Get());
  }
  const std::filesystem::path config = dir_->path() / "vsftpd.conf";
  std::ofstream(config)
      << "listen=YES\nlisten_address=127.0.0.1\nlisten_port=" << port_ << "\n"
      << "background=NO\nseccomp_sandbox=NO\nanonymous_enable=YES\nno_anon_password=YES\n"
      << "anon_root=" << root_.string() << "\nlocal_enable=NO\n"
      << "write_enable=NO\nsecure_chroot_dir=" << (dir_->path() / "empty").string() << "\n"
      << "ssl_enable=YES\nallow_anon_ssl=YES\nforce_anon_logins_ssl=YES\n"
      << "force_anon_data_ssl=YES\nrequire_ssl_reuse=YES\nrsa_cert_file=" << certificate.string()
      << "\nrsa_private_key_file=" << certificate.string() << "\npasv_enable=YES\n"
      << "pasv_address=127.0.0.1\nxferlog_enable=NO\n";
  process_ = std::make_unique<detail::ChildProcess>(
      std::vector<std::string>{kProgram, config.string()}, false);
  // Listening once a connection is taken (bounded).
  const auto deadline = detail::Clock::now() + std::chrono::seconds(10);
  for (;;) {
    detail::Fd connection;
    if (detail::ConnectTo(detail::LoopbackAddress(AF_INET, port_), connection,
                          detail::Clock::now() + std::chrono::milliseconds(200), nullptr)
            .ok) {
      break;
    }
    if (detail::Clock::now() >= deadline) throw std::runtime_error("vsftpd did not start");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

TlsReuseServer::~TlsReuseServer() = default;

}  // namespace tarnex::testing
