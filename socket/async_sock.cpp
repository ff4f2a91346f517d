// TAsyncSock: life cycle, status reports, errors, the time-out and the socket's
// notifications.
#include "socket/async_sock.h"

#include <sys/resource.h>

#include "platform/errors.h"
#include "socket/async_sock_scopes.h"
#include "socket/socket_errors.h"
#include "socket/tls.h"

namespace tarnex {

TAsyncSock::TAsyncSock(platform::MessageLoop& loop)
    : loop_(loop),
      timer_(std::make_unique<TThreadTimer>(loop)),
      notifier_(loop, [this](net::SocketEvent event,
                             uint16_t error) { HandleSocketEvent(event, error); }),
      io_buffer_(kIoBufferSize) {
  ReportStatus(kLevelTrace, "Create");
  timer_->SetEnabled(false);
  timer_->SetOnTimer([this](TThreadTimer&) { TimerTriggered(); });
  InitializeWinsock();
}

TAsyncSock::~TAsyncSock() {
  try {
    ReportStatus(kLevelTrace, "Destroy");
    TAsyncSock::Abort();
    Cancel();
  } catch (...) {
    NoteSwallowed("Destroy");
  }
  timer_.reset();
  lookup_.reset();  // a lookup still running is abandoned; its result is dropped
  destroying_ = true;
  try {
    RequestCloseSocket();
  } catch (...) {
    NoteSwallowed("Destroy");
  }
  notifier_.Detach();  // before the handles close their descriptors
}

void TAsyncSock::NoteSwallowed(const char* where) noexcept {
  std::string text = std::string(where) + ": ";
  try {
    throw;
  } catch (const Exception& error) {
    text += error.Message();
  } catch (const std::exception& error) {
    text += error.what();
  } catch (...) {
    text += "unknown error";
  }
  if (!OnSwallowedError) return;
  try {
    OnSwallowedError(*this, text);
  } catch (...) {
    // The trace itself failed; there is nowhere left to tell.
  }
}

void TAsyncSock::InitializeWinsock() {
  ReportStatus(kLevelTrace, "Initializing Winsock");
  DescribeSocketLibrary();
  try {
    CreateSocket(/*abortive_close=*/true);
  } catch (const ESockError&) {
    throw ESockError("Initializaton of windows sockets failed");
  }
}

void TAsyncSock::DescribeSocketLibrary() {
  rlimit files{};
  long max_sockets =
      ::getrlimit(RLIMIT_NOFILE, &files) == 0 ? static_cast<long>(files.rlim_cur) : 0;
  WinsockInfo = {
      "Version= 1.1",
      "High Version= 1.1",
      "Description= POSIX sockets, TCP over IPv6 and IPv4",
      "System= Running",
      "Max Sockets= " + std::to_string(max_sockets),
      "Max Udp pack size= 65507",
  };
}

void TAsyncSock::CreateSocket(bool abortive_close, int family) {
  const net::NewSocket made = net::CreateTcpSocket(family);
  if (made.fd < 0) FailSocketCall(made.error);
  net::SocketHandle handle(made.fd);
  if (abortive_close) FailSocketCall(net::SetLinger(made.fd, true, 0));
  UseSocket(std::move(handle), abortive_close, family);
}

void TAsyncSock::UseSocket(net::SocketHandle handle, bool abortive_close, int family) {
  notifier_.Detach();
  transport_.reset();
  socket_ = std::move(handle);
  family_ = family;
  abortive_close_ = abortive_close;
  sticky_error_ = 0;
  received_.Clear();
  if (!socket_.Valid()) return;
  transport_ = std::make_unique<net::PlainTransport>(socket_.Get());
  notifier_.Attach(socket_.Get());
}

void TAsyncSock::EnsureSocket(int family) {
  if (!socket_.Valid()) {
    CreateSocket(/*abortive_close=*/false, family);
  } else if (family_ != family) {
    // A socket is of one family for good: an address of the other needs another socket,
    // which closes as the one it replaces would have.
    CreateSocket(abortive_close_, family);
  }
}

void TAsyncSock::RenewSocket(int family) {
  Connected = false;
  accepted_.Reset();
  UseSocket(net::SocketHandle(), false, family);
  CreateSocket(/*abortive_close=*/false, family);
}

void TAsyncSock::ReportStatus(uint8_t level, const std::string& text) {
  if (level > ReportLevel) return;
  StatusText = text;
  if (destroying_ || !OnStatus) return;
  try {
    OnStatus(*this, StatusText);
  } catch (...) {
    // A status display must never break the operation it describes.
    NoteSwallowed("Status display");
  }
}

std::string TAsyncSock::ErrorMessage(uint16_t code) {
  ReportStatus(kLevelTrace, "Looking Up Error Message");
  return net::ErrorMessageText(code);
}

void TAsyncSock::CheckSocketError(uint16_t code, uint16_t tolerated, std::string& msg) {
  LastError = code;
  if (code != tolerated && code > 10000) RaiseSocketError(code);
  msg.clear();
}

void TAsyncSock::RaiseSocketError(uint16_t code) {
  LastError = code;
  const std::string msg = ErrorMessage(code);
  if (OnError) OnError(*this, code, msg);
  throw ESockError(msg);
}

void TAsyncSock::CheckSocketError(uint16_t code, uint16_t tolerated) {
  std::string msg;
  CheckSocketError(code, tolerated, msg);
}

void TAsyncSock::FailSocketCall(uint16_t code) {
  if (code != 0) RaiseSocketError(code);
}

void TAsyncSock::Cancel() {
  ReportStatus(kLevelTrace, "Canceling");
  Canceled = true;
}

void TAsyncSock::Abort() {
  ReportStatus(kLevelTrace, "Abort");
  Cancel();
}

void TAsyncSock::Disconnect() {
  ReportStatus(kLevelTrace, "Disconnecting");
  RequestCloseSocket();
}

void TAsyncSock::CheckConnection() {
  ReportStatus(kLevelTrace, "Checking Connection");
  bool asked = false;
  while (!Connected) {
    bool handled = false;
    if (!asked && OnConnectionRequired) OnConnectionRequired(*this, handled);
    asked = true;
    if (!handled) throw Exception("Not Connected");
  }
}

void TAsyncSock::RequestCloseSocket() {
  ReportStatus(kLevelEvents, "Request Close Socket");
  Connected = false;
  accepted_.Reset();
  bool had_socket = socket_.Valid();
  uint16_t close_error = 0;
  if (had_socket) {
    notifier_.Detach();
    transport_.reset();
    sticky_error_ = 0;
    received_.Clear();
    close_error = net::CloseSocket(socket_.Release());
  }
  if (destroying_) return;
  // The fresh socket is there before anyone hears of the close, so that a handler of
  // OnDisconnect may connect again at once.
  CreateSocket(/*abortive_close=*/false, family_);
  if (close_error != 0) {
    CheckSocketError(close_error, net::kWsaEWouldBlock);
  } else if (had_socket && OnDisconnect) {
    OnDisconnect(*this);
  }
}

void TAsyncSock::TimerOn() {
  ReportStatus(kLevelTrace, "Timer On");
  TimedOut = false;
  timer_->SetInterval(TimeOut > 0 ? static_cast<uint32_t>(TimeOut) : 0);
  timer_->SetEnabled(true);
}

void TAsyncSock::TimerOff() {
  ReportStatus(kLevelTrace, "Timer Off");
  timer_->SetEnabled(false);
}

void TAsyncSock::TimerTriggered() {
  ReportStatus(kLevelTrace, "Timer Triggered");
  TimerOff();
  TimedOut = true;
  EventSignalled = true;
  Abort();
}

void TAsyncSock::HandleSocketEvent(net::SocketEvent event, uint16_t error) {
  try {
    LastEventOk = error == 0;
    switch (event) {
      case net::SocketEvent::kRead:
        if (OnDataAvailable) OnDataAvailable(*this);
        break;
      case net::SocketEvent::kAccept:
        if (accept_signals_) EventSignalled = true;
        Connected = true;
        break;
      case net::SocketEvent::kConnect:
        if (!LastEventOk) break;
        Connected = true;
        if (OnConnect) OnConnect(*this);
        break;
      case net::SocketEvent::kClose:
        // A close with data still waiting is left to the reader, which ends on its own; the
        // notification comes again once the data has been read.
        if (operations_ == 0 && !DataAvailable()) RequestCloseSocket();
        break;
    }
  } catch (...) {
    // Notifications arrive inside somebody else's wait: nothing may escape into it.
    NoteSwallowed("Socket notification");
  }
}

void TAsyncSock::HandleLookupDone(const net::LookupResult& result) {
  LastEventOk = result.error == 0 && !result.addresses.empty();
  if (!LastEventOk) LastError = result.error;
  lookup_result_ = result;
  EventSignalled = true;
}

namespace {
constexpr int kWaitSliceMs = 2;
// After this many empty slices in a row (about 100 ms of silence) a wait sleeps longer.
constexpr int kBusyWaits = 50;
constexpr int kQuietSliceMs = 10;
}  // namespace

void TAsyncSock::WaitForSocket(short events) {
  pollfd ready{socket_.Get(), events, 0};
  loop_.WaitAndProcess(kWaitSliceMs, {&ready, 1});
}

void TAsyncSock::WaitForSocket(short events, int& quiet_waits) {
  // Bytes on the socket, a due timer or a posted call end any wait at once; the slice only
  // says how often a wait with nothing to do wakes up. A peer that stays silent for long
  // would otherwise cost a wake-up every 2 ms; 10 ms still gives a toolkit its turn well
  // within a frame.
  pollfd ready{socket_.Get(), events, 0};
  const int slice = quiet_waits < kBusyWaits ? kWaitSliceMs : kQuietSliceMs;
  if (quiet_waits < kBusyWaits) ++quiet_waits;
  loop_.WaitAndProcess(slice, {&ready, 1});
}

}  // namespace tarnex
