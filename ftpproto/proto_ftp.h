// TProtoFTP: the FTP client protocol. It owns its control connection (a TAsyncSock, which
// knows nothing of FTP); every listing and transfer opens a data connection of its own. Every
// operation blocks until its dialogue is over (messages keep flowing meanwhile) or raises.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ftpproto/ftp_reply.h"
#include "ftpproto/ftp_types.h"
#include "platform/owning_thread.h"
#include "platform/replacement_file.h"
#include "socket/async_sock.h"
#include "socket/tls.h"

namespace tarnex {

class TProtoFTP {
 public:
  using TProtoNotifyEvent = std::function<void(TProtoFTP& sender)>;
  using THandlerEvent = std::function<void(TProtoFTP& sender, bool& handled)>;
  using TSuccessEvent = std::function<void(TCmdType type)>;
  using TFailureEvent = std::function<void(bool& handled, TCmdType type)>;
  using TUnsupportedEvent = std::function<void(TCmdType type)>;
  using TListItemEvent = std::function<void(const std::string& line)>;

  TProtoFTP();
  ~TProtoFTP();
  TProtoFTP(const TProtoFTP&) = delete;
  TProtoFTP& operator=(const TProtoFTP&) = delete;

  // Where the next login goes: the server (name or address) and its port, or, when Proxy is
  // set, the proxy and ProxyPort (the server is then named to the proxy in the login).
  std::string Host;
  int Port = 21;
  std::string Proxy;
  int ProxyPort = 0;

  // The control connection itself: its socket, its status reports and its own events
  // (OnDisconnect when it closes, OnError for a failed socket call, the host lookup's).
  TAsyncSock& Control() { return control_; }
  const TAsyncSock& Control() const { return control_; }
  // A control connection is open: from the login until QUIT, or until the server closes it.
  bool Connected() const { return control_.Connected; }

  // Connects, reads the greeting and logs in (through the proxy or firewall when set); the
  // login's reply.
  FtpReply LogIn();
  // QUIT and close; nothing when not connected. QUIT's reply (or, when not connected, the
  // session's last).
  FtpReply Quit();
  // Gives up what the session waits for: the data connection's transfer, and the control
  // connection's wait.
  void GiveUp();
  // Cancels the control connection's current wait (the operation waiting raises EAbortError).
  void Cancel() { control_.Cancel(); }
  // One command and its reply, continuation lines included, as a value. Replies still owed
  // for an earlier command are read first (see SettleOwedReplies). A reply that does not begin
  // with a code of 100 to 599 raises EInvalidReply. With `answers` the reply becomes the
  // session's answer (ReplyCode, LastReply) from the moment the command goes out: one that
  // never comes leaves none.
  FtpReply Exchange(const std::string& command, bool answers = true);
  // Reads the rest of a reply whose first line is `first_line`; returns its last line. Raises
  // when the server closes the connection before the reply has ended.
  std::string ReadReplyContinuation(const std::string& first_line);
  // Cancels the data connection only.
  void Abort();
  // Closes the control connection without QUIT: the server is not answering, or the session
  // is in a state that no later command may build on.
  void CloseWithoutQuit();

  // The operations below return the reply that answers them (a failure that a handler took
  // ends them quietly: then the failing reply); any other failure raises.
  FtpReply RunCommand(const std::string& command);
  FtpReply ChangeDirectory(const std::string& dir);
  FtpReply DeleteFile(const std::string& file_name);
  FtpReply MakeDirectory(const std::string& dir);
  FtpReply RemoveDirectory(const std::string& dir);
  FtpReply RenameFile(const std::string& old_name, const std::string& new_name);
  // Nothing is sent for an unknown mode: the session's last answer.
  FtpReply SetTransferType(int mode);

  // LIST of the current folder ("LIST -a" for ListScope::WithHidden). Listings and transfers
  // are answered by their command's first reply (150, say), not by the closing one.
  FtpReply ListDirectory(ListScope scope = ListScope::Visible);
  FtpReply UploadFile(const std::string& local_file, const std::string& remote_file);
  // In binary mode the download is held to the size the server gives before RETR (SIZE, else
  // the exact count of RETR's reply) or the listing gave: fewer or more bytes fail it.
  FtpReply DownloadFile(const std::string& remote_file, const std::string& local_file,
                        const DownloadOptions& options = {});
  FtpReply AppendFile(const std::string& local_file, const std::string& remote_file);

  using ResumeOutcome = tarnex::ResumeOutcome;
  // reget: goes on with a download where the local file ends ("REST" + "RETR", the bytes
  // added to a copy of the local file that replaces it once complete); a plain download when
  // there is no local file. Binary mode only. A local file as large as the remote one (SIZE)
  // needs nothing; a larger one, or a REST not answered 350, fails and leaves it untouched.
  // The reply is the transfer's, or, for a file complete already, SIZE's.
  Answered<ResumeOutcome> ResumeDownloadFile(const std::string& remote_file,
                                             const std::string& local_file,
                                             const DownloadOptions& options = {});
  // reput: sends the rest of the local file ("APPE") after what SIZE says the remote file
  // holds; the whole file when the server knows no such file. Binary mode only.
  Answered<ResumeOutcome> ResumeUploadFile(const std::string& local_file,
                                           const std::string& remote_file);
  // The size of a remote file (SIZE); nothing when the server does not say.
  Answered<std::optional<int64_t>> RemoteFileSize(const std::string& name);

  // For mget, mput and mirror (proto_ftp_mlsd.cpp); none of these fires OnSuccess but the
  // listing. MLSD of `path` (the current folder when empty): every line goes to OnListItem,
  // as ListDirectory hands over LIST's.
  FtpReply MachineListDirectory(const std::string& path);
  // The FEAT lines of this login, asked for once when first needed (empty when refused).
  const std::vector<std::string>& KnownFeatures();
  // PWD; raises FTPException when the reply names no folder.
  Answered<std::string> CurrentDirectory();
  // CWD as one step of a larger operation; raises FTPException when refused.
  FtpReply EnterDirectory(const std::string& dir);
  // MDTM: the modification time (seconds since 1970 UTC); nothing when the server does not
  // say, its reply telling why.
  Answered<std::optional<int64_t>> RemoteModificationTime(const std::string& name);
  // MDTM of each of `names`, the commands in one write (one round trip for them all); the
  // answers in their order.
  std::vector<Answered<std::optional<int64_t>>> RemoteModificationTimes(
      const std::vector<std::string>& names);
  // MFMT: sets it; false when the server refuses.
  Answered<bool> SetRemoteModificationTime(const std::string& name, int64_t seconds);
  // DELE as a question: true when the server deleted `name`, false when it refused.
  Answered<bool> TryDeleteFile(const std::string& name);
  // RNFR and RNTO, sent together: false when the server refuses RNTO; raises FTPException
  // when it refuses RNFR (RNTO's refusal is then read before the next command).
  Answered<bool> TryRenameFile(const std::string& old_name, const std::string& new_name);
  // TryRenameFile with the time of `old_name` set first (MFMT; a rename keeps it), the three
  // commands in one write; MFMT's answer goes to `time_set`.
  Answered<bool> TryRenameFileWithTime(const std::string& old_name, const std::string& new_name,
                                       int64_t seconds, Answered<bool>& time_set);
  int64_t DataBytesReceived() const;
  int64_t DataBytesSent() const;

  // The session's last answer, a thin face over the value its operations return: the code
  // (0 while none has come, for a line that is no reply, and after a transfer was given up
  // on) and the line, line end included.
  int16_t ReplyCode() const { return answer_.code; }
  const std::string& LastReply() const { return answer_.line; }
  const FtpReply& Answer() const { return answer_; }
  // The size of the current transfer, as far as it is known (for progress displays).
  int64_t BytesTotal = 0;

  std::string UserID;
  std::string Password;
  bool Passive = false;
  TFirewallType FirewallType = TFirewallType::FTUser;
  std::string FWUserID;
  std::string FWPassword;
  bool FWAuthenticate = false;
  // The transfer type of the session as the last accepted TYPE command set it (ASCII, the
  // default of a new session, until then).
  int TransferType = tmAscii;
  // How file names travel, from the next login on: as the script has them, as UTF-8, or as
  // UTF-8 when FEAT lists UTF8 (then "OPTS UTF8 ON" is sent).
  RemoteEncoding NameEncoding = RemoteEncoding::Cp932;
  // FTPS, from the next login on: the mode, and how the server's certificate is judged (a CA
  // file beside the system's trusted authorities; or a SHA-256 fingerprint that pins it).
  TlsMode Tls = TlsMode::Off;
  std::string TlsCaFile;
  std::string TlsFingerprint;
  // The data connections of this login are TLS too (PROT P was accepted).
  bool DataProtected() const { return protect_data_; }
  // The server's FEAT lines of this login (their first word upper-cased), when it was asked.
  const std::vector<std::string>& Features() const { return features_.lines(); }
  // Commands go out and replies come in as UTF-8 (converted from and to the script's CP932).
  bool NamesInUtf8() const { return names_in_utf8_; }

  // Fired once the login has succeeded (the socket's own connect event is the control
  // connection's).
  TProtoNotifyEvent OnConnect;
  // The connection could not be made, or the server refused the greeting or the login.
  TProtoNotifyEvent OnConnectionFailed;
  // A block of a transfer came in, or a piece went out (DataBytesReceived, DataBytesSent).
  TProtoNotifyEvent OnPacketRecvd;
  TProtoNotifyEvent OnPacketSent;
  // A failure that could not be passed on and was set aside, on the control connection or a
  // data connection; for the debug trace.
  std::function<void(const std::string& text)> OnSwallowedError;
  THandlerEvent OnAuthenticationNeeded;
  THandlerEvent OnAuthenticationFailed;  // nothing fires it
  TSuccessEvent OnSuccess;
  TFailureEvent OnFailure;
  TUnsupportedEvent OnUnSupportedFunction;
  TProtoNotifyEvent OnTransactionStart;
  TProtoNotifyEvent OnTransactionStop;
  TListItemEvent OnListItem;
  // Something the user should know that is neither a failure nor a reply (a PASV address
  // that was not used), for the execution log.
  std::function<void(const std::string& line)> OnNotice;
  // The dialogue on the control connection, for a trace: every command as it is sent (PASS's
  // argument shown as "****") and every reply line as it is read, without line ends.
  std::function<void(bool sent, const std::string& line)> OnDialogue;

  bool ListInProgress() const { return list_in_progress_; }
  TAsyncSock* DataConnection() { return data_connection_.get(); }

 private:
  // Writes a command and counts its reply as owed; with `settle_first` the replies still owed
  // for earlier commands are read before.
  void SendCommand(const std::string& command, bool settle_first = true);
  // The same for several commands in one write, each owing its reply.
  void SendTogether(const std::vector<std::string>& commands, bool settle_first = true);
  // Reads one whole reply (reported line by line) and settles its account: a final reply
  // pays what a command owes, a preliminary one (1xx) does not. Raises when the server closed
  // the connection instead. Its code is that of its first line (0 when that is no reply).
  FtpReply ReadReply();
  // A status text of the protocol's level (commands, replies) for the control connection's
  // OnStatus.
  void ReportProtocol(const std::string& text) {
    control_.ReportStatus(TAsyncSock::kLevelProtocol, text);
  }
  // One line of a reply (ReadLn), handed to OnDialogue.
  std::string ReadReplyLine();
  // Reads the lines that continue the reply whose lines so far are `lines`.
  void ReadContinuation(std::vector<std::string>& lines);
  // The reply to the command just sent; with `answers` it becomes the session's answer.
  // Raises EInvalidReply when its first line is no reply.
  FtpReply ReadAnswer(bool answers);
  // The code of a reply's line; raises EInvalidReply with the line when it has none.
  static int16_t CodeOf(const std::string& line);
  // Reads what earlier commands are still owed (a time-out, a cancelled transfer and its
  // ABOR); a server that does not send them before the wait is given up loses the
  // connection, so that no late reply is taken for another's answer.
  void SettleOwedReplies();
  // A command of the login: a reply of 401..599 fires OnConnectionFailed and raises.
  FtpReply LoginCommand(const std::string& command);
  void ReadGreeting();
  // The steps of the login after the greeting; the login's reply.
  FtpReply LogInSteps();
  // The failing reply of an operation: OnFailure may handle it, else FTPException.
  // Returns true when the handler took it.
  bool OfferFailure(TCmdType type, const std::string& reply);
  // Settles the replies still owed, then drops whatever else is waiting (unsolicited text).
  void DiscardWaitingInput();
  // Raises when the server closed the connection instead of replying.
  static void RequireReply(const std::string& reply);

  // Data connections.
  // The data commands (data_operations.h): one class each, and the frame they go through.
  class DataOperation;
  class ListOperation;
  class RetrieveOperation;
  class StoreOperation;
  // Where a transfer starts (0, or the resume point), how large a download is to become (when
  // somebody said), and who chose the local name.
  struct TransferSpan {
    int64_t offset = 0;
    std::optional<int64_t> expected_total;
    platform::TargetName local_name = platform::TargetName::ChosenByUser;
  };
  // One listing or transfer, from the checks before it to the closing reply; the reply that
  // answers it.
  FtpReply RunDataOperation(DataOperation& operation);
  // The steps with the data connection made; false when a handler took a failure.
  bool MoveOperation(DataOperation& operation);
  // The closing reply of a data command that moved its data; raises when it says the data is
  // not whole.
  void ReadClosingReply(const DataOperation& operation);
  // A fresh data connection for `move`, dropped whatever happens; a cancelled receive is
  // aborted before `move`'s failure goes on, so its replies are read before anything else.
  bool WithDataConnection(bool receives, const std::function<bool()>& move);
  // `first` (when not empty), RNFR and RNTO in one write; `first`'s answer to `first_done`.
  Answered<bool> RenameTogether(const std::string& first, const std::string& old_name,
                                const std::string& new_name, Answered<bool>* first_done = nullptr);
  // A command whose reply the caller reads itself: no events, no failure handlers.
  FtpReply QuietTransaction(const std::string& command);
  // Passive: asks for the server's data port and connects to it. Active: listens, and leaves
  // the PORT or EPRT that names the listener to go out with the data command
  // (ExchangeDataCommand). False when a handler took a refusal.
  bool OpenDataChannel(TCmdType type);
  // A command of a listing or transfer (REST, RETR, STOR, LIST...) and its reply, which becomes
  // the answer. The PORT or EPRT still to go goes out in the same write, one round trip for the
  // two, and the first final reply is taken for its: a refusal there is offered as the
  // operation's failure, and the other reply is owed, read before the next command. Nothing
  // when a handler took that refusal.
  std::optional<FtpReply> ExchangeDataCommand(TCmdType type, const std::string& command);
  // A passive data connection to `port` of the host the control connection is connected to
  // (never to a name looked up again, nor to an address a reply names).
  void ConnectPassive(uint16_t port);
  // Compares a PASV reply's address with the control connection's peer; a different one is
  // noted once per login.
  void NotePasvAddress(const std::string& reply);
  // Binary mode: SIZE of a file about to be downloaded whole; nothing when the server does not
  // say (a server that does not know SIZE is not asked again in this login).
  std::optional<int64_t> SizeBeforeDownload(const std::string& remote_file);
  bool BinaryTransfers() const { return TransferType == tmImage || TransferType == tmLocal8; }
  // A binary download of another size than the one it was to have is not the file.
  void CheckComplete(const TransferSpan& span) const;
  // Resume works on bytes as they are: in ASCII mode it refuses.
  void RequireBinaryForResume() const;
  // "AUTH TLS" and the handshake (explicit mode); raises when either fails.
  void SecureControlConnection();
  // The control connection's handshake; a failure closes the connection and raises.
  void StartTlsOrClose();
  // After the login: "PBSZ 0" and "PROT P"; raises when the server refuses either.
  void ProtectDataConnections();
  // The host a certificate must name, on the control connection and every data connection:
  // the one the control connection went to.
  const std::string& ServerName() const { return Proxy.empty() ? Host : Proxy; }
  // After the login: FEAT, and UTF-8 names when asked for (or offered, with auto).
  void ChooseNameEncoding();
  // A command as it goes on the wire, and a reply line as the script reads it.
  std::string ToWire(const std::string& command) const;
  std::string FromWire(std::string line) const;
  void ReadListing();
  void HandOverListingLine(std::string line);
  // ABOR after a cancelled listing or download.
  void SendAbort();

  TAsyncSock control_;
  FtpReply answer_;  // the session's last answer
  std::unique_ptr<TAsyncSock> data_connection_;
  int owed_replies_ = 0;  // replies the server still owes on the control connection
  std::string data_port_command_;  // the PORT or EPRT of the data connection, not sent yet
  // The FEAT lines and whether this login asked for them: whatever empties the list at a
  // login (clear) forgets the asking too, so that every login asks afresh.
  class FeatureList {
   public:
    FeatureList& operator=(std::vector<std::string> lines) {
      lines_ = std::move(lines);
      asked_ = true;
      return *this;
    }
    void clear() {
      lines_.clear();
      asked_ = false;
    }
    bool asked() const { return asked_; }
    const std::vector<std::string>& lines() const { return lines_; }
    operator const std::vector<std::string>&() const { return lines_; }  // NOLINT

   private:
    std::vector<std::string> lines_;
    bool asked_ = false;
  };
  FeatureList features_;
  bool names_in_utf8_ = false;
  std::unique_ptr<net::TlsContext> tls_;  // of this login, when it is FTPS
  bool protect_data_ = false;
  bool epsv_refused_ = false;  // the server refused EPSV: PASV until the next login
  // A PORT sent with its command was refused after the command's 1xx: PORT goes alone until
  // the next login.
  bool port_sent_alone_ = false;
  bool size_unknown_ = false;  // the server knows no SIZE: not asked again until the next login
  bool pasv_address_noted_ = false;  // a PASV address not used was told of in this login
  bool list_in_progress_ = false;
  platform::OwningThread thread_;  // checked where a listing or transfer begins
};

}  // namespace tarnex
