// TLowFTP: every FTP operation as one blocking call that never raises and returns an integer
// result (the reply code, or 999 when a failure produced none). An operation is abandoned when
// it shows no progress for WaitTimeout; what happens is reported through seven events.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ftpproto/ftp_reply.h"
#include "ftpproto/ftp_types.h"
#include "ftpproto/machine_listing.h"
#include "platform/loop_timer.h"
#include "ssh/ssh_launch_plan.h"

namespace tarnex {

class TProtoFTP;
class TProtoSFTP;

// What another session needs to log in as one session did and to stand where it stands: the
// server, the login, the connection settings, the time-out, the transfer type and the remote
// current folder. For files moved beside that session on connections of their own.
struct SessionProfile {
  RemoteProtocol protocol = RemoteProtocol::Ftp;
  std::string host;
  std::string proxy;
  int32_t port = 0;
  std::string user;
  std::string password;
  bool passive = false;
  RemoteEncoding remote_encoding = RemoteEncoding::Cp932;
  TlsMode tls = TlsMode::Off;
  std::string tls_ca_file;
  std::string tls_fingerprint;
  ssh::SshOptions ssh;
  RemoteEncoding sftp_remote_encoding = RemoteEncoding::Utf8;
  uint32_t wait_timeout = 0;
  bool debug = false;
  int transfer_type = tmAscii;
  std::string folder;
};

class TLowFTP {
 public:
  using TNotifyEvent = std::function<void(TLowFTP& sender)>;
  using TProgressEvent =
      std::function<void(TLowFTP& sender, int64_t totalbytes, int32_t mmseconds)>;
  using TLoggingEvent = std::function<void(TLowFTP& sender, const std::string& logstr)>;

  TLowFTP();
  virtual ~TLowFTP();
  TLowFTP(const TLowFTP&) = delete;
  TLowFTP& operator=(const TLowFTP&) = delete;

  // Records the server and attaches the facade's handlers to the protocol component; sends
  // nothing; returns 100. `host` may choose its protocol (sftp://, ftp://, ftps://, with a
  // port that wins over `port`); one that cannot be read is logged and returns 999.
  int32_t SetServer(const std::string& host, const std::string& proxy, int32_t port);
  // The protocol of a host given alone, from the next Open on.
  void SetProtocol(RemoteProtocol protocol) { default_protocol_ = protocol; }
  // The protocol and host of the server the last Open named (the host without its URL).
  RemoteProtocol SessionProtocol() const { return session_protocol_; }
  const std::string& HostName() const { return FHostName; }
  // How SFTP sessions check the server's key and log in, from the next login on.
  void SetSshOptions(const ssh::SshOptions& options) { ssh_options_ = options; }
  // How names reach an SFTP server, from the next login on (Auto: UTF-8).
  void SetSftpRemoteEncoding(RemoteEncoding encoding) { sftp_encoding_ = encoding; }
  // On an open session: QUIT first (logged as Disconnect logs it), then a new login.
  int32_t Connect(const std::string& user, const std::string& password);
  // Every line that arrived, each followed by CR LF, goes to `listing`, also when the listing
  // failed (a listing that ended uncleanly or whose closing reply is no 2xx is a failure).
  int32_t List(const std::string& directory, std::string& listing);
  // `options`: the size a listing gave (held to, SIZE not asked) and whether the server chose
  // the local name (mget, mirror), which then never leads through a link.
  int32_t Download(const std::string& remote_file, const std::string& local_file,
                   const DownloadOptions& options = {});
  int32_t Upload(const std::string& local_file, const std::string& remote_file);
  int32_t UploadAppend(const std::string& local_file, const std::string& remote_file);
  // reget and reput: a download or upload that goes on where an earlier one stopped (binary
  // mode only). Logged and reported like Download and Upload; a file that is complete already
  // logs "Already complete: " + its name and moves nothing.
  int32_t ResumeDownload(const std::string& remote_file, const std::string& local_file);
  int32_t ResumeUpload(const std::string& local_file, const std::string& remote_file);
  int32_t Disconnect();
  // Whether a control connection is open: after a login, until Bye or the server closes it.
  bool Connected() const;
  int32_t Delete(const std::string& file);
  int32_t ChangeDir(const std::string& path);
  int32_t RemoveDir(const std::string& directory);
  int32_t MakeDir(const std::string& directory);
  int32_t Rename(const std::string& old_name, const std::string& new_name);
  int32_t DoCommand(const std::string& command);
  int32_t ModeAscii();
  int32_t ModeImage();
  // Cancels the data connection of a transfer or listing in progress.
  void Abort();

  // For mget, mput and mirror (low_ftp_many.cpp). The entries of a remote folder (the
  // current one when `folder` is empty, else a path from it): by MLSD when the server's FEAT
  // offers it, else by LIST in the UNIX long format (after a CWD into the folder and back).
  // Listing lines that neither form explains go to `not_understood`.
  // ListScope::WithHidden lists by "LIST -a" where there is no MLSD (which names hidden
  // entries anyway). "." and ".." are then the folder itself and its parent. A "LIST -a" that
  // names nothing at all, where LIST alone names something, is the answer of a server that
  // took "-a" for a name: it fails with a line that says so, and nothing is taken from it.
  int32_t ListEntries(const std::string& folder, std::vector<DirectoryEntry>& entries,
                      std::vector<std::string>& not_understood,
                      ListScope scope = ListScope::Visible);
  // MDTM and SIZE of a remote file; `value` stays empty when the server does not say. Only a
  // failure is logged: these are steps of a larger command.
  int32_t ModificationTime(const std::string& file, std::optional<int64_t>& value);
  int32_t FileSize(const std::string& file, std::optional<int64_t>& value);
  // MDTM of each of `files`, asked at once (over FTP in one write); `times` gets, in their
  // order, what each reply said and its code. Only a failure is logged.
  struct RemoteTime {
    std::optional<int64_t> seconds;
    int32_t code = 0;
  };
  int32_t ModificationTimes(const std::vector<std::string>& files, std::vector<RemoteTime>& times);
  // MFMT; a refusal is logged and returned.
  int32_t SetModificationTime(const std::string& file, int64_t seconds);
  // DELE as a question, not logged when refused: `deleted` tells whether the file went. A
  // folder that is to go is asked this way first, as a server may show a link to a folder as
  // a folder, and deleting what is "in" it would delete what the link leads to.
  int32_t TryDelete(const std::string& path, bool& deleted);
  // Gives an uploaded file its final name (RNFR, RNTO), replacing the file there; a server
  // that will not rename over a file has that file deleted first. With `modified` the upload
  // is given that time first (MFMT); its refusal is logged and the rename goes on. Only a
  // failure is logged.
  int32_t ReplaceRemoteFile(const std::string& uploaded, const std::string& target,
                            std::optional<int64_t> modified = std::nullopt);
  // This session's profile, its current folder asked for (PWD); nothing when the server does
  // not name it (the failure is logged).
  std::optional<SessionProfile> ProfileForAnotherSession();
  // On a facade of its own: takes the profile's settings, logs in, enters the profile's folder
  // and sets its transfer type (a new session starts in ASCII); the first failure's result.
  int32_t OpenLike(const SessionProfile& profile);
  // Whether the server's FEAT of this login lists `feature` (FEAT is asked once per login);
  // false when it cannot be asked.
  bool ServerOffers(const std::string& feature);

  // Data connections by EPSV/PASV (true) or PORT/EPRT, from the next one on.
  void SetPassive(bool passive);
  bool Passive() const;
  // How file names reach the server, from the next login on (Auto asks FEAT then).
  void SetRemoteEncoding(RemoteEncoding encoding);
  RemoteEncoding GetRemoteEncoding() const { return remote_encoding_; }
  // FTPS from the next login on (implicit TLS connects to port 990 when Open gave none), and
  // how the server's certificate is judged: a CA file beside the system's authorities, or a
  // SHA-256 fingerprint that pins one certificate.
  void SetTlsMode(TlsMode mode);
  TlsMode GetTlsMode() const;
  void SetTlsTrust(const std::string& ca_file, const std::string& fingerprint);

  bool debugmode() const { return debugmode_; }
  void set_debugmode(bool on) { debugmode_ = on; }
  uint32_t WaitTimeout() const { return wait_timeout_; }
  void SetWaitTimeout(uint32_t milliseconds);

  TNotifyEvent OnCtlsockClose;
  TNotifyEvent Onctlsockconnect;
  TProgressEvent Onretrieveing;
  TProgressEvent Onretrievefinished;
  TProgressEvent Ontransfer;
  TProgressEvent Ontransferfinished;
  TLoggingEvent OnLogging;

  // The reply the server gave last: its code (0 before any, or for a line that is no reply)
  // and its first line, line end included.
  int32_t LastReplyCode() const;
  const std::string& LastReplyLine() const;
  // The size of the transfer in progress as far as it is known (announced by the server, or
  // the local file's); 0 during a listing.
  int64_t TransferTotal() const;
  // The dialogue on the control connection, for a trace: every command as it is sent (PASS's
  // argument shown as "****") and every reply line as it is read, without line ends.
  void SetDialogueTrace(std::function<void(bool sent, const std::string& line)> trace);

  // The protocol components, for tests that look beneath the facade.
  TProtoFTP& Protocol() { return *FFtp; }
  TProtoSFTP& SftpProtocol() { return *FSftp; }

 protected:
  virtual void DoTransfer(int64_t totalbytes, int32_t mmseconds);
  virtual void DoTransferFinished(int64_t totalbytes, int32_t mmseconds);
  virtual void DoRetrieve(int64_t totalbytes, int32_t mmseconds);
  virtual void DoRetrieveFinished(int64_t totalbytes, int32_t mmseconds);

 private:
  void WriteLog(const std::string& line);
  void DebugLog(const std::string& text);
  void CheckTimeout();
  void AttachHandlers();
  void HandleSuccess(TCmdType type);
  void Touch();  // a supervised operation started or showed progress
  // Runs `call`, an operation that returns its reply, supervised between its two trace lines;
  // returns the reply's code, or the failure's result.
  template <typename Call>
  int32_t Supervised(const std::string& before, const std::string& after, Call call);
  int32_t FailureResult(std::exception_ptr error);
  // QUIT, its reply waited for the time-out at the most: a server that never answers must not
  // hold the program.
  FtpReply QuitWithinTime();
  // What a transfer call returns to its frame: its reply, and whether it moved the file (a
  // resumed transfer of a file complete already moves nothing and has no summary).
  struct Moved {
    FtpReply reply;
    bool moved = true;
  };
  // A resumed transfer's outcome for its frame; logs a file complete already as `name`.
  Moved Resumed(Answered<ResumeOutcome> resumed, const std::string& name);
  // The frame of a download or an upload around the protocol call `call`, which returns a
  // Moved: supervised, traced, and summed up when it moved the file.
  enum class Direction { Receive, Send };
  template <typename Call>
  int32_t TransferFrame(Direction direction, const std::string& before, const std::string& after,
                        Call call);
  int32_t ChangeDirStep(const std::string& segment);
  // The supervised frame of every operation: `call` returns the result of its success.
  int32_t SupervisedStep(const std::string& before, const std::string& after,
                         const std::function<int32_t()>& call);
  // LIST of `folder`: CWD there, LIST, CWD back to where the session was.
  FtpReply ListInFolder(const std::string& folder, ListScope scope);
  // After a "LIST -a" of `folder` that named nothing: `result` when LIST alone names nothing
  // either, else the failure of a listing that cannot be trusted.
  int32_t CheckEmptyHiddenListing(const std::string& folder, int32_t result);

  // Calls `call` with the protocol component of the session in use: both have the same face
  // (ftpclient/session_protocol.h), so that every frame above is written once.
  template <typename Call>
  decltype(auto) OnSession(Call&& call);
  template <typename Call>
  decltype(auto) OnSession(Call&& call) const;
  // The server the next login goes to, as an Open (or another session's profile) named it.
  void UseServer(const std::string& host, const std::string& proxy, int32_t port,
                 RemoteProtocol protocol, bool implicit_tls);
  template <typename Session>
  void AttachSessionHandlers(Session& session);
  bool SftpInUse() const { return sftp_in_use_; }
  int32_t ConnectFtp(const std::string& user, const std::string& password);
  int32_t ConnectSftp(const std::string& user, const std::string& password);

  std::unique_ptr<TProtoFTP> FFtp;
  std::unique_ptr<TProtoSFTP> FSftp;
  platform::LoopTimer FTimer;
  std::string FHostName;
  int32_t FPortNumber = 0;
  std::string FProxyHost;
  uint32_t wait_timeout_ = 0;
  int64_t FWaitSpanMs = 0;  // the time-out in whole seconds, as milliseconds
  bool debugmode_ = false;
  int64_t FBytesSent = 0;
  int64_t FBytesReceived = 0;
  bool FAppend = false;
  uint32_t FStartTick = 0;
  int64_t FLastActivity = 0;  // monotonic milliseconds
  RemoteEncoding remote_encoding_ = RemoteEncoding::Cp932;
  RemoteProtocol default_protocol_ = RemoteProtocol::Ftp;
  RemoteProtocol session_protocol_ = RemoteProtocol::Ftp;
  bool sftp_in_use_ = false;     // the session that is (or was last) logged in is SFTP's
  bool open_implicit_tls_ = false;  // the last Open named an ftps:// host
  TlsMode configured_tls_ = TlsMode::Off;
  ssh::SshOptions ssh_options_;
  RemoteEncoding sftp_encoding_ = RemoteEncoding::Utf8;
};

}  // namespace tarnex
