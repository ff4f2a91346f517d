// The words a fake FTP server script is written in. A script is a list of sessions, one per
// control connection in the order the client opens them; a session is a list of steps that
// reads like a transcript:
//
//   Session{
//     Greeting("220 Ready\r\n"),
//     Expect("USER joe", "331 Password required\r\n"),
//     Expect("PASV", "227 Entering Passive Mode ({pasv})\r\n"),
//     Expect("RETR a.txt", "150 Opening (5 bytes)\r\n", Data::Send("hello")),
//     Reply("226 Done\r\n"),
//     Expect("QUIT", "221 Bye\r\n"), Close(),
//   }
//
// Reply texts are sent byte for byte (nothing adds CR LF). Placeholders in a reply open a
// passive data endpoint on the server's loopback address (127.0.0.1, or ::1 for a server on
// IPv6): "{pasv}" becomes h1,h2,h3,h4,p1,p2 (always 127,0,0,1 and the port), "{epsv}" becomes
// |||port|, "{pasv_port}" the port's two numbers alone (for a reply that names another
// address), "{pasv_closed}" the numbers of a loopback port that refuses connections.
// A received "PORT h1,h2,h3,h4,p1,p2" or "EPRT |f|address|port|" makes the server connect
// there for the next data action (loopback addresses only).
//
// A test that needs the server to act after something on its own side (the client gave up,
// say) uses gates instead of racing a pause against a time-out:
//
//   Gate late("late"), sent("sent");
//   Session{..., Expect("NOOP"), WaitFor(late), Reply("200 late\r\n"), Open(sent), ...}
//   ... the client's NOOP times out ...
//   late.Open();
//   ASSERT_TRUE(sent.Wait(std::chrono::seconds(5)));  // the late reply is readable now
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarnex::testing {

// A latch shared by a test and a server script: shut until opened, then open for good. Copies
// share one state, so the test and the script each keep a copy and either may outlive the other.
class Gate {
 public:
  explicit Gate(std::string name = "gate");

  // Opening is a change of the shared state, which copies held as const still share.
  void Open() const;
  bool IsOpen() const;
  // True once the gate is open; false when `timeout` passed first.
  bool Wait(std::chrono::milliseconds timeout) const;
  const std::string& Name() const { return name_; }

 private:
  struct State;
  std::shared_ptr<State> state_;
  std::string name_;
};

// What an expected command must look like: the exact line (without CR LF), a prefix followed by
// "*" ("PORT *"; a lone "*" accepts anything), or a predicate with a description.
class Match {
 public:
  Match(const char* pattern);  // NOLINT(google-explicit-constructor): reads like a transcript
  Match(std::string pattern);  // NOLINT(google-explicit-constructor)
  static Match Any();
  static Match If(std::string description, std::function<bool(const std::string&)> predicate);

  bool operator()(const std::string& command) const { return predicate_(command); }
  const std::string& Description() const { return description_; }

 private:
  Match(std::string description, std::function<bool(const std::string&)> predicate);

  std::string description_;
  std::function<bool(const std::string&)> predicate_;
};

// What happens on one data connection. Build one with the Data:: functions and refine it.
// A data connection of a session that ran ProtectData() starts with the server's side of a TLS
// handshake, which takes a resumed session as well as a new one (the transcript says which:
// "D0 TLS handshake: TLSv1.3, session resumed"), and its orderly ending sends close_notify
// before the FIN.
class DataAction {
 public:
  enum class Ending { kClose, kReset, kReceiveUntilClientCloses, kStallUntilClientCloses };

  // Sends the payload in pieces of `size` bytes with `pause` after each piece.
  DataAction Chunks(std::size_t size,
                    std::chrono::milliseconds pause = std::chrono::milliseconds(0)) const;
  // Resets the connection (SO_LINGER 0) once `bytes` bytes have moved: payload bytes sent when
  // there is a payload, else bytes received.
  DataAction ResetAfter(std::size_t bytes) const;
  // After sending, keeps the connection open until the client closes it.
  DataAction ThenHold() const;
  // Under TLS, ends with a FIN and no close_notify: the cut a hostile network or server makes.
  DataAction WithoutCloseNotify() const;
  // Sends only the first `bytes` bytes of the payload, then ends the connection with a FIN and,
  // under TLS, without close_notify: a download cut short.
  DataAction CutAfter(std::size_t bytes) const;
  // Waits before connecting (active) or accepting (passive).
  DataAction ConnectAfter(std::chrono::milliseconds delay) const;
  // The script goes on at once while the transfer runs on its own thread (so that, say, an
  // ABOR can be read during the transfer, or the closing reply sent before the data ends).
  DataAction InBackground() const;
  // Active mode: before the real data connection, somebody at `source` (another loopback
  // address) connects to the client's listener, sends a line and waits for the client to
  // close on it; with `then_real` false nobody else comes.
  DataAction IntruderFirst(std::string source, bool then_real = true) const;

  bool connects = true;
  std::shared_ptr<const std::string> payload = std::make_shared<const std::string>();
  std::size_t chunk_size = 0;  // 0 = the whole payload at once
  std::chrono::milliseconds chunk_pause{0};
  std::optional<std::size_t> reset_after;
  std::optional<std::size_t> cut_after;
  Ending ending = Ending::kClose;
  bool close_notify = true;
  std::chrono::milliseconds connect_delay{0};
  bool background = false;
  std::string intruder_from;  // empty: no intruder
  bool real_after_intruder = true;
};

namespace Data {
// Connect, send the bytes, close in order.
DataAction Send(std::string bytes);
// Connect, read until the client closes (kept for ReceivedData), close. Under TLS the client's
// close_notify and a bare FIN both end it; the transcript says which it was.
DataAction Receive();
// Connect and close at once: an empty transfer.
DataAction Close();
// Connect and reset at once.
DataAction Reset();
// Connect, send nothing, keep the connection open until the client closes it.
DataAction Hold();
// Connect, then neither read nor send until the client closes: an upload to a server whose
// disk hangs stalls once the buffers on the way are full.
DataAction Stall();
// Never make the data connection: no connect after PORT, no accept after PASV (the passive
// listener stays open, so the client's connect succeeds and then nothing comes).
DataAction NeverConnect();
}  // namespace Data

struct Step {
  enum class Kind {
    kSend,
    kExpect,
    kPause,
    kDrip,
    kClose,
    kReset,
    kSilence,
    kTransfer,
    kCloseData,
    kAwaitData,
    kWaitFor,
    kOpen,
    kStartTls,
    kProtectData,
    kCloseWithoutCloseNotify,
  };

  Kind kind = Kind::kSend;
  std::optional<Match> match;          // kExpect
  std::string bytes;                   // kSend, kExpect (reply), kDrip
  std::optional<DataAction> data;      // kExpect, kTransfer
  std::chrono::milliseconds delay{0};  // kPause: how long; kDrip: between bytes
  std::optional<Gate> gate;            // kWaitFor, kOpen
};

// Sends bytes as soon as the connection is accepted.
Step Greeting(std::string bytes);
// Sends bytes (an unsolicited reply, a piece of one, garbage).
Step Reply(std::string bytes);
// Reads one command line, checks it, sends the reply (may be empty) and then runs the data
// action, if any; a synchronous action finishes before the next step begins.
Step Expect(Match command, std::string reply = {});
Step Expect(Match command, std::string reply, DataAction data);
// Runs a data action as a step of its own (say, data before the reply that announces it).
Step Transfer(DataAction data);
Step Pause(std::chrono::milliseconds duration);
// Sends the bytes one at a time with `interval` between them.
Step Drip(std::string bytes, std::chrono::milliseconds interval);
// Orderly close of the control connection (FIN, after every byte already sent; under TLS after
// close_notify); ends the session.
Step Close();
// Under TLS, closes the control connection with a FIN and no close_notify; ends the session.
Step CloseWithoutCloseNotify();
// The server's side of a TLS handshake on the control connection, now (after the reply to AUTH
// TLS); every byte after it, both ways, goes through TLS. Needs FakeFtpServerOptions'
// tls_certificate.
Step StartTls();
// Data connections of this session from now on are TLS ones (after the reply to PROT P).
Step ProtectData();
// Resets the control connection (SO_LINGER 0); ends the session.
Step Reset();
// Never answers again: keeps the connection open, recording but not checking what arrives,
// until the client closes it or the server is destroyed.
Step Silence();
// Closes the data connections still running in the background (as a server does on ABOR).
Step CloseData();
// Waits until the background data connections have finished on their own.
Step AwaitData();

// Waits until the test opens the gate; a gate still shut after the server's io_timeout is a
// mismatch that ends the session.
Step WaitFor(Gate gate);
// Opens the gate for the test: everything the session sent before it is in the client's
// receive buffer by then, ready to read.
Step Open(Gate gate);

struct Session {
  Session(std::initializer_list<Step> list) : steps(list) {}
  explicit Session(std::vector<Step> list) : steps(std::move(list)) {}
  std::vector<Step> steps;
};

}  // namespace tarnex::testing
