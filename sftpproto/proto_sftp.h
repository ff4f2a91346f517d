// TProtoSFTP: an SFTP version 3 session over the pipes of a child process (`ssh -s sftp`, or a
// server run directly), with the face of TProtoFTP: the same operations, the same replies as
// values (the code and line an FTP server would give for the same outcome), the same events.
// Every operation blocks until its requests are answered (messages keep flowing meanwhile) or
// raises: a refusal FTPException (its code), the transport's failure or a protocol fault
// ESockError (the session ends), a cancelled wait EAbortError.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ftpproto/ftp_reply.h"
#include "ftpproto/ftp_types.h"
#include "ftpproto/machine_listing.h"
#include "platform/cancellable_wait.h"
#include "platform/errors.h"
#include "sftp/sftp_codec.h"

namespace tarnex {

class SftpChannel;

class TProtoSFTP {
 public:
  using TProtoNotifyEvent = std::function<void(TProtoSFTP& sender)>;
  using TSuccessEvent = std::function<void(TCmdType type)>;
  using TListItemEvent = std::function<void(const std::string& line)>;
  using ResumeOutcome = tarnex::ResumeOutcome;

  // How the transport starts: the child's argv and the variables added to its environment, an
  // object kept alive while the session lives (the password channel), and what turns the
  // child's standard error lines into the message of a failed session ("" = none).
  struct Launch {
    std::vector<std::string> argv;
    std::vector<std::pair<std::string, std::string>> env;
    std::shared_ptr<void> keep_alive;
    std::function<std::string(const std::vector<std::string>&)> explain_failure;
  };

  TProtoSFTP();
  ~TProtoSFTP();
  TProtoSFTP(const TProtoSFTP&) = delete;
  TProtoSFTP& operator=(const TProtoSFTP&) = delete;

  // Set before LogIn.
  Launch Transport;
  // For the log lines only: ssh itself is told where to go by Transport.
  std::string Host;
  int32_t Port = 22;
  std::string UserID;
  std::string Password;  // never sent by this class, never traced
  // Utf8 (and Auto: SFTP names are UTF-8 by convention): names are converted between the
  // thread's text encoding and UTF-8; Cp932: they travel as they are.
  RemoteEncoding NameEncoding = RemoteEncoding::Cp932;
  // The transfer type the script last set: SFTP moves every file as it is.
  int TransferType = tmImage;

  // From a successful LogIn until Quit, CloseWithoutQuit, or the child's end.
  bool Connected() const;

  // Starts the child, INIT and VERSION (version 3 only), the server's limits when it offers
  // them, REALPATH "." as the current folder; a 230 reply. Fires OnConnect.
  FtpReply LogIn();
  // Closes the child's input and waits (until Cancel) for it to end; a 221 reply. Nothing
  // when not connected: the session's last answer.
  FtpReply Quit();
  // Ends the wait in progress (a transfer's too): the time-out of the facade.
  void GiveUp();
  void Cancel();
  // Ends the transfer in progress; nothing else.
  void Abort();
  // Ends the child without a word.
  void CloseWithoutQuit();

  // Always refused: there is no FTP server to send a command to ("502 ...").
  FtpReply RunCommand(const std::string& command);
  // REALPATH of the folder, then STAT: it must be a folder (250).
  FtpReply ChangeDirectory(const std::string& dir);
  FtpReply EnterDirectory(const std::string& dir);  // the same as a step (no OnSuccess)
  Answered<std::string> CurrentDirectory();         // 257
  FtpReply DeleteFile(const std::string& file_name);
  FtpReply MakeDirectory(const std::string& dir);
  FtpReply RemoveDirectory(const std::string& dir);
  // posix-rename@openssh.com when offered (an existing target is replaced), else RENAME.
  FtpReply RenameFile(const std::string& old_name, const std::string& new_name);
  // Binary always; Ascii is accepted with a notice, once per session.
  FtpReply SetTransferType(int mode);

  // OPENDIR and READDIR of the current folder; each entry's "ls -l" line to OnListItem, the
  // names starting with "." only WithHidden ("." and ".." never). The opening reply (150).
  FtpReply ListDirectory(ListScope scope = ListScope::Visible);
  // The entries of `folder` (the current one when empty) from their attributes, for mget and
  // mirror; "." and ".." left out.
  FtpReply ListEntries(const std::string& folder, std::vector<DirectoryEntry>& entries);
  // Transfers answer with their opening reply (150); the closing one (226) is traced.
  FtpReply DownloadFile(const std::string& remote_file, const std::string& local_file,
                        const DownloadOptions& options = {});
  FtpReply UploadFile(const std::string& local_file, const std::string& remote_file);
  FtpReply AppendFile(const std::string& local_file, const std::string& remote_file);
  Answered<ResumeOutcome> ResumeDownloadFile(const std::string& remote_file,
                                             const std::string& local_file,
                                             const DownloadOptions& options = {});
  Answered<ResumeOutcome> ResumeUploadFile(const std::string& local_file,
                                           const std::string& remote_file);
  Answered<std::optional<int64_t>> RemoteFileSize(const std::string& name);
  Answered<std::optional<int64_t>> RemoteModificationTime(const std::string& name);
  // One after another: SFTP asks without waiting anyway.
  std::vector<Answered<std::optional<int64_t>>> RemoteModificationTimes(
      const std::vector<std::string>& names);
  // SETSTAT of the modification time, the access time kept.
  Answered<bool> SetRemoteModificationTime(const std::string& name, int64_t seconds);
  Answered<bool> TryDeleteFile(const std::string& name);
  Answered<bool> TryRenameFile(const std::string& old_name, const std::string& new_name);
  // The time of `old_name` set before it is renamed (a rename keeps it); its answer goes to
  // `time_set`.
  Answered<bool> TryRenameFileWithTime(const std::string& old_name, const std::string& new_name,
                                       int64_t seconds, Answered<bool>& time_set);

  int64_t DataBytesReceived() const { return received_; }
  int64_t DataBytesSent() const { return sent_; }
  // The size of the current transfer, as far as it is known.
  int64_t BytesTotal = 0;
  bool ListInProgress() const { return list_in_progress_; }

  int16_t ReplyCode() const { return answer_.code; }
  const std::string& LastReply() const { return answer_.line; }
  const FtpReply& Answer() const { return answer_; }

  TProtoNotifyEvent OnConnect;
  std::function<void()> OnDisconnect;
  TSuccessEvent OnSuccess;
  TProtoNotifyEvent OnPacketRecvd;  // a block of a download was written
  TProtoNotifyEvent OnPacketSent;   // a block of an upload was sent
  TListItemEvent OnListItem;
  std::function<void(const std::string& line)> OnNotice;
  // Each request and reply as a line ("OPEN /a/b read", "STATUS 2 No such file"); the READs
  // and WRITEs of a transfer are not traced one by one.
  std::function<void(bool sent, const std::string& line)> OnDialogue;
  std::function<void(const std::string& text)> OnSwallowedError;

 private:
  // A reply copied out of the channel's buffer, with the request it answers.
  struct Reply {
    uint8_t type = 0;
    std::string body;
    sftp::PacketView View() const { return {type, body}; }
  };
  class Transfer;
  class Download;
  class Upload;

  // The frame of every operation after the login: the session must be there, a cancel left
  // from before is forgotten, handles of transfers given up on are closed; a failure of the
  // transport or the protocol ends the session.
  template <typename Operation>
  auto Run(Operation&& operation) -> decltype(operation()) {
    BeginOperation();
    try {
      return operation();
    } catch (const EAbortError&) {
      throw;  // the session goes on; what was pending was given up on
    } catch (const ESockError&) {
      EndSession();
      throw;
    }
  }
  void BeginOperation();
  void RequireSession() const;
  void EndSession() noexcept;
  void CloseGivenUpHandles();

  // A fresh request id (replies still owed for requests given up on are read while the
  // table is full).
  uint32_t Begin(sftp::RequestKind kind);
  // Sends a request made with a fresh id and waits for its reply.
  Reply Call(sftp::RequestKind kind, const std::function<std::string(uint32_t)>& encode,
             const std::string& trace);
  // The next reply to a request not given up on: late ones are dropped, a reply nobody asked
  // for is a protocol error. Valid until the next call on the channel.
  struct Incoming {
    uint32_t id = 0;
    sftp::RequestKind kind{};
    sftp::PacketView packet;
  };
  Incoming NextReply();
  void Abandon(uint32_t id) noexcept;
  [[noreturn]] static void ProtocolError(const std::string& what);

  // Reply helpers: a STATUS as an outcome; a refusal raised for a failing one.
  sftp::Outcome StatusOutcome(const Reply& reply, sftp::Action action);
  [[noreturn]] void Refuse(const sftp::Outcome& outcome);
  // A STATUS where something else (a handle, attributes, a name) was asked for: its refusal
  // raised, a success the protocol error `success_fault`; nothing for any other reply.
  void RefuseStatus(const Reply& reply, sftp::Action action, const char* success_fault);
  std::string HandleOf(const Reply& reply, sftp::Action action);
  sftp::FileAttributes AttributesOf(const Reply& reply, sftp::Action action);
  std::string SingleNameOf(const Reply& reply, sftp::Action action);
  // A simple request answered by STATUS: its outcome (raised when it fails and `raise`).
  // SIZE's or MDTM's answer from the attributes of `name`: `pick` gives the value and the text
  // of its 213 line, nothing when the server did not send it (a 550 line naming `what`).
  template <typename Pick>
  Answered<std::optional<int64_t>> AttributeOf(const std::string& name, Pick pick,
                                               const char* what);
  // A request on one path answered by STATUS (REMOVE, MKDIR, RMDIR): raised when refused,
  // `type`'s success fired when done.
  FtpReply PathCommand(sftp::RequestKind kind, std::string (*encode)(uint32_t, std::string_view),
                       const char* verb, const std::string& name, sftp::Action action,
                       TCmdType type);
  sftp::Outcome StatusCall(sftp::RequestKind kind,
                           const std::function<std::string(uint32_t)>& encode,
                           const std::string& trace, sftp::Action action, bool raise);
  // The requests of the commands.
  std::string Resolve(const std::string& wire_path, sftp::Action action);
  std::optional<sftp::FileAttributes> StatOf(const std::string& wire_path, bool raise,
                                             FtpReply* reply = nullptr);
  FtpReply EnterFolder(const std::string& dir);
  sftp::Outcome Rename(const std::string& from, const std::string& to, bool raise);
  std::string OpenHandle(const std::string& wire_path, uint32_t pflags, const char* mode);
  void CloseHandle(const std::string& handle, const std::string& wire_path, bool raise);
  std::vector<sftp::NameEntry> ReadFolder(const std::string& wire_path);

  // Names: the script's text encoding to the wire's and back; a path below the current folder.
  std::string ToWire(const std::string& name) const;
  std::string FromWire(const std::string& name) const;
  std::string PathOf(const std::string& name) const;
  void Trace(bool sent, const std::string& line) const;
  void SetAnswer(int code, const std::string& line);
  void SetAnswer(const sftp::Outcome& outcome);
  void NoteSwallowed(const std::string& text) const;

  // The transfers (proto_sftp_transfers.cpp).
  FtpReply DownloadFrom(const std::string& remote_file, const std::string& local_file,
                        int64_t offset, std::optional<int64_t> expected, bool name_from_server);
  FtpReply UploadFrom(const std::string& local_file, const std::string& remote_file,
                      int64_t offset, bool append);

  std::unique_ptr<SftpChannel> channel_;
  std::shared_ptr<void> keep_alive_;
  platform::CancellableWait wait_;
  sftp::RequestTable requests_;
  sftp::OfferedExtensions offered_;
  sftp::TransferSizes sizes_;
  std::string cwd_;  // as the server writes it
  std::vector<std::string> handles_to_close_;
  FtpReply answer_;
  bool logged_in_ = false;
  bool ascii_noted_ = false;
  bool list_in_progress_ = false;
  bool transfer_in_progress_ = false;
  int64_t received_ = 0;
  int64_t sent_ = 0;
};

}  // namespace tarnex
