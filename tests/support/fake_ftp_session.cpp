#include "tests/support/fake_ftp_session.h"

#include <arpa/inet.h>
#include <strings.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <utility>
#include <vector>

namespace tarnex::testing::detail {
namespace {

constexpr std::size_t kMaxCommandLine = 1024 * 1024;
constexpr std::size_t kReadBlock = 64 * 1024;

std::string PortNumbers(uint16_t port) {
  return "127,0,0,1," + std::to_string(port / 256) + "," + std::to_string(port % 256);
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

// "PORT h1,h2,h3,h4,p1,p2" (verb in any case) into an address; false when malformed.
bool ParsePort(const std::string& line, sockaddr_storage& address) {
  if (line.size() < 5 || strncasecmp(line.c_str(), "PORT ", 5) != 0) return false;
  unsigned v[6];
  char tail = 0;
  if (std::sscanf(line.c_str() + 5, "%u,%u,%u,%u,%u,%u%c", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5],
                  &tail) != 6) {
    return false;
  }
  for (unsigned value : v) {
    if (value > 255) return false;
  }
  address = sockaddr_storage{};
  auto& v4 = reinterpret_cast<sockaddr_in&>(address);
  v4.sin_family = AF_INET;
  v4.sin_addr.s_addr = htonl((v[0] << 24) | (v[1] << 16) | (v[2] << 8) | v[3]);
  v4.sin_port = htons(static_cast<uint16_t>(v[4] * 256 + v[5]));
  return true;
}

// "EPRT |1|127.0.0.1|5001|" or "EPRT |2|::1|5001|" into an address; false when malformed.
bool ParseEprt(const std::string& line, sockaddr_storage& address) {
  if (line.size() < 6 || strncasecmp(line.c_str(), "EPRT ", 5) != 0) return false;
  const std::string argument = line.substr(5);
  const char d = argument.front();
  std::vector<std::string> fields;
  for (size_t start = 1, end; (end = argument.find(d, start)) != std::string::npos;
       start = end + 1) {
    fields.push_back(argument.substr(start, end - start));
  }
  if (fields.size() != 3 || (fields[0] != "1" && fields[0] != "2")) return false;
  const int family = fields[0] == "1" ? AF_INET : AF_INET6;
  const int port = std::atoi(fields[2].c_str());
  if (port <= 0 || port > 65535) return false;
  address = LoopbackAddress(family, static_cast<uint16_t>(port));
  void* host = family == AF_INET6
                   ? static_cast<void*>(&reinterpret_cast<sockaddr_in6&>(address).sin6_addr)
                   : static_cast<void*>(&reinterpret_cast<sockaddr_in&>(address).sin_addr);
  return ::inet_pton(family, fields[1].c_str(), host) == 1;
}

int FamilyOf(int fd) {
  sockaddr_storage address{};
  socklen_t size = sizeof address;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) return AF_INET;
  return address.ss_family;
}

}  // namespace

SessionRunner::SessionRunner(Recorder& recorder, int number, Fd control, const Session& script,
                             std::chrono::milliseconds io_timeout, SSL_CTX* tls, bool implicit_tls)
    : recorder_(recorder),
      number_(number),
      control_(std::move(control)),
      script_(script),
      io_timeout_(io_timeout),
      tls_(tls),
      implicit_tls_(implicit_tls) {}

SessionRunner::~SessionRunner() {
  EndData(true);
}

void SessionRunner::Run() {
  try {
    recorder_.Note("S" + std::to_string(number_) + " connected from " + PeerText(control_.Get()));
    if (implicit_tls_ &&
        Handshake("session " + std::to_string(number_) + " implicit TLS", 0) == Flow::kOver) {
      return;
    }
    for (std::size_t i = 0; i < script_.steps.size(); ++i) {
      if (RunStep(i) == Flow::kOver) return;
    }
    EndData(false);
    Finish();
    ReadUntilClientCloses(Clock::time_point::max(), true);
  } catch (const std::exception& error) {
    recorder_.Mismatch("session " + std::to_string(number_) + ": internal error: " + error.what());
  }
}

SessionRunner::Flow SessionRunner::RunStep(std::size_t index) {
  const Step& step = script_.steps[index];
  switch (step.kind) {
    case Step::Kind::kSend:
      return SendBytes(index, ExpandPlaceholders(step.bytes));
    case Step::Kind::kExpect:
      return ExpectCommand(index);
    case Step::Kind::kPause:
      return SleepFor(step.delay, [this] { return Stopped(); }) ? Flow::kNext : Flow::kOver;
    case Step::Kind::kDrip:
      return DripBytes(index);
    case Step::Kind::kTransfer:
      return RunData(index, *step.data) ? Flow::kNext : Flow::kOver;
    case Step::Kind::kCloseData:
      EndData(true);
      held_listeners_.clear();
      return Flow::kNext;
    case Step::Kind::kAwaitData:
      EndData(false);
      return Flow::kNext;
    case Step::Kind::kClose:
      CloseInOrder(true);
      return Flow::kOver;
    case Step::Kind::kCloseWithoutCloseNotify:
      CloseInOrder(false);
      return Flow::kOver;
    case Step::Kind::kStartTls:
      return StartTls(index);
    case Step::Kind::kProtectData:
      protect_data_ = true;
      recorder_.Note("S" + std::to_string(number_) + " protects its data connections");
      return Flow::kNext;
    case Step::Kind::kReset:
      ResetConnection();
      return Flow::kOver;
    case Step::Kind::kSilence:
      Finish();
      ReadUntilClientCloses(Clock::time_point::max(), false);
      return Flow::kOver;
    case Step::Kind::kWaitFor:
      return AwaitGate(index);
    case Step::Kind::kOpen:
      step.gate->Open();
      recorder_.Note("S" + std::to_string(number_) + " opened " + step.gate->Name());
      return Flow::kNext;
  }
  return Flow::kOver;
}

SessionRunner::Flow SessionRunner::AwaitGate(std::size_t index) {
  const Gate& gate = *script_.steps[index].gate;
  const auto deadline = Clock::now() + io_timeout_;
  // In short slices, so that the server's destructor is obeyed at once.
  while (!gate.Wait(std::chrono::milliseconds(20))) {
    if (Stopped()) return Flow::kOver;
    if (Clock::now() >= deadline) {
      recorder_.Mismatch(Where(index) + ": " + gate.Name() + " was not opened within " +
                         std::to_string(io_timeout_.count()) + " ms");
      return Flow::kOver;
    }
  }
  recorder_.Note("S" + std::to_string(number_) + " passed " + gate.Name());
  return Flow::kNext;
}

SessionRunner::Flow SessionRunner::StartTls(std::size_t index) {
  if (control_.Secure()) {
    recorder_.Mismatch(Where(index) + ": the script starts TLS on a connection already under it");
    return Flow::kOver;
  }
  // The client must wait for the reply to its AUTH before its first TLS byte; anything it sent
  // on is no command this server could read now, and an injection a client has to avoid.
  if (input_pos_ < input_.size()) {
    recorder_.Mismatch(Where(index) + ": " + std::to_string(input_.size() - input_pos_) +
                       " bytes came in the clear before the TLS handshake");
    return Flow::kOver;
  }
  return Handshake(Where(index), index + 1);
}

SessionRunner::Flow SessionRunner::Handshake(const std::string& where, std::size_t next) {
  IoResult result =
      control_.AcceptTls(tls_, Clock::now() + io_timeout_, [this] { return Stopped(); });
  if (result.ok) {
    recorder_.Note("S" + std::to_string(number_) + " TLS handshake: " + control_.TlsSummary());
    return Flow::kNext;
  }
  if (Stopped()) return Flow::kOver;
  recorder_.Note("S" + std::to_string(number_) + " " + result.error);
  // A client that turns the server's certificate down is fine if nothing more was expected.
  if (ExpectsMore(next) || result.timed_out) {
    recorder_.Mismatch(where + ": " + result.error);
  } else {
    Finish();
  }
  return Flow::kOver;
}

SessionRunner::Flow SessionRunner::ExpectCommand(std::size_t index) {
  const Step& step = script_.steps[index];
  const std::string& wanted = step.match->Description();
  std::string line;
  switch (ReadLine(line, Clock::now() + io_timeout_)) {
    case Read::kLine:
      break;
    case Read::kStopped:
      return Flow::kOver;
    case Read::kClosed:
      recorder_.Mismatch(Where(index) + ": expected " + wanted + ", but the client closed");
      return Flow::kOver;
    case Read::kTimeout:
      recorder_.Mismatch(Where(index) + ": expected " + wanted + ", but nothing came for " +
                         std::to_string(io_timeout_.count()) + " ms");
      return Flow::kOver;
    case Read::kTooLong:
      recorder_.Mismatch(Where(index) + ": expected " + wanted + ", received a line over " +
                         std::to_string(kMaxCommandLine) + " bytes");
      return Flow::kOver;
  }
  Received(line);
  if (!(*step.match)(line)) {
    recorder_.Mismatch(Where(index) + ": expected " + wanted + ", received \"" + Printable(line) +
                       "\"");
    return Flow::kOver;
  }
  if (!step.bytes.empty() && SendBytes(index, ExpandPlaceholders(step.bytes)) == Flow::kOver) {
    return Flow::kOver;
  }
  if (step.data && !RunData(index, *step.data)) return Flow::kOver;
  return Flow::kNext;
}

SessionRunner::Flow SessionRunner::SendBytes(std::size_t index, std::string_view bytes) {
  IoResult result = control_.Send(bytes, io_timeout_, [this] { return Stopped(); });
  if (result.ok) {
    recorder_.Note("S" + std::to_string(number_) + "> " + Printable(bytes));
    return Flow::kNext;
  }
  if (Stopped()) return Flow::kOver;
  recorder_.Note("S" + std::to_string(number_) + " " + result.error);
  // A client that hangs up on a reply it rejects is fine as long as nothing more was expected.
  if (ExpectsMore(index + 1) || result.timed_out) {
    recorder_.Mismatch(Where(index) + ": sending the reply failed (" + result.error + ")");
  } else {
    EndData(true);
    Finish();
  }
  return Flow::kOver;
}

SessionRunner::Flow SessionRunner::DripBytes(std::size_t index) {
  std::string bytes = ExpandPlaceholders(script_.steps[index].bytes);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (SendBytes(index, std::string_view(bytes).substr(i, 1)) == Flow::kOver) {
      return Flow::kOver;
    }
    bool last = i + 1 == bytes.size();
    if (!last && !SleepFor(script_.steps[index].delay, [this] { return Stopped(); })) {
      return Flow::kOver;
    }
  }
  return Flow::kNext;
}

bool SessionRunner::RunData(std::size_t index, const DataAction& action) {
  DataEndpoint endpoint = std::exchange(endpoint_, DataEndpoint{});
  int number = recorder_.NextDataNumber();
  if (!action.connects) {
    recorder_.Note("D" + std::to_string(number) + " never connects");
    if (endpoint.passive_listener.Valid()) {
      held_listeners_.push_back(std::move(endpoint.passive_listener));
    }
    return true;
  }
  if (endpoint.mode == DataEndpoint::Mode::kNone) {
    recorder_.Mismatch(Where(index) + ": data connection " + std::to_string(number) +
                       " has no PORT command or \"{pasv}\" reply before it");
    return false;
  }
  DataJob job(recorder_, number, action, std::move(endpoint), io_timeout_,
              protect_data_ ? tls_ : nullptr, [this] { return Stopped() || close_data_.load(); });
  if (action.background) {
    background_.emplace_back([job = std::move(job)]() mutable { job.Run(); });
  } else {
    job.Run();
  }
  return true;
}

SessionRunner::Read SessionRunner::ReadLine(std::string& line, Clock::time_point deadline) {
  for (;;) {
    auto end = input_.find('\n', std::max(input_pos_, scanned_));
    if (end != std::string::npos) {
      std::size_t size = end - input_pos_;
      if (size > 0 && input_[end - 1] == '\r') --size;
      line.assign(input_, input_pos_, size);
      input_pos_ = scanned_ = end + 1;
      if (input_pos_ > kReadBlock && input_pos_ * 2 > input_.size()) {
        input_.erase(0, input_pos_);  // keep the buffer short over thousands of commands
        input_pos_ = scanned_ = 0;
      }
      return Read::kLine;
    }
    scanned_ = input_.size();
    if (input_.size() - input_pos_ > kMaxCommandLine) return Read::kTooLong;
    std::size_t old_size = input_.size();
    input_.resize(old_size + kReadBlock);
    Input input = control_.Receive(input_.data() + old_size, kReadBlock, deadline,
                                   [this] { return Stopped(); });
    input_.resize(old_size + (input.kind == Input::Kind::kData ? input.size : 0));
    switch (input.kind) {
      case Input::Kind::kData:
        continue;
      case Input::Kind::kStopped:
        return Read::kStopped;
      case Input::Kind::kTimeout:
        return Read::kTimeout;
      case Input::Kind::kEnd:
      case Input::Kind::kCloseNotify:
      case Input::Kind::kError:
        // How a TLS client left tells whether it closed its session in order.
        if (control_.Secure() || input.kind == Input::Kind::kError) {
          recorder_.Note("S" + std::to_string(number_) + " " + input.error);
        }
        return Read::kClosed;
    }
  }
}

void SessionRunner::Received(const std::string& line) {
  recorder_.Command(line);
  recorder_.Note("S" + std::to_string(number_) + "< " + Printable(line));
  sockaddr_storage address{};
  if (!ParsePort(line, address) && !ParseEprt(line, address)) return;
  // Data connections go to loopback only, whatever a client under test asks for.
  if (!IsLoopback(address)) {
    recorder_.Mismatch("session " + std::to_string(number_) + ": \"" + line +
                       "\" names an address outside 127.0.0.0/8; no data connection goes there");
    return;
  }
  endpoint_ = DataEndpoint{};
  endpoint_.mode = DataEndpoint::Mode::kActive;
  endpoint_.active = address;
}

std::string SessionRunner::ExpandPlaceholders(std::string text) {
  if (text.find("{pasv") == std::string::npos && text.find("{epsv}") == std::string::npos) {
    return text;
  }
  const int family = FamilyOf(control_.Get());
  for (const std::string placeholder : {"{pasv}", "{epsv}", "{pasv_port}"}) {
    if (text.find(placeholder) == std::string::npos) continue;
    endpoint_ = DataEndpoint{};
    endpoint_.mode = DataEndpoint::Mode::kPassive;
    endpoint_.passive_listener = ListenLoopback(1, family);
    const uint16_t port = LocalPort(endpoint_.passive_listener.Get());
    const std::string numbers = PortNumbers(port);
    ReplaceAll(text, placeholder,
               placeholder == "{pasv}"   ? numbers
               : placeholder == "{epsv}" ? "|||" + std::to_string(port) + "|"
                                         : numbers.substr(numbers.find(',', 8) + 1));
  }
  if (text.find("{pasv_closed}") != std::string::npos) {
    closed_ports_.push_back(BindClosedLoopbackPort(family));
    ReplaceAll(text, "{pasv_closed}", PortNumbers(LocalPort(closed_ports_.back().Get())));
  }
  return text;
}

void SessionRunner::CloseInOrder(bool close_notify) {
  const bool notified =
      close_notify && control_.SendCloseNotify(io_timeout_, [this] { return Stopped(); });
  // close_notify and FIN first; the socket stays open to read what is still on its way, because
  // closing with unread input would turn the orderly close into a reset.
  control_.ShutdownWrite();
  recorder_.Note("S" + std::to_string(number_) + " closed" +
                 (!control_.Secure() ? ""
                  : notified         ? " with close_notify"
                                     : " without close_notify"));
  EndData(true);
  Finish();
  ReadUntilClientCloses(Clock::now() + io_timeout_, false);
  control_.Close();
}

void SessionRunner::ResetConnection() {
  // The reset must not overtake bytes the script sent just before it.
  control_.Reset(std::chrono::seconds(2), [this] { return Stopped(); });
  recorder_.Note("S" + std::to_string(number_) + " reset");
  EndData(true);
  Finish();
}

void SessionRunner::ReadUntilClientCloses(Clock::time_point deadline, bool unexpected) {
  std::string line;
  while (ReadLine(line, deadline) == Read::kLine) {
    Received(line);
    if (unexpected) {
      recorder_.Mismatch("session " + std::to_string(number_) + ": unexpected \"" +
                         Printable(line) + "\" after the end of the script");
      return;
    }
  }
}

void SessionRunner::EndData(bool force) {
  if (force) close_data_ = true;
  for (auto& thread : background_) thread.join();
  background_.clear();
  close_data_ = false;
}

void SessionRunner::Finish() {
  if (finished_) return;
  finished_ = true;
  recorder_.SessionFinished();
}

bool SessionRunner::ExpectsMore(std::size_t from) const {
  for (std::size_t i = from; i < script_.steps.size(); ++i) {
    if (script_.steps[i].kind == Step::Kind::kExpect) return true;
  }
  return false;
}

std::string SessionRunner::Where(std::size_t index) const {
  return "session " + std::to_string(number_) + " step " + std::to_string(index + 1);
}

}  // namespace tarnex::testing::detail
