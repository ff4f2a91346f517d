// What mget, mput and mirror ask of the server beyond single transfers: the machine-readable
// listing (MLSD), the feature list, the current folder, and the modification times of files
// (MDTM, MFMT). None of them but the listing reports a success: they are steps of a larger
// operation, whose own lines tell the story.
#include <exception>
#include <mutex>

#include "ftpproto/machine_listing.h"
#include "ftpproto/proto_ftp.h"
#include "ftpproto/remote_times.h"
#include "ftpproto/reply_parsing.h"
#include "platform/errors.h"
#include "platform/scope_guard.h"

namespace tarnex {

void TProtoFTP::MachineListDirectory(const std::string& path) {
  if (list_in_progress_) throw Exception("A list command is already being processed!");
  list_in_progress_ = true;
  ScopeExit list_done([&] { list_in_progress_ = false; });
  Canceled = false;
  CheckConnection();
  std::lock_guard lock(transfer_lock_);
  const bool succeeded = WithDataConnection(
      true, [&] { return MoveMachineListing(path.empty() ? "MLSD" : "MLSD " + path); });
  if (succeeded && OnSuccess) OnSuccess(TCmdType::cmdList);
}

bool TProtoFTP::MoveMachineListing(const std::string& command) {
  TAsyncSock& data = *data_connection_;
  data.TimeOut = TimeOut;
  data.OnPacketRecvd = OnPacketRecvd;
  if (!OpenDataChannel(TCmdType::cmdList)) return false;
  std::string reply;
  ReportStatus(kLevelProtocol, command);
  Transaction(command, reply);
  if (ReplyCode > 300 && ReplyCode < 600) {
    if (OnUnSupportedFunction && ReplyCode >= 500 && ReplyCode <= 502) {
      OnUnSupportedFunction(TCmdType::cmdList);
    }
    return !OfferFailure(TCmdType::cmdList, reply);
  }
  if (!Passive) {
    data.Accept();
    data.UseAcceptedSocket();
  }
  if (protect_data_) data.StartTls(*tls_, ServerName(), true);
  if (OnTransactionStart) OnTransactionStart(*this);
  if (!Canceled && !TimedOut) ReadListing();
  if (OnTransactionStop) OnTransactionStop(*this);
  data.ShutdownTls();
  data.RequestCloseSocket();
  ReadClosingReply(TransferKind::List);
  return true;
}

const std::vector<std::string>& TProtoFTP::KnownFeatures() {
  if (features_.asked()) return features_.lines();
  Canceled = false;
  CheckConnection();
  DiscardWaitingInput();
  try {
    ReplyCode = 0;
    SendCommand("FEAT");
    const FtpReply answer = ReadCommandReply();
    // A server without FEAT offers nothing beyond the basics; it is not asked again.
    features_ = ReplyCode >= 200 && ReplyCode < 300 ? FeatureLines(answer.lines)
                                                    : std::vector<std::string>();
  } catch (const EInvalidReply&) {
    features_ = std::vector<std::string>();
  }
  return features_.lines();
}

std::string TProtoFTP::CurrentDirectory() {
  std::string reply = QuietTransaction("PWD");
  std::optional<std::string> folder = ParsePwdReply(reply);
  if (!folder) throw FTPException(reply);
  return *folder;
}

void TProtoFTP::EnterDirectory(const std::string& dir) {
  std::string reply = QuietTransaction("CWD " + dir);
  if (ReplyCode >= 400) throw FTPException(reply);
}

std::optional<int64_t> TProtoFTP::RemoteModificationTime(const std::string& name) {
  return ParseMdtmReply(QuietTransaction("MDTM " + name));
}

bool TProtoFTP::SetRemoteModificationTime(const std::string& name, int64_t seconds) {
  QuietTransaction("MFMT " + FormatFtpTime(seconds) + " " + name);
  return ReplyCode >= 200 && ReplyCode < 300;
}

bool TProtoFTP::TryDeleteFile(const std::string& name) {
  QuietTransaction("DELE " + name);
  return ReplyCode >= 200 && ReplyCode < 300;
}

bool TProtoFTP::TryRenameFile(const std::string& old_name, const std::string& new_name) {
  std::string reply = QuietTransaction("RNFR " + old_name);
  if (ReplyCode != 350) throw FTPException(reply);
  Transaction("RNTO " + new_name, reply);
  return ReplyCode >= 200 && ReplyCode < 300;
}

}  // namespace tarnex
