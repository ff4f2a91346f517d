#include "tests/support/fake_ftp_server.h"

#include <poll.h>

#include <exception>
#include <utility>

#include "tests/support/fake_ftp_recorder.h"
#include "tests/support/fake_ftp_session.h"
#include "tests/support/test_socket.h"

namespace tarnex::testing {

FakeFtpServer::FakeFtpServer(std::vector<Session> sessions, FakeFtpServerOptions options)
    : sessions_(std::move(sessions)),
      options_(options),
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
      detail::SessionRunner runner(*recorder_, number, std::move(fd), script, options_.io_timeout);
      runner.Run();
    });
  }
  for (auto& thread : sessions) thread.join();
}

}  // namespace tarnex::testing
