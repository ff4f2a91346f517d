// The control connection: connect and log in, replies with their continuation lines, QUIT.
#include <exception>

#include "ftpproto/proto_ftp.h"
#include "ftpproto/reply_parsing.h"
#include "platform/errors.h"
#include "socket/reply_code.h"

namespace tarnex {

namespace {
constexpr int16_t kNeedPassword = 331;

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
  Port = 21;
  // The control connection reads its replies itself; a read notification needs no handling.
  OnDataAvailable = [](TAsyncSock&) {};
}

TProtoFTP::~TProtoFTP() {
  Cancel();
  data_connection_.reset();
  directory_list_.reset();
}

void TProtoFTP::Transaction(const std::string& command, std::string& reply) {
  TAsyncSock::Transaction(command, reply);
  ReadReplyContinuation(reply);
}

void TProtoFTP::ReadReplyContinuation(const std::string& first_line) {
  // Only reported: the reply, its code and LastReply stay those of the first line.
  std::string line = first_line;
  while (IsReplyContinuation(line)) {
    line = ReadLn();
    if (line.empty()) break;  // the server closed the connection
    ReportStatus(1, line);
  }
}

void TProtoFTP::RequireReply(const std::string& reply) const {
  // An empty reply is a connection the server closed: never a success with code 0. So is a
  // line that the close cut short before its line end: what the server meant is unknown.
  if (reply.empty() || reply.back() != '\n') throw ESockError("Connection closed by server");
}

void TProtoFTP::ReadGreeting() {
  std::string line;
  do {
    line = ReadLn();
    if (line.empty()) break;
    ReportStatus(1, line);
  } while (IsReplyContinuation(line));
  RequireReply(line);
  LastReply = line;
  ReplyCode = ParseReplyCode(line);
  if (ReplyCode > 400) {
    if (OnConnectionFailed) OnConnectionFailed(*this);
    throw FTPException(line);
  }
}

void TProtoFTP::LoginCommand(const std::string& command) {
  std::string reply;
  Transaction(command, reply);
  RequireReply(reply);
  if (ReplyCode > 400 && ReplyCode < 600) {
    if (OnConnectionFailed) OnConnectionFailed(*this);
    throw FTPException(reply);
  }
}

void TProtoFTP::Connect() {
  Canceled = false;
  if (Connected) return;
  ClearInput();
  TAsyncSock::Connect();
  try {
    ReadGreeting();
    if (FWAuthenticate) {
      LoginCommand("USER " + FWUserID);
      if (ReplyCode == kNeedPassword) {
        ReportStatus(1, "PASS ");
        LoginCommand("PASS " + FWPassword);
      }
    }
    if ((UserID.empty() || Password.empty()) && OnAuthenticationNeeded) {
      bool handled = false;
      OnAuthenticationNeeded(*this, handled);
    }
    if (!Proxy.empty()) {
      // The proxy learns the real host; its answer is not judged.
      std::string reply;
      switch (FirewallType) {
        case TFirewallType::FTUser:
          Transaction("USER " + UserID + "@" + Host, reply);
          break;
        case TFirewallType::FtOpen:
          Transaction("OPEN " + Host, reply);
          break;
        case TFirewallType::FtSite:
          Transaction("SITE " + Host, reply);
          break;
      }
      RequireReply(reply);
    }
    if (Proxy.empty() || FirewallType != TFirewallType::FTUser) {
      ReportStatus(1, "USER " + UserID);
      LoginCommand("USER " + UserID);
    }
    if (ReplyCode == kNeedPassword) {
      ReportStatus(1, "PASS ");  // the password itself is never reported
      LoginCommand("PASS " + Password);
    }
    if (OnConnect) OnConnect(*this);
  } catch (...) {
    std::exception_ptr failure = std::current_exception();
    try {
      // A wait that was cancelled (the time-out) met a server that does not answer: asking it
      // for QUIT would only wait again, and this time with nothing left to end the wait. The
      // connection is closed without it.
      if (IsCancellation(failure)) {
        CloseWithoutQuit();
      } else {
        Disconnect();
      }
    } catch (...) {
      // The login's own failure is what the caller needs to see.
    }
    ReportStatus(1, "Disconnected");
    std::rethrow_exception(failure);
  }
}

void TProtoFTP::Disconnect() {
  Canceled = false;
  if (!Connected) return;
  ReportStatus(1, "QUIT");
  directory_list_.reset();
  Vendor = kVendorUnknown;
  DiscardWaitingInput();
  std::exception_ptr quit_error;
  try {
    std::string reply;
    Transaction("QUIT", reply);
  } catch (...) {
    quit_error = std::current_exception();
  }
  TAsyncSock::Disconnect();  // closes whatever happened, which fires OnDisconnect
  if (quit_error) std::rethrow_exception(quit_error);
  if (ReplyCode > 300 && ReplyCode < 600) throw FTPException(LastReply);
}

void TProtoFTP::CloseWithoutQuit() {
  Canceled = false;
  if (!Connected) return;
  directory_list_.reset();
  Vendor = kVendorUnknown;
  TAsyncSock::Disconnect();
}

void TProtoFTP::DiscardWaitingInput() {
  if (DataAvailable()) Read(0);
}

}  // namespace tarnex
