#include "ftpclient/low_ftp.h"

#include <algorithm>
#include <exception>

#include "ftpclient/facade_text.h"
#include "ftpclient/open_target.h"
#include "ftpclient/session_protocol.h"
#include "ftpclient/sftp_launch.h"
#include "ftpproto/proto_ftp.h"
#include "sftpproto/proto_sftp.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/scope_guard.h"
#include "text/printable.h"
#include "text/string_helpers.h"

namespace tarnex {
namespace {

constexpr uint32_t kCheckIntervalMs = 1000;

// The error's message without leading and trailing characters up to the blank.
std::string TrimmedMessage(std::exception_ptr error) {
  std::string message;
  try {
    std::rethrow_exception(error);
  } catch (const Exception& e) {
    message = e.Message();
  } catch (const std::exception& e) {
    message = e.what();
  } catch (...) {
    message = "Unknown error";
  }
  size_t first = 0;
  while (first < message.size() && static_cast<unsigned char>(message[first]) <= ' ') ++first;
  size_t last = message.size();
  while (last > first && static_cast<unsigned char>(message[last - 1]) <= ' ') --last;
  return message.substr(first, last - first);
}

bool IsInvalidReply(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const EInvalidReply&) {
    return true;
  } catch (...) {
    return false;
  }
}

// Only a server's refusal carries a result of its own (its reply code); a line that is no
// reply, or no line from the server at all, is 999 however its text begins (a file named
// "226 x" is no reply).
int32_t ResultOfFailure(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const EInvalidReply&) {
    return 999;
  } catch (const FTPException& refusal) {
    return refusal.Result();
  } catch (...) {
    return 999;
  }
}

}  // namespace

TLowFTP::TLowFTP()
    : FFtp(std::make_unique<TProtoFTP>()),
      FSftp(std::make_unique<TProtoSFTP>()),
      FTimer(kCheckIntervalMs, [this] { CheckTimeout(); }) {
  FAppend = false;
  SetWaitTimeout(30000);
  debugmode_ = false;
  // Failures the layers below had to set aside are not lost: the debug trace shows them.
  FFtp->OnSwallowedError = [this](const std::string& text) { DebugLog(text); };
  FSftp->OnSwallowedError = [this](const std::string& text) { DebugLog(text); };
}

TLowFTP::~TLowFTP() {
  try {
    QuitWithinTime();  // QUIT when still connected
  } catch (...) {
    // A failing QUIT at the end of the program has nobody left to tell.
  }
  FTimer.SetEnabled(false);
  FFtp->OnSwallowedError = nullptr;
  FSftp->OnSwallowedError = nullptr;
}

void TLowFTP::SetWaitTimeout(uint32_t milliseconds) {
  wait_timeout_ = milliseconds;
  FWaitSpanMs = WaitSpanSeconds(milliseconds) * 1000;
}

int32_t TLowFTP::SetServer(const std::string& host, const std::string& proxy, int32_t port) {
  const std::variant<OpenTarget, std::string> target = ParseOpenTarget(host);
  if (const auto* problem = std::get_if<std::string>(&target)) {
    // Nothing of an earlier Open is left for the next Login to reach by mistake.
    FHostName.clear();
    WriteLog(*problem);
    return 999;
  }
  const OpenTarget& open = std::get<OpenTarget>(target);
  UseServer(open.host, proxy, open.port != 0 ? open.port : port,
            open.protocol.value_or(default_protocol_), open.implicit_tls);
  return 100;
}

void TLowFTP::UseServer(const std::string& host, const std::string& proxy, int32_t port,
                        RemoteProtocol protocol, bool implicit_tls) {
  FHostName = host;
  FProxyHost = proxy;
  FPortNumber = port;
  session_protocol_ = protocol;
  open_implicit_tls_ = implicit_tls;
  AttachHandlers();
}

template <typename Session>
void TLowFTP::AttachSessionHandlers(Session& session) {
  session.OnSuccess = [this](TCmdType type) { HandleSuccess(type); };
  session.OnConnect = [this](auto&) {
    WriteLog(std::to_string(LastReplyCode()) + " Connect success");
    if (Onctlsockconnect) Onctlsockconnect(*this);
  };
  session.OnPacketRecvd = [this](auto& sender) {
    Touch();
    FBytesReceived = sender.DataBytesReceived();
    DoRetrieve(FBytesReceived, static_cast<int32_t>(platform::TickCount() - FStartTick));
  };
  session.OnPacketSent = [this](auto& sender) {
    Touch();
    FBytesSent = sender.DataBytesSent();
    DoTransfer(FBytesSent, static_cast<int32_t>(platform::TickCount() - FStartTick));
  };
  session.OnNotice = [this](const std::string& line) { WriteLog(line); };
}

void TLowFTP::AttachHandlers() {
  AttachSessionHandlers(*FFtp);
  AttachSessionHandlers(*FSftp);
  FSftp->OnDisconnect = [this] {
    if (FSftp->ReplyCode() == 0) return;
    WriteLog(std::to_string(FSftp->ReplyCode()) + " Disconnected");
    if (OnCtlsockClose) OnCtlsockClose(*this);
  };
  TProtoFTP& ftp = *FFtp;
  // The control connection's own events.
  TAsyncSock& control = ftp.Control();
  control.OnDisconnect = [this](TAsyncSock&) {
    if (FFtp->ReplyCode() == 0) return;
    WriteLog(std::to_string(FFtp->ReplyCode()) + " Disconnected");
    if (OnCtlsockClose) OnCtlsockClose(*this);
  };
  control.OnError = [this](TAsyncSock&, uint16_t code, const std::string& message) {
    if (OnLogging) OnLogging(*this, message + " " + std::to_string(code));
  };
  ftp.OnFailure = [this](bool&, TCmdType) { DebugLog("Failure Event"); };
  ftp.OnUnSupportedFunction = [this](TCmdType) { DebugLog("UnSupportedFunction Event"); };
  control.OnInvalidHost = [this](TAsyncSock&, bool&) { DebugLog("InvalidHost Event"); };
  control.OnHostResolved = [this](TAsyncSock&) { DebugLog("HostResolved Event"); };
  ftp.OnConnectionFailed = [this](TProtoFTP&) { DebugLog("ConnectionFailed Event"); };
  ftp.OnTransactionStart = [this](TProtoFTP&) { DebugLog("TransactionStart Event"); };
  ftp.OnTransactionStop = [this](TProtoFTP&) { DebugLog("TransactionStop Event"); };
}

void TLowFTP::HandleSuccess(TCmdType type) {
  const char* text = nullptr;
  switch (type) {
    case TCmdType::cmdChangeDir: text = "ChangeDir success"; break;
    case TCmdType::cmdMakeDir: text = "MakeDir success"; break;
    case TCmdType::cmdDelete: text = "Delete success"; break;
    case TCmdType::cmdRemoveDir: text = "RemoveDir success"; break;
    case TCmdType::cmdList: text = "List success"; break;
    case TCmdType::cmdRename: text = "Rename success"; break;
    case TCmdType::cmdTransfer: text = "Upload success"; break;
    case TCmdType::cmdAppend: text = "UploadAppend success"; break;
    case TCmdType::cmdOther: text = "DoCommand success"; break;
    default: return;
  }
  WriteLog(std::to_string(LastReplyCode()) + " " + text);
}

void TLowFTP::Touch() { FLastActivity = platform::MonotonicMs(); }

void TLowFTP::WriteLog(const std::string& line) {
  // Replies and names come from the server: what they hold must not reach a terminal raw.
  if (OnLogging) OnLogging(*this, EscapeControlCharacters(line));
}

void TLowFTP::DebugLog(const std::string& text) {
  if (debugmode_) WriteLog(DebugTraceLine(platform::TickCount(), text));
}

int32_t TLowFTP::FailureResult(std::exception_ptr error) {
  // A message of several lines (ssh's explanation of a changed host key) is logged a line at
  // a time, as every other line is.
  const std::string message = TrimmedMessage(error);
  std::string_view rest = message;
  while (!rest.empty()) {
    const size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    if (line.ends_with('\r')) line.remove_suffix(1);
    WriteLog(std::string(line));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  }
  return ResultOfFailure(error);
}

template <typename Call>
int32_t TLowFTP::Supervised(const std::string& before, const std::string& after, Call call) {
  return SupervisedStep(before, after, [&]() -> int32_t { return call().code; });
}

void TLowFTP::CheckTimeout() {
  // Abandoned at the first check at which more than the whole seconds of the time-out have
  // passed since the operation started or last showed progress; measured on a clock that a
  // change of the wall clock does not move.
  if (platform::MonotonicMs() - FLastActivity <= FWaitSpanMs) return;
  DebugLog("TimeOut Abort");
  OnSession([](auto& session) { session.GiveUp(); });
  FTimer.SetEnabled(false);
}

int32_t TLowFTP::Connect(const std::string& user, const std::string& password) {
  // A login on an open session starts a new one, with the new user and password and the
  // passive and TLS settings of now: the old session is ended as Bye ends it, and the result is
  // the new login's, never that of a session that merely went on.
  if (Connected()) Disconnect();
  sftp_in_use_ = session_protocol_ == RemoteProtocol::Sftp;
  return sftp_in_use_ ? ConnectSftp(user, password) : ConnectFtp(user, password);
}

int32_t TLowFTP::ConnectSftp(const std::string& user, const std::string& password) {
  TProtoSFTP& sftp = *FSftp;
  sftp.Host = FHostName;
  sftp.Port = FPortNumber != 0 ? FPortNumber : 22;
  sftp.UserID = user;
  sftp.Password = password;
  sftp.NameEncoding = sftp_encoding_ == RemoteEncoding::Cp932 ? RemoteEncoding::Cp932
                                                               : RemoteEncoding::Utf8;
  return Supervised("Connect Send ", "Connect End ", [&] {
    if (!FProxyHost.empty()) {
      throw Exception("SFTP goes through no FTP proxy: name the way in ssh's configuration "
                      "(ProxyJump) and Open the host alone");
    }
    SftpLogin login{FHostName, FPortNumber, user, password, WaitSpanSeconds(wait_timeout_)};
    sftp.Transport = MakeSftpLaunch(ssh_options_, login);
    return sftp.LogIn();
  });
}

int32_t TLowFTP::ConnectFtp(const std::string& user, const std::string& password) {
  TProtoFTP& ftp = *FFtp;
  ftp.Tls = open_implicit_tls_ ? TlsMode::Implicit : configured_tls_;
  // Open without a port means the usual one of the login's TLS mode, at every login.
  const int32_t port = FPortNumber != 0 ? FPortNumber : FFtp->Tls == TlsMode::Implicit ? 990 : 21;
  ftp.Host = FHostName;
  if (FProxyHost.empty()) {
    ftp.Port = port;
    ftp.Proxy.clear();
    ftp.ProxyPort = 0;
  } else {
    // Through a proxy: connect to it at the given port; the server behind it is at 21.
    ftp.Port = 21;
    ftp.Proxy = FProxyHost;
    ftp.ProxyPort = port;
  }
  ftp.UserID = user;
  ftp.Password = password;
  return Supervised("Connect Send ", "Connect End ", [&] { return ftp.LogIn(); });
}

int32_t TLowFTP::List(const std::string& directory, std::string& listing) {
  int32_t result;
  std::string collected;
  try {
    // The change of directory before a listing is supervised like the listing: a server that
    // never answers it must not hold the script.
    Touch();
    FTimer.SetEnabled(true);
    if (!directory.empty()) OnSession([&](auto& session) { return session.ChangeDirectory(directory); });
    const auto collect = [&collected](const std::string& line) {
      collected += line;
      collected += "\r\n";
    };
    FFtp->OnListItem = collect;
    FSftp->OnListItem = collect;
    DebugLog("List Send ");
    Touch();
    FTimer.SetEnabled(true);
    const FtpReply listed = OnSession([](auto& session) { return session.ListDirectory(); });
    DebugLog("List End ");
    result = listed.code;
  } catch (...) {
    result = FailureResult(std::current_exception());
  }
  // What arrived is the caller's also when the listing failed: it was seen, and it is shown.
  listing = std::move(collected);
  FFtp->OnListItem = nullptr;
  FSftp->OnListItem = nullptr;
  FTimer.SetEnabled(false);
  return result;
}

template <typename Call>
int32_t TLowFTP::TransferFrame(Direction direction, const std::string& before,
                               const std::string& after, Call call) {
  const bool receiving = direction == Direction::Receive;
  int32_t result;
  try {
    FStartTick = platform::TickCount();
    (receiving ? FBytesReceived : FBytesSent) = 0;
    DebugLog(before);
    Touch();
    FTimer.SetEnabled(true);
    const Moved moved = call();
    FTimer.SetEnabled(false);
    DebugLog(after);
    const auto elapsed = static_cast<int32_t>(platform::TickCount() - FStartTick);
    result = moved.reply.code;
    if (moved.moved && receiving) DoRetrieveFinished(FBytesReceived, elapsed);
    if (moved.moved && !receiving) DoTransferFinished(FBytesSent, elapsed);
  } catch (...) {
    result = FailureResult(std::current_exception());
  }
  FTimer.SetEnabled(false);
  return result;
}

int32_t TLowFTP::Download(const std::string& remote_file, const std::string& local_file,
                          const DownloadOptions& options) {
  return TransferFrame(Direction::Receive, "Download Send " + remote_file, "Download End ",
                       [&] {
    return Moved{OnSession(
        [&](auto& session) { return session.DownloadFile(remote_file, local_file, options); })};
  });
}

int32_t TLowFTP::Upload(const std::string& local_file, const std::string& remote_file) {
  if (FAppend) {
    return TransferFrame(Direction::Send, "UploadAppend Send " + remote_file, "UploadAppend End ",
                         [&] {
      return Moved{OnSession([&](auto& session) { return session.AppendFile(local_file, remote_file); })};
    });
  }
  return TransferFrame(Direction::Send, "Upload Send " + remote_file, "Upload End ",
                       [&] {
    return Moved{OnSession([&](auto& session) { return session.UploadFile(local_file, remote_file); })};
  });
}

int32_t TLowFTP::ResumeDownload(const std::string& remote_file, const std::string& local_file) {
  return TransferFrame(Direction::Receive, "ResumeDownload Send " + remote_file,
                       "ResumeDownload End ", [&] {
                         return Resumed(OnSession([&](auto& session) {
                                          return session.ResumeDownloadFile(remote_file, local_file);
                                        }),
                                        local_file.empty() ? remote_file : local_file);
                       });
}

int32_t TLowFTP::ResumeUpload(const std::string& local_file, const std::string& remote_file) {
  return TransferFrame(
      Direction::Send, "ResumeUpload Send " + remote_file, "ResumeUpload End ",
      [&] {
        return Resumed(OnSession([&](auto& session) {
                         return session.ResumeUploadFile(local_file, remote_file);
                       }),
                       local_file);
      });
}

TLowFTP::Moved TLowFTP::Resumed(Answered<ResumeOutcome> resumed, const std::string& name) {
  const bool moved = resumed.value == ResumeOutcome::Transferred;
  if (!moved) WriteLog("Already complete: " + name);
  return Moved{std::move(resumed.reply), moved};
}

int32_t TLowFTP::UploadAppend(const std::string& local_file, const std::string& remote_file) {
  FAppend = true;
  ScopeExit reset([this] { FAppend = false; });
  return Upload(local_file, remote_file);
}

int32_t TLowFTP::Disconnect() {
  try {
    const FtpReply quit = QuitWithinTime();
    DebugLog("Disconnect Send ");
    DebugLog("Disconnect End  ");
    return quit.code;
  } catch (...) {
    const std::exception_ptr error = std::current_exception();
    const int32_t failure = FailureResult(error);
    if (IsInvalidReply(error)) return failure;  // an answer that is no reply has no code
  }
  // A refused QUIT, or one that never got its answer: the session's last answer.
  return LastReplyCode();
}

FtpReply TLowFTP::QuitWithinTime() {
  // QUIT may be asked for while another operation waits (Stop during a transfer): its wait
  // has a timer of its own, as FTimer supervises that operation.
  platform::LoopTimer give_up(static_cast<uint32_t>(std::max<int64_t>(FWaitSpanMs, 1)),
                              [this] { OnSession([](auto& session) { session.Cancel(); }); });
  give_up.SetEnabled(true);
  return OnSession([](auto& session) { return session.Quit(); });
}

bool TLowFTP::Connected() const {
  return OnSession([](const auto& session) { return session.Connected(); });
}

int32_t TLowFTP::Delete(const std::string& file) {
  return Supervised("Delete Send  " + file, "Delete End  ", [&] {
    return OnSession([&](auto& session) { return session.DeleteFile(file); });
  });
}

int32_t TLowFTP::ChangeDir(const std::string& path) {
  // One CWD per backslash-separated name; a failing step does not stop the rest.
  // An empty path names no directory: nothing is sent, and the script hears about it.
  if (path.empty()) {
    WriteLog("ChangeDir: no directory given");
    return 999;
  }
  std::string rest = path;
  int32_t result = 0;
  while (!rest.empty()) result = ChangeDirStep(NextToken(rest, "\\"));
  return result;
}

int32_t TLowFTP::ChangeDirStep(const std::string& segment) {
  return Supervised("ChangeDir Send  " + segment, "ChangeDir End  ",
                    [&] { return OnSession([&](auto& session) { return session.ChangeDirectory(segment); }); });
}

int32_t TLowFTP::RemoveDir(const std::string& directory) {
  return Supervised("RemoveDir Send", "RemoveDir End",
                    [&] { return OnSession([&](auto& session) { return session.RemoveDirectory(directory); }); });
}

int32_t TLowFTP::MakeDir(const std::string& directory) {
  return Supervised("MakeDirectory Send", "MakeDirectory End",
                    [&] { return OnSession([&](auto& session) { return session.MakeDirectory(directory); }); });
}

int32_t TLowFTP::Rename(const std::string& old_name, const std::string& new_name) {
  return Supervised("Rename Send", "Rename End",
                    [&] { return OnSession([&](auto& session) { return session.RenameFile(old_name, new_name); }); });
}

int32_t TLowFTP::DoCommand(const std::string& command) {
  return Supervised("Law Command Send", "Law Command End",
                    [&] { return OnSession([&](auto& session) { return session.RunCommand(command); }); });
}

int32_t TLowFTP::ModeAscii() {
  return Supervised("ModeChange to ASCII", "ModeChange to ASCII End",
                    [&] { return OnSession([](auto& session) { return session.SetTransferType(tmAscii); }); });
}

int32_t TLowFTP::ModeImage() {
  return Supervised("ModeChange to IMAGE", "ModeChange to IMAGE End",
                    [&] { return OnSession([](auto& session) { return session.SetTransferType(tmImage); }); });
}

void TLowFTP::Abort() {
  OnSession([](auto& session) { session.Abort(); });
}

int32_t TLowFTP::LastReplyCode() const {
  return OnSession([](const auto& session) { return session.ReplyCode(); });
}

const std::string& TLowFTP::LastReplyLine() const {
  return OnSession([](const auto& session) -> const std::string& { return session.LastReply(); });
}

int64_t TLowFTP::TransferTotal() const {
  // A listing has no size; what BytesTotal holds then is left from the transfer before.
  return OnSession([](const auto& session) -> int64_t {
    return session.ListInProgress() ? 0 : session.BytesTotal;
  });
}

void TLowFTP::SetDialogueTrace(std::function<void(bool sent, const std::string& line)> trace) {
  FFtp->OnDialogue = trace;
  FSftp->OnDialogue = std::move(trace);
}

void TLowFTP::SetPassive(bool passive) {
  FFtp->Passive = passive;
}

bool TLowFTP::Passive() const {
  return FFtp->Passive;
}

void TLowFTP::SetTlsMode(TlsMode mode) {
  configured_tls_ = mode;
  FFtp->Tls = mode;
}

TlsMode TLowFTP::GetTlsMode() const {
  return FFtp->Tls;
}

void TLowFTP::SetTlsTrust(const std::string& ca_file, const std::string& fingerprint) {
  FFtp->TlsCaFile = ca_file;
  FFtp->TlsFingerprint = fingerprint;
}

void TLowFTP::SetRemoteEncoding(RemoteEncoding encoding) {
  remote_encoding_ = encoding;
  FFtp->NameEncoding = encoding;
}

void TLowFTP::DoTransfer(int64_t totalbytes, int32_t mmseconds) {
  if (Ontransfer) Ontransfer(*this, totalbytes, mmseconds);
}

void TLowFTP::DoTransferFinished(int64_t totalbytes, int32_t mmseconds) {
  WriteLog(TransferSummaryLine(totalbytes, mmseconds));
  if (Ontransferfinished) Ontransferfinished(*this, totalbytes, mmseconds);
}

void TLowFTP::DoRetrieve(int64_t totalbytes, int32_t mmseconds) {
  if (Onretrieveing) Onretrieveing(*this, totalbytes, mmseconds);
}

void TLowFTP::DoRetrieveFinished(int64_t totalbytes, int32_t mmseconds) {
  WriteLog(RetrieveSummaryLine(totalbytes, mmseconds));
  if (Onretrievefinished) Onretrievefinished(*this, totalbytes, mmseconds);
}

}  // namespace tarnex
