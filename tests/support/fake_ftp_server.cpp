#include "tests/support/fake_ftp_server.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <utility>

#include "tests/support/fake_ftp_channel.h"
#include "tests/support/fake_ftp_recorder.h"
#include "tests/support/fake_ftp_session.h"
#include "tests/support/test_socket.h"

namespace tarnex::testing {
namespace {

bool TakesTls(const Step& step) {
  return step.kind == Step::Kind::kStartTls || step.kind == Step::Kind::kProtectData;
}

std::unique_ptr<detail::TlsServerContext> MakeTls(const std::vector<Session>& sessions,
                                                  const FakeFtpServerOptions& options) {
  if (!options.tls_certificate.empty()) {
    return std::make_unique<detail::TlsServerContext>(options.tls_certificate);
  }
  bool tls = options.implicit_tls;
  for (const auto& session : sessions) {
    tls = tls || std::any_of(session.steps.begin(), session.steps.end(), TakesTls);
  }
  if (tls) {
    throw std::invalid_argument(
        "the script takes TLS, but FakeFtpServerOptions has no tls_certificate");
  }
  return nullptr;
}

}  // namespace

FakeFtpServer::FakeFtpServer(std::vector<Session> sessions, FakeFtpServerOptions options)
    : sessions_(std::move(sessions)),
      options_(options),
      tls_(MakeTls(sessions_, options_)),
      recorder_(std::make_unique<detail::Recorder>(sessions_.size())),
      listener_(std::make_unique<detail::Fd>(
          detail::ListenLoopback(16, options.ipv6 ? AF_INET6 : AF_INET))),
      port_(detail::LocalPort(listener_->Get())) {
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

FakeFtpServer::~FakeFtpServer() {
  recorder_->stop = true;
  if (acceptor_.joinable()) acceptor_.join();
}

bool FakeFtpServer::Wait(std::chrono::milliseconds timeout) {
  return recorder_->WaitDone(timeout);
}

std::string FakeFtpServer::Mismatches() const {
  return recorder_->Mismatches();
}
std::vector<std::string> FakeFtpServer::Commands() const {
  return recorder_->Commands();
}
std::string FakeFtpServer::ReceivedData(int n) const {
  return recorder_->Received(n);
}
int FakeFtpServer::DataConnections() const {
  return recorder_->DataConnections();
}
int FakeFtpServer::Connections() const {
  return recorder_->Connections();
}
std::string FakeFtpServer::Transcript() const {
  return recorder_->Transcript();
}

void FakeFtpServer::AcceptLoop() {
  // OpenSSL writes to its sockets with write(), which raises SIGPIPE when the client has gone.
  // Blocked, the signal stays pending on the thread and the write fails with EPIPE instead of
  // ending the test program. The session and data threads started from here inherit the mask.
  sigset_t blocked;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
  // Sessions run side by side, so a client that opens its next connection before closing the
  // last one still gets its script.
  std::vector<std::thread> sessions;
  auto stop = [this] { return recorder_->stop.load(); };
  std::size_t next = 0;
  while (!stop()) {
    detail::Fd connection;
    auto deadline = detail::Clock::now() + std::chrono::seconds(1);
    auto result = detail::AcceptOne(listener_->Get(), connection, deadline, stop);
    if (!result.ok) {
      if (!result.timed_out) detail::SleepFor(std::chrono::milliseconds(10), stop);
      continue;
    }
    int number = recorder_->NextConnectionNumber();
    if (next >= sessions_.size()) {
      recorder_->Mismatch("connection " + std::to_string(number) +
                          " came after the last session of the script");
      continue;  // the connection closes at once
    }
    const Session& script = sessions_[next++];
    sessions.emplace_back([this, number, &script, fd = std::move(connection)]() mutable {
      detail::SessionRunner runner(*recorder_, number, std::move(fd), script, options_.io_timeout,
                                   tls_ ? tls_->Get() : nullptr, options_.implicit_tls);
      runner.Run();
    });
  }
  for (auto& thread : sessions) thread.join();
}

}  // namespace tarnex::testing
