// The control connection: connect and log in, replies with their continuation lines, QUIT.
#include <algorithm>
#include <cstring>
#include <exception>

#include "ftpproto/proto_ftp.h"
#include "ftpproto/reply_parsing.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/text_encoding.h"

namespace tarnex {

namespace {
constexpr int16_t kNeedPassword = 331;
constexpr const char* kNoLateReply =
    "Connection closed: the server did not answer an earlier command";

bool IsCancellation(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const EAbortError&) {
    return true;
  } catch (...) {
    return false;
  }
}
}  // namespace

TProtoFTP::TProtoFTP() {
  // The control connection reads its replies itself; a read notification needs no handling.
  control_.OnDataAvailable = [](TAsyncSock&) {};
  control_.OnConnectionFailed = [this](TAsyncSock&) {
    if (OnConnectionFailed) OnConnectionFailed(*this);
  };
  control_.OnSwallowedError = [this](TAsyncSock&, const std::string& text) {
    if (OnSwallowedError) OnSwallowedError(text);
  };
}

TProtoFTP::~TProtoFTP() {
  control_.Cancel();
  data_connection_.reset();
}

void TProtoFTP::SendCommand(const std::string& command, bool settle_first) {
  SendTogether({command}, settle_first);
}

void TProtoFTP::SendTogether(const std::vector<std::string>& commands, bool settle_first) {
  // Converted before anything moves: a name that cannot go as UTF-8 fails the commands alone.
  // They go in one write: sent apart, each would wait for the one before it to be
  // acknowledged (a round trip) before it left.
  std::string text;
  for (const std::string& command : commands) {
    const std::string wire = ToWire(command);
    if (!text.empty()) text += "\r\n";
    text.append(wire.c_str(), ::strnlen(wire.c_str(), wire.size()));  // as Writeln cuts it
  }
  if (settle_first) SettleOwedReplies();
  for (const std::string& command : commands) {
    if (OnDialogue) OnDialogue(true, CommandForTrace(command));
  }
  control_.Writeln(text);
  owed_replies_ += static_cast<int>(commands.size());
}

std::string TProtoFTP::ToWire(const std::string& command) const {
  if (!names_in_utf8_ || platform::CurrentTextEncoding() != platform::TextEncoding::Cp932) {
    return command;
  }
  if (auto utf8 = platform::TryCp932ToUtf8(command)) return *utf8;
  // The message reaches the log: a PASS shows as the trace shows it, without its password.
  throw Exception("Not sent, the name cannot be written as UTF-8: " + CommandForTrace(command));
}

std::string TProtoFTP::FromWire(std::string line) const {
  if (!names_in_utf8_ || platform::CurrentTextEncoding() != platform::TextEncoding::Cp932) {
    return line;
  }
  // For the log and the listing: a character Shift-JIS lacks shows as "?".
  return platform::Utf8ToCp932(line);
}

std::string TProtoFTP::ReadReplyLine() {
  std::string line = FromWire(control_.ReadLn());
  if (!line.empty() && OnDialogue) {
    std::string_view shown = line;
    while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r')) shown.remove_suffix(1);
    OnDialogue(false, std::string(shown));
  }
  return line;
}

FtpReply TProtoFTP::ReadReply() {
  // Replies often come in pairs (a 1xx and the next, the replies of commands sent together):
  // a server that holds the second until the first is acknowledged gets that at once.
  if (control_.Connected) control_.AcknowledgeAtOnce();
  FtpReply reply;
  reply.line = ReadReplyLine();
  if (!reply.line.empty()) ReportProtocol(reply.line);
  RequireReply(reply.line);
  reply.lines.push_back(reply.line);
  ReadContinuation(reply.lines);
  reply.code = ValidReplyCode(reply.line).value_or(0);
  // A reply without a proper code still answers the command it came for.
  if (!IsPreliminaryReply(reply.code) && owed_replies_ > 0) --owed_replies_;
  return reply;
}

int16_t TProtoFTP::CodeOf(const std::string& line) {
  const auto code = ValidReplyCode(line);
  if (!code) throw EInvalidReply(line);
  return *code;
}

void TProtoFTP::SettleOwedReplies() {
  if (owed_replies_ <= 0) return;
  // Replies of an earlier command that was given up on are still on their way: they are
  // read here, and never taken for the answer to the command about to be sent. Whoever
  // supervises the command about to be sent bounds this wait too.
  try {
    while (owed_replies_ > 0) ReadReply();
  } catch (const EAbortError&) {
    owed_replies_ = 0;
    CloseWithoutQuit();
    throw ESockError(kNoLateReply);
  } catch (...) {
    owed_replies_ = 0;
    throw;
  }
}

FtpReply TProtoFTP::Exchange(const std::string& command, bool answers) {
  control_.ReportStatus(TAsyncSock::kLevelTrace, "Transaction");
  if (answers) answer_.code = 0;
  SendCommand(command);
  return ReadAnswer(answers);
}

FtpReply TProtoFTP::ReadAnswer(bool answers) {
  // The answer's code and line always belong together: a reply that never came leaves both
  // empty, one that is no reply leaves its line and the code 0.
  if (answers) answer_.line.clear();
  FtpReply reply = ReadReply();
  if (answers) answer_ = FtpReply{0, reply.line, reply.lines};
  if (reply.code == 0) throw EInvalidReply(reply.line);
  if (answers) answer_.code = reply.code;
  return reply;
}

std::string TProtoFTP::ReadReplyContinuation(const std::string& first_line) {
  // Only reported: the reply, its code and LastReply stay those of the first line.
  std::vector<std::string> lines{first_line};
  ReadContinuation(lines);
  return lines.back();
}

void TProtoFTP::ReadContinuation(std::vector<std::string>& lines) {
  // The continuation rule, the one place it is written: a reply goes on while its lines
  // begin with a blank or have "-" in fourth place (codes are not compared).
  while (IsReplyContinuation(lines.back())) {
    std::string line = ReadReplyLine();
    // A server that closes the connection in the middle of a reply has not answered.
    RequireReply(line);
    ReportProtocol(line);
    lines.push_back(std::move(line));
  }
}

void TProtoFTP::RequireReply(const std::string& reply) {
  // An empty reply is a connection the server closed: never a success with code 0. So is a
  // line that the close cut short before its line end: what the server meant is unknown.
  if (reply.empty() || reply.back() != '\n') throw ESockError("Connection closed by server");
}

void TProtoFTP::ReadGreeting() {
  // The greeting's code is that of its last line; both ends must be proper reply lines.
  answer_.code = 0;
  const FtpReply greeting = ReadReply();
  answer_ = FtpReply{0, greeting.line, greeting.lines};
  CodeOf(greeting.line);
  answer_.line = greeting.lines.back();
  answer_.code = CodeOf(answer_.line);
  if (answer_.code > 400) {
    if (OnConnectionFailed) OnConnectionFailed(*this);
    throw Refusal(answer_.line);
  }
}

FtpReply TProtoFTP::LoginCommand(const std::string& command) {
  const FtpReply reply = Exchange(command);
  if (reply.code > 400 && reply.code < 600) {
    if (OnConnectionFailed) OnConnectionFailed(*this);
    throw Refusal(reply.line);
  }
  return reply;
}

FtpReply TProtoFTP::LogIn() {
  control_.Canceled = false;
  if (control_.Connected) return answer_;
  // A CA file that cannot be read or a malformed fingerprint fails before anything is sent.
  tls_.reset();
  protect_data_ = false;
  if (Tls != TlsMode::Off)
    tls_ = std::make_unique<net::TlsContext>(net::TlsPolicy{TlsCaFile, TlsFingerprint});
  control_.ClearInput();
  control_.Host = Host;
  control_.Port = Port;
  control_.Proxy = Proxy;
  control_.ProxyPort = ProxyPort;
  control_.Connect();
  owed_replies_ = 1;  // the greeting
  TransferType = tmAscii;
  epsv_refused_ = false;
  port_sent_alone_ = false;
  size_unknown_ = false;
  pasv_address_noted_ = false;
  features_.clear();
  names_in_utf8_ = false;
  try {
    const FtpReply login = LogInSteps();
    if (OnConnect) OnConnect(*this);
    return login;
  } catch (...) {
    std::exception_ptr failure = std::current_exception();
    try {
      // A wait that was cancelled (the time-out) met a server that does not answer: asking it
      // for QUIT would only wait again, and this time with nothing left to end the wait. The
      // connection is closed without it.
      if (IsCancellation(failure)) {
        CloseWithoutQuit();
      } else {
        Quit();
      }
    } catch (...) {
      // The login's own failure is what the caller needs to see.
      control_.NoteSwallowed("Disconnect after a failed login");
    }
    ReportProtocol("Disconnected");
    std::rethrow_exception(failure);
  }
}

FtpReply TProtoFTP::LogInSteps() {
  if (Tls == TlsMode::Implicit) StartTlsOrClose();
  ReadGreeting();
  // Once TLS was asked for, no name or password goes out in clear.
  if (Tls == TlsMode::Explicit) SecureControlConnection();
  FtpReply last = answer_;  // the reply that decides whether a password is asked for
  if (FWAuthenticate) {
    last = LoginCommand("USER " + FWUserID);
    if (last.code == kNeedPassword) {
      ReportProtocol("PASS ");
      last = LoginCommand("PASS " + FWPassword);
    }
  }
  if ((UserID.empty() || Password.empty()) && OnAuthenticationNeeded) {
    bool handled = false;
    OnAuthenticationNeeded(*this, handled);
  }
  if (!Proxy.empty()) {
    // The proxy learns the real host; its answer is not judged.
    switch (FirewallType) {
      case TFirewallType::FTUser:
        last = Exchange("USER " + UserID + "@" + Host);
        break;
      case TFirewallType::FtOpen:
        last = Exchange("OPEN " + Host);
        break;
      case TFirewallType::FtSite:
        last = Exchange("SITE " + Host);
        break;
    }
  }
  if (Proxy.empty() || FirewallType != TFirewallType::FTUser) {
    ReportProtocol("USER " + UserID);
    last = LoginCommand("USER " + UserID);
  }
  if (last.code == kNeedPassword) {
    ReportProtocol("PASS ");  // the password itself is never reported
    last = LoginCommand("PASS " + Password);
  }
  // What follows is asked for the session's sake: the login's reply stays its answer.
  if (Tls != TlsMode::Off) ProtectDataConnections();
  ChooseNameEncoding();
  return last;
}

void TProtoFTP::SecureControlConnection() {
  const FtpReply reply = Exchange("AUTH TLS");
  if (reply.code < 200 || reply.code >= 300) {
    if (OnConnectionFailed) OnConnectionFailed(*this);
    throw Refusal("TLS refused by the server: " + reply.line);
  }
  StartTlsOrClose();
}

void TProtoFTP::StartTlsOrClose() {
  try {
    control_.StartTls(*tls_, ServerName(), false);
  } catch (const ESockError&) {
    // A connection whose handshake failed speaks neither TLS nor plain FTP: it is closed
    // without a word (not even QUIT).
    if (OnConnectionFailed) OnConnectionFailed(*this);
    CloseWithoutQuit();
    throw;
  }
}

void TProtoFTP::ProtectDataConnections() {
  for (const char* command : {"PBSZ 0", "PROT P"}) {
    const FtpReply reply = Exchange(command, /*answers=*/false);
    if (reply.code < 200 || reply.code >= 300) {
      if (OnConnectionFailed) OnConnectionFailed(*this);
      throw Refusal("TLS refused for the data connections: " + reply.line);
    }
  }
  protect_data_ = true;
}

void TProtoFTP::ChooseNameEncoding() {
  if (NameEncoding == RemoteEncoding::Cp932) return;
  if (NameEncoding == RemoteEncoding::Auto) {
    // A server that lists UTF8 speaks it already; a refused OPTS changes nothing.
    try {
      SendCommand("FEAT");
      const FtpReply answer = ReadAnswer(/*answers=*/false);
      if (answer.code >= 200 && answer.code < 300) features_ = FeatureLines(answer.lines);
    } catch (const EInvalidReply&) {
      // No feature list: the names stay as they are.
    }
    names_in_utf8_ = HasFeature(features_, "UTF8");
    if (names_in_utf8_) {
      try {
        Exchange("OPTS UTF8 ON", /*answers=*/false);
      } catch (const EInvalidReply&) {
        // Its answer does not matter.
      }
    }
  } else {
    names_in_utf8_ = true;
  }
}

void TProtoFTP::GiveUp() {
  Abort();   // the data connection, if there is one
  Cancel();  // the control connection's current wait
}

FtpReply TProtoFTP::Quit() {
  control_.Canceled = false;
  if (!control_.Connected) return answer_;
  ReportProtocol("QUIT");
  std::exception_ptr quit_error;
  FtpReply quit;
  try {
    DiscardWaitingInput();
    quit = Exchange("QUIT");
  } catch (...) {
    quit_error = std::current_exception();
  }
  owed_replies_ = 0;
  // Closes whatever happened (unless a server that owed replies lost the connection for it
  // already), which fires OnDisconnect.
  if (control_.Connected) control_.Disconnect();
  if (quit_error) std::rethrow_exception(quit_error);
  if (quit.code > 300 && quit.code < 600) throw Refusal(quit.line);
  return quit;
}

void TProtoFTP::CloseWithoutQuit() {
  control_.Canceled = false;
  owed_replies_ = 0;
  if (!control_.Connected) return;
  control_.Disconnect();
}

void TProtoFTP::DiscardWaitingInput() {
  // What the server still owes is read as replies first; only what is left is noise.
  SettleOwedReplies();
  if (control_.DataAvailable()) control_.Read(0);
}

}  // namespace tarnex
