// TAsyncSock: one TCP socket (IPv6 or IPv4) that looks synchronous to its caller. Every operation
// blocks until it is done, but while it waits the thread's message loop keeps dispatching,
// so timers, socket notifications and the user interface go on, and any of them may Cancel
// the wait. Failures are exceptions: ESockError with the socket library's text, EAbortError
// for a cancelled wait.
#pragma once

#include <netinet/in.h>
#include <poll.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/message_loop.h"
#include "socket/host_lookup.h"
#include "socket/receive_buffer.h"
#include "socket/socket_api.h"
#include "socket/socket_notifier.h"
#include "socket/thread_timer.h"
#include "socket/transport.h"

namespace tarnex {

namespace net {
class TlsContext;
}  // namespace net

class TAsyncSock {
 public:
  using NotifyEvent = std::function<void(TAsyncSock& sender)>;
  using HandlerEvent = std::function<void(TAsyncSock& sender, bool& handled)>;
  using StatusEvent = std::function<void(TAsyncSock& sender, const std::string& text)>;
  using ErrorEvent =
      std::function<void(TAsyncSock& sender, uint16_t errno_code, const std::string& msg)>;

  // Status levels: protocol text, socket events, internal trace.
  static constexpr uint8_t kLevelProtocol = 1;
  static constexpr uint8_t kLevelEvents = 4;
  static constexpr uint8_t kLevelTrace = 8;
  // One buffer of this size serves all reads and sends; it is also the longest line.
  static constexpr size_t kIoBufferSize = 65536;

  explicit TAsyncSock(platform::MessageLoop& loop = platform::MessageLoop::Current());
  virtual ~TAsyncSock();
  TAsyncSock(const TAsyncSock&) = delete;
  TAsyncSock& operator=(const TAsyncSock&) = delete;

  // Settings.
  std::string Host;     // name or dotted address of the remote host
  int Port = 0;         // remote port for Connect; local port for Listen (0 = any)
  std::string Proxy;    // when set, Connect goes here instead of Host
  // When set, Connect goes to this address (at Port) and looks nothing up: a data connection
  // goes where its control connection went.
  std::optional<net::Address> ConnectAddress;
  int ProxyPort = 0;    // ... and to this port
  int TimeOut = 0;      // ms for lookups, connects, line reads, buffer sends, captures; 0 = none
  int ReportLevel = 0;  // highest status level reported through OnStatus
  // Where Listen binds (any IPv4 address when not set; its port is ignored), and the one
  // peer host Accept takes a connection from: a connection from anywhere else is closed and
  // the wait goes on.
  std::optional<net::Address> ListenAddress;
  std::optional<net::Address> AcceptOnlyFrom;

  // Events, called only when set.
  NotifyEvent OnConnect;              // the connection is made
  NotifyEvent OnDisconnect;           // RequestCloseSocket closed the socket
  HandlerEvent OnInvalidHost;         // no address: set handled to try once more
  NotifyEvent OnHostResolved;         // a name lookup succeeded
  StatusEvent OnStatus;               // a status text was reported
  NotifyEvent OnConnectionFailed;     // Connect gives up
  ErrorEvent OnError;                 // a socket call failed
  HandlerEvent OnConnectionRequired;  // an operation found no connection
  NotifyEvent OnPacketRecvd;          // CaptureFile received a block
  NotifyEvent OnPacketSent;           // SendFile sent a piece
  NotifyEvent OnDataAvailable;        // read notification: data has arrived
  // A failure that could not be passed on (inside a notification, a destructor or a status
  // display) and was set aside; the text says where and what. For the debug trace.
  std::function<void(TAsyncSock& sender, const std::string& text)> OnSwallowedError;
  // How names are looked up; runs on a worker thread.
  net::Resolver Resolver = net::ResolveAddresses;

  // State.
  bool Connected = false;
  bool Canceled = false;
  bool TimedOut = false;
  bool LastEventOk = false;     // the last notification carried no error
  bool EventSignalled = false;  // a lookup finished, an accept is possible, or the time-out fired
  std::string StatusText;       // last reported status text
  int LastError = 0;            // last socket error code
  int64_t BytesSent = 0;        // by SendFile, never reset
  int64_t BytesReceived = 0;    // by CaptureFile, from 0 at each capture
  // SendFile lets the kernel send to a peer on this machine too, where it copies otherwise
  // (tests use it to reach the kernel's path over loopback).
  bool KernelSendToLoopback = false;
  std::vector<std::string> WinsockInfo;  // description of the socket library

  int Socket() const { return socket_.Get(); }
  TThreadTimer& Timer() { return *timer_; }
  // The address Connect went to (or, after Accept, the peer's).
  const net::Address& RemoteAddress() const { return remote_; }

  // Waits for the connection announced by the accept notification and accepts it; the
  // returned socket stays owned by this component until UseAcceptedSocket (or a close).
  virtual int Accept();
  virtual void Connect();
  virtual void Disconnect();
  virtual void Abort();

  void CheckConnection();
  void Cancel();

  // Sends `length` bytes, or with 0 the bytes up to the first zero byte (at most 65,535).
  void SendBuffer(const char* buffer, uint16_t length);
  // The text up to its first zero byte; Writeln adds CR LF.
  void Write(const std::string& text);
  void Writeln(const std::string& text);
  // `count` bytes, waiting until they are there; with 0 whatever is waiting now.
  std::string Read(uint16_t count);
  // One line with its line end; empty when the peer has closed.
  std::string ReadLn();
  // The file from `offset` on (0: the whole file).
  void SendFile(const std::string& file_name, int64_t offset = 0);
  void CaptureFile(const std::string& file_name);
  // The same into a file its caller opened and closes (or commits).
  void CaptureFile(platform::File& output);

  // Listening for one connection (Port 0: the system chooses). With `use_lookup_message`
  // the accept notification also sets EventSignalled, which Accept waits for.
  void Listen(bool use_lookup_message);
  // After Accept: the accepted connection becomes this component's socket and the
  // listening socket is closed.
  void UseAcceptedSocket();
  // Linger on with time 0 resets the connection at close; off lets the last bytes drain.
  void SetLinger(bool on);
  // The next bytes that arrive are acknowledged at once: a peer that holds a small write until
  // its last one is acknowledged (Nagle's rule) then sends it a round trip sooner.
  void AcknowledgeAtOnce();

  // Switches the connected socket to TLS with `context`, for the server `host`: the handshake
  // runs now, bounded by TimeOut and Cancel like any wait; a failure raises ESockError with
  // its reason. With `resume` the context's saved session is offered (a data connection).
  void StartTls(net::TlsContext& context, const std::string& host, bool resume);
  // Tells the peer that the TLS session ends (close_notify); nothing for a plain connection.
  // With `wait_for_peer` (after sending a file) the sending side is closed too and the call
  // waits, reading and dropping what comes, until the peer has closed its side.
  void ShutdownTls(bool wait_for_peer = false);

  std::string ErrorMessage(uint16_t code);
  void TimerOn();
  void TimerOff();
  void TimerTriggered();
  void RequestCloseSocket();
  // A socket call's failure `code` (0: none): raised unless it is `tolerated` or no WinSock
  // code (10000 and below); `msg` is then empty.
  void CheckSocketError(uint16_t code, uint16_t tolerated, std::string& msg);
  void CheckSocketError(uint16_t code, uint16_t tolerated);
  void ReportStatus(uint8_t level, const std::string& text);
  bool DataAvailable();
  void ClearInput();
  void ResolveHost();
  // The addresses of the connection's two ends; nothing when the socket is not connected.
  std::optional<net::Address> LocalEnd() const;
  std::optional<net::Address> PeerEnd() const;
  // Called inside a catch block: hands the failure being set aside to OnSwallowedError.
  void NoteSwallowed(const char* where) noexcept;
  // "192,168,1,5" and ",19,137" (port 5001): the argument of an FTP PORT command (IPv4).
  std::string LocalAddressText() const;
  std::string LocalPortText() const;
  // The local port of the socket (the one Listen bound, say).
  uint16_t LocalPort() const;

 private:
  class OperationScope;
  class TimerScope;
  // How a pump takes a failure other than "wait": raises it; takes a connection that is no
  // longer there (10057) for the end, as a reader of what the peer sent until it closed does;
  // or takes any failure for the end (draining what comes before a close).
  enum class Failures { Raise, NotConnectedEnds, End };
  enum class PumpEnd { Done, PeerEnd, Canceled };

  void InitializeWinsock();
  void DescribeSocketLibrary();
  // A fresh socket of `family` watched for notifications; raises with the socket library's
  // text. With `abortive_close` a close resets the connection instead of lingering.
  void CreateSocket(bool abortive_close, int family = AF_INET);
  // A socket of `family` (a fresh one when the present socket is of the other family).
  void EnsureSocket(int family);
  // Closes the socket without telling anyone and takes a fresh one.
  void RenewSocket(int family);
  void UseSocket(net::SocketHandle handle, bool abortive_close, int family);
  void HandleSocketEvent(net::SocketEvent event, uint16_t error);
  void HandleLookupDone(const net::LookupResult& result);
  void ResolveRemoteAddress();
  void StartConnect();
  // Waits for the connect begun; false when it failed but another address may be tried.
  bool WaitForConnection(bool another_address_left);
  // Raises the failure `code` of a socket call; nothing when it is 0.
  void FailSocketCall(uint16_t code);

  // One wait: up to 2 ms for `events` on the socket, then the loop's dispatch.
  void WaitForSocket(short events);
  // The same for a wait that may go on for long (a silent peer): `quiet_waits` counts the
  // waits in a row that found nothing, and the caller sets it to 0 when something came.
  void WaitForSocket(short events, int& quiet_waits);
  // The one loop of every transfer over the socket. `step` moves what it can (a receive, a
  // send, a splice, a handshake step) and says what it did; `moved(count)` takes the bytes and
  // says whether more is wanted. A step that must wait waits for the socket (while the message
  // loop runs, so that the time-out and Cancel can end it) with `quiet_waits` as in
  // WaitForSocket, or with short waits only when it is null. Ends when `moved` has enough, at
  // the peer's end, at a failure `failures` takes for the end, or when Canceled is found set
  // before a step; raises any other failure. Defined in async_sock_scopes.h.
  template <typename Step, typename Moved>
  PumpEnd Pump(bool receiving, int* quiet_waits, Failures failures, Step step, Moved moved);
  // A transfer call on the connection: a lost connection keeps reporting its error, and a
  // connection without a transport reports 10009.
  template <typename Call>
  net::IoResult Guarded(Call call);
  // The failure of a socket call, `code`: kept as LastError, told to OnError and raised.
  [[noreturn]] void RaiseSocketError(uint16_t code);
  // One receive from the transport into the receive buffer.
  net::IoResult Fill();
  // One receive from the transport straight into `data` (the buffer must be empty).
  net::IoResult Receive(char* data, size_t length);
  net::IoResult SendSome(const char* data, size_t length);
  // A line out of the receive buffer, searched from `scanned` on (which moves on); nothing
  // while it holds no line end. Raises when 64 KiB hold none.
  std::optional<std::string> TakeLine(size_t& scanned);
  // Sends one block of a file, counting and reporting each piece.
  void SendFileBlock(const char* data, size_t length);
  // A piece of a file went out / a block came in: counted, reported, and the loop's turn.
  void SentPiece(size_t count);
  void ReceivedBlock(size_t count);
  // The file from its position on, moved by the kernel; false (the position kept) when the
  // file cannot be sent that way, for the caller to send the rest itself.
  bool SendFileInKernel(platform::File& file);
  // A plain connection's bytes into the file through `pipe`, never through this process.
  void CaptureThroughPipe(platform::File& output, const net::Pipe& pipe);
  // `count` bytes out of the pipe into the file; raises the file's write error.
  void EmptyPipeInto(platform::File& output, const net::Pipe& pipe, size_t count,
                     bool& splice_into_file);
  void Capture(platform::File& output);
  // Hands what the receive buffer holds to a capture, as one block.
  void CaptureBuffered(platform::File& output);
  // A cancelled transfer: clears the request and raises "Socket send aborted".
  void ThrowIfCanceled();

  platform::MessageLoop& loop_;
  std::unique_ptr<TThreadTimer> timer_;
  net::SocketNotifier notifier_;
  net::SocketHandle socket_;
  int family_ = AF_INET;        // of socket_
  bool abortive_close_ = true;  // socket_ resets the connection at close
  std::unique_ptr<net::Transport> transport_;
  net::ReceiveBuffer received_;
  net::SocketHandle accepted_;  // from Accept until UseAcceptedSocket
  std::unique_ptr<net::HostLookup> lookup_;
  net::LookupResult lookup_result_;
  std::vector<net::Address> candidates_;  // the addresses Connect tries, in order
  net::Address remote_{};
  std::vector<char> io_buffer_;
  uint16_t sticky_error_ = 0;  // a lost connection keeps reporting its error
  bool accept_signals_ = false;
  bool destroying_ = false;
  // Something went out since the last receive: its answer cannot be there yet.
  bool sent_since_receive_ = false;
  int operations_ = 0;  // depth of running operations on the socket
};

}  // namespace tarnex
