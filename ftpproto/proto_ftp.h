// TProtoFTP: the FTP client protocol. Its own socket is the control connection; every listing
// and transfer opens a data connection of its own. Every operation blocks until its dialogue
// is over (messages keep flowing meanwhile) or raises.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "ftpproto/directory_list.h"
#include "ftpproto/ftp_types.h"
#include "socket/async_sock.h"

namespace tarnex {

class TProtoFTP : public TAsyncSock {
 public:
  using TProtoNotifyEvent = std::function<void(TProtoFTP& sender)>;
  using THandlerEvent = std::function<void(TProtoFTP& sender, bool& handled)>;
  using TSuccessEvent = std::function<void(TCmdType type)>;
  using TFailureEvent = std::function<void(bool& handled, TCmdType type)>;
  using TUnsupportedEvent = std::function<void(TCmdType type)>;
  using TListItemEvent = std::function<void(const std::string& line)>;

  TProtoFTP();
  ~TProtoFTP() override;

  // Connects, reads the greeting and logs in (through the proxy or firewall when set).
  void Connect() override;
  // QUIT and close; nothing when not connected.
  void Disconnect() override;
  // One command and its reply, continuation lines included; the reply is the first line.
  void Transaction(const std::string& command, std::string& reply) override;
  void ReadReplyContinuation(const std::string& first_line);
  // Cancels the data connection only.
  void Abort() override;

  void RunCommand(const std::string& command);
  void ChangeDirectory(const std::string& dir);
  void DeleteFile(const std::string& file_name);
  void MakeDirectory(const std::string& dir);
  void RemoveDirectory(const std::string& dir);
  void RenameFile(const std::string& old_name, const std::string& new_name);
  void SetTransferType(int mode);

  void ListDirectory();
  void UploadFile(const std::string& local_file, const std::string& remote_file);
  void DownloadFile(const std::string& remote_file, const std::string& local_file);
  void AppendFile(const std::string& local_file, const std::string& remote_file);
  int64_t DataBytesReceived() const;
  int64_t DataBytesSent() const;

  std::string UserID;
  std::string Password;
  bool Passive = false;
  int Vendor = kVendorUnknown;
  bool ParseList = false;
  TFirewallType FirewallType = TFirewallType::FTUser;
  std::string FWUserID;
  std::string FWPassword;
  bool FWAuthenticate = false;

  // Fired once the login has succeeded (the socket's own connect event is TAsyncSock's).
  TProtoNotifyEvent OnConnect;
  THandlerEvent OnAuthenticationNeeded;
  THandlerEvent OnAuthenticationFailed;  // nothing fires it
  TSuccessEvent OnSuccess;
  TFailureEvent OnFailure;
  TUnsupportedEvent OnUnSupportedFunction;
  TProtoNotifyEvent OnTransactionStart;
  TProtoNotifyEvent OnTransactionStop;
  TListItemEvent OnListItem;

  // The list of the last parsed listing (created by the first one, dropped at Disconnect).
  const TFTPDirectoryList* DirectoryList() const { return directory_list_.get(); }
  bool ListInProgress() const { return list_in_progress_; }
  TAsyncSock* DataConnection() { return data_connection_.get(); }

 private:
  // A command of the login: a reply of 401..599 fires OnConnectionFailed and raises.
  void LoginCommand(const std::string& command);
  void ReadGreeting();
  // The failing reply of an operation: OnFailure may handle it, else FTPException.
  // Returns true when the handler took it.
  bool OfferFailure(TCmdType type, const std::string& reply);
  void DiscardWaitingInput();
  // Closes the control connection without QUIT (the server is not answering).
  void CloseWithoutQuit();
  // Raises when the server closed the connection instead of replying.
  void RequireReply(const std::string& reply) const;

  // Data connections.
  enum class TransferKind { List, Upload, Download, Append };
  void RunTransfer(TransferKind kind, const std::string& local_file,
                   const std::string& remote_file);
  void TransferFrame(TransferKind kind, TCmdType type, const std::string& local_file,
                     const std::string& remote_file);
  // Steps from the local file to the closing reply; false when a handler took a failure.
  bool MoveTransfer(TransferKind kind, TCmdType type, const std::string& local_file,
                    const std::string& remote_file);
  bool OpenDataChannel(TCmdType type);
  bool SendTransferCommand(TransferKind kind, TCmdType type, const std::string& local_file,
                           const std::string& remote_file);
  void MoveData(TransferKind kind, const std::string& local_file, const std::string& remote_file);
  void ReadListing();
  // Hands over every complete line at the start of `pending` and leaves the rest in it.
  void HandOverListingLines(std::string& pending);
  void HandOverListingLine(std::string line);
  void ReadClosingReply(TransferKind kind);
  void PrepareDirectoryList();
  // ABOR after a cancelled listing or download.
  void SendAbort();

  std::unique_ptr<TAsyncSock> data_connection_;
  std::unique_ptr<TFTPDirectoryList> directory_list_;
  bool list_in_progress_ = false;
  std::recursive_mutex transfer_lock_;
};

}  // namespace tarnex
