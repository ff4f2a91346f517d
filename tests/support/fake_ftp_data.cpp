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

}  // namespace

DataJob::DataJob(Recorder& recorder, int number, DataAction action, DataEndpoint endpoint,
                 std::chrono::milliseconds io_timeout, SSL_CTX* tls, StopCheck stop)
    : recorder_(recorder),
      number_(number),
      action_(std::move(action)),
      endpoint_(std::move(endpoint)),
      io_timeout_(io_timeout),
      tls_(tls),
      stop_(std::move(stop)) {}

void DataJob::Run() {
  try {
    Channel connection;
    if (!SleepFor(action_.connect_delay, stop_) || !Establish(connection)) return;
    // Without a payload, a reset limit counts received bytes, so the action has to read.
    bool receives = action_.ending == DataAction::Ending::kReceiveUntilClientCloses ||
                    (action_.reset_after && action_.payload->empty());
    bool open = SendPayload(connection);
    if (open && receives) open = ReceiveUntilClientCloses(connection);
    if (open && action_.ending == DataAction::Ending::kReset) Reset(connection);
    if (open && action_.ending == DataAction::Ending::kStallUntilClientCloses) {
      // Nothing is read: the client's bytes pile up until its sends stall. Its close (a reset,
      // with unread bytes here, or an orderly end) is seen without reading.
      const Ready ready = WaitFor(connection.Get(), POLLRDHUP, Clock::now() + io_timeout_, stop_);
      Note(ready == Ready::kYes ? "stalled until the client closed"
                                : "stalled, and the client never closed");
    }
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

bool DataJob::Establish(Channel& connection) {
  auto deadline = Clock::now() + io_timeout_;
  IoResult result;
  Fd socket;
  if (endpoint_.mode == DataEndpoint::Mode::kActive && !action_.intruder_from.empty()) {
    if (!Intrude(deadline) || !action_.real_after_intruder) return false;
  }
  if (endpoint_.mode == DataEndpoint::Mode::kActive) {
    result = ConnectTo(endpoint_.active, socket, deadline, stop_);
  } else {
    result = AcceptOne(endpoint_.passive_listener.Get(), socket, deadline, stop_);
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
       PeerText(socket.Get()));
  connection = Channel(std::move(socket));
  if (tls_ == nullptr) return true;
  // The server's side whichever end connected, as with a PORT data connection.
  result = connection.AcceptTls(tls_, Clock::now() + io_timeout_, stop_);
  if (!result.ok) {
    if (!stop_()) {
      recorder_.Mismatch("data connection " + std::to_string(number_) + ": " + result.error);
    }
    return false;
  }
  Note("TLS handshake: " + connection.TlsSummary());
  return true;
}

bool DataJob::SendPayload(Channel& connection) {
  std::string_view payload = *action_.payload;
  bool limited = action_.reset_after && !payload.empty();
  std::size_t total = limited ? std::min(*action_.reset_after, payload.size()) : payload.size();
  if (action_.cut_after) total = std::min(total, *action_.cut_after);
  std::size_t chunk = action_.chunk_size == 0 ? total : action_.chunk_size;
  while (sent_ < total) {
    std::size_t size = std::min(chunk, total - sent_);
    IoResult result = connection.Send(payload.substr(sent_, size), io_timeout_, stop_);
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

bool DataJob::ReceiveUntilClientCloses(Channel& connection) {
  std::array<char, 64 * 1024> block;
  std::optional<std::size_t> limit = action_.payload->empty() ? action_.reset_after : std::nullopt;
  for (;;) {
    if (limit && received_.size() >= *limit) {
      Reset(connection);
      return false;
    }
    std::size_t want = limit ? std::min(block.size(), *limit - received_.size()) : block.size();
    Input input = connection.Receive(block.data(), want, Clock::now() + io_timeout_, stop_);
    switch (input.kind) {
      case Input::Kind::kData:
        received_.append(block.data(), input.size);
        continue;
      case Input::Kind::kStopped:
        return true;
      case Input::Kind::kTimeout:
        recorder_.Mismatch("data connection " + std::to_string(number_) +
                           ": the client neither sent nor closed for " +
                           std::to_string(io_timeout_.count()) + " ms");
        return true;
      case Input::Kind::kEnd:
      case Input::Kind::kCloseNotify:
        // Under TLS the words say whether the client ended its upload with close_notify.
        Note("received " + std::to_string(received_.size()) + " bytes, " +
             (connection.Secure() ? input.error : "the client closed"));
        return true;
      case Input::Kind::kError:
        Note("received " + std::to_string(received_.size()) + " bytes, then " + input.error);
        return true;
    }
  }
}

void DataJob::Reset(Channel& connection) {
  connection.Reset(kDrainLimit, stop_);
  Note("reset");
}

void DataJob::CloseInOrder(Channel& connection) {
  const bool secure = connection.Secure();
  const bool notified = action_.close_notify && connection.SendCloseNotify(io_timeout_, stop_);
  // Unread input would turn the close into a reset and could cost the client its last bytes.
  connection.ReceivePending(received_);
  connection.Close();
  Note(!secure ? "closed" : notified ? "closed with close_notify" : "closed without close_notify");
}

void DataJob::Note(const std::string& text) {
  recorder_.Note("D" + std::to_string(number_) + " " + text);
}

}  // namespace tarnex::testing::detail
