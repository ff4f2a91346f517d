#include "tests/support/fake_ftp_data.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <exception>
#include <optional>
#include <string_view>
#include <utility>

namespace tarnex::testing::detail {
namespace {

// A reset right after the last byte must not overtake that byte, so the queue drains first.
constexpr std::chrono::milliseconds kDrainLimit{2000};
constexpr std::size_t kReadBlock = 256 * 1024;

}  // namespace

DataJob::DataJob(Recorder& recorder, int number, DataAction action, DataEndpoint endpoint,
                 std::chrono::milliseconds io_timeout, StopCheck stop)
    : recorder_(recorder),
      number_(number),
      action_(std::move(action)),
      endpoint_(std::move(endpoint)),
      io_timeout_(io_timeout),
      stop_(std::move(stop)) {}

void DataJob::Run() {
  try {
    Fd connection;
    if (!SleepFor(action_.connect_delay, stop_) || !Establish(connection)) return;
    // Without a payload, a reset limit counts received bytes, so the action has to read.
    bool receives = action_.ending == DataAction::Ending::kReceiveUntilClientCloses ||
                    (action_.reset_after && action_.payload->empty());
    bool open = SendPayload(connection);
    if (open && receives) open = ReceiveUntilClientCloses(connection);
    if (open && action_.ending == DataAction::Ending::kReset) Reset(connection);
    if (connection.Valid()) CloseInOrder(connection);
    recorder_.StoreReceived(number_, std::move(received_));
  } catch (const std::exception& error) {
    recorder_.Mismatch("data connection " + std::to_string(number_) +
                       ": internal error: " + error.what());
  }
}

bool DataJob::Intrude(Clock::time_point deadline) {
  Fd intruder;
  IoResult result = ConnectTo(endpoint_.active, intruder, deadline, stop_, action_.intruder_from);
  // A client that closes at once (with a reset) may do so before the connect has been seen
  // to complete here: that is the refusal the intruder is there to meet.
  if (!result.ok && result.error.find("reset") != std::string::npos) {
    Note("intruder refused by the client");
    return true;
  }
  if (!result.ok) {
    recorder_.Mismatch("data connection " + std::to_string(number_) +
                       ": the intruder could not connect: " + result.error);
    return false;
  }
  Note("intruder connected from " + action_.intruder_from);
  SendAll(intruder.Get(), "not the server\r\n", io_timeout_, stop_);
  // The client is to close it at once: a read then ends (orderly or with a reset).
  char byte;
  for (;;) {
    Ready ready = WaitFor(intruder.Get(), POLLIN, deadline, stop_);
    if (ready == Ready::kStopped) return false;
    if (ready != Ready::kYes) {
      recorder_.Mismatch("data connection " + std::to_string(number_) +
                         ": the client kept a connection from " + action_.intruder_from);
      return false;
    }
    ssize_t n = ::recv(intruder.Get(), &byte, 1, 0);
    if (n <= 0 && !(n < 0 && (errno == EAGAIN || errno == EINTR))) break;
  }
  Note("intruder closed by the client");
  return true;
}

bool DataJob::Establish(Fd& connection) {
  auto deadline = Clock::now() + io_timeout_;
  IoResult result;
  if (endpoint_.mode == DataEndpoint::Mode::kActive && !action_.intruder_from.empty()) {
    if (!Intrude(deadline) || !action_.real_after_intruder) return false;
  }
  if (endpoint_.mode == DataEndpoint::Mode::kActive) {
    result = ConnectTo(endpoint_.active, connection, deadline, stop_);
  } else {
    result = AcceptOne(endpoint_.passive_listener.Get(), connection, deadline, stop_);
    endpoint_.passive_listener.Close();  // one connection per PASV, as real servers do
  }
  if (!result.ok) {
    if (!stop_()) {
      recorder_.Mismatch("data connection " + std::to_string(number_) +
                         " could not be made: " + result.error);
    }
    return false;
  }
  Note(std::string(endpoint_.mode == DataEndpoint::Mode::kActive ? "connected to "
                                                                 : "accepted from ") +
       PeerText(connection.Get()));
  return true;
}

bool DataJob::SendPayload(Fd& connection) {
  std::string_view payload = *action_.payload;
  bool limited = action_.reset_after && !payload.empty();
  std::size_t total = limited ? std::min(*action_.reset_after, payload.size()) : payload.size();
  std::size_t chunk = action_.chunk_size == 0 ? total : action_.chunk_size;
  while (sent_ < total) {
    std::size_t size = std::min(chunk, total - sent_);
    IoResult result = SendAll(connection.Get(), payload.substr(sent_, size), io_timeout_, stop_);
    if (!result.ok) {
      // A client that closes in the middle (say, to abort) is a scenario, not a fault.
      Note("send ended after " + std::to_string(sent_) + " bytes: " + result.error);
      if (result.timed_out) {
        recorder_.Mismatch("data connection " + std::to_string(number_) +
                           ": the client stopped reading");
      }
      return false;
    }
    sent_ += size;
    if (sent_ < total && !SleepFor(action_.chunk_pause, stop_)) break;
  }
  if (sent_ > 0) Note("sent " + std::to_string(sent_) + " bytes");
  if (limited) {
    Reset(connection);
    return false;
  }
  return true;
}

bool DataJob::ReceiveUntilClientCloses(Fd& connection) {
  std::array<char, 64 * 1024> block;
  std::optional<std::size_t> limit = action_.payload->empty() ? action_.reset_after : std::nullopt;
  for (;;) {
    if (limit && received_.size() >= *limit) {
      Reset(connection);
      return false;
    }
    Ready ready = WaitFor(connection.Get(), POLLIN, Clock::now() + io_timeout_, stop_);
    if (ready == Ready::kStopped) return true;
    if (ready == Ready::kTimeout) {
      recorder_.Mismatch("data connection " + std::to_string(number_) +
                         ": the client neither sent nor closed for " +
                         std::to_string(io_timeout_.count()) + " ms");
      return true;
    }
    std::size_t want = limit ? std::min(block.size(), *limit - received_.size()) : block.size();
    ssize_t n = ::recv(connection.Get(), block.data(), want, 0);
    if (n > 0) {
      received_.append(block.data(), static_cast<std::size_t>(n));
    } else if (n == 0) {
      Note("received " + std::to_string(received_.size()) + " bytes, the client closed");
      return true;
    } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      Note("received " + std::to_string(received_.size()) + " bytes, then " + std::strerror(errno));
      return true;
    }
  }
}

void DataJob::ReadPending(int fd) {
  std::string block(kReadBlock, '\0');
  for (;;) {
    ssize_t n = ::recv(fd, block.data(), block.size(), MSG_DONTWAIT);
    if (n <= 0) return;
    received_.append(block.data(), static_cast<std::size_t>(n));
  }
}

void DataJob::Reset(Fd& connection) {
  DrainSendQueue(connection.Get(), kDrainLimit, stop_);
  ResetClose(connection);
  Note("reset");
}

void DataJob::CloseInOrder(Fd& connection) {
  // Unread input would turn the close into a reset and could cost the client its last bytes.
  ReadPending(connection.Get());
  connection.Close();
  Note("closed");
}

void DataJob::Note(const std::string& text) {
  recorder_.Note("D" + std::to_string(number_) + " " + text);
}

}  // namespace tarnex::testing::detail
