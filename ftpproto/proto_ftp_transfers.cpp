// Listings and transfers: each opens a data connection of its own (PASV or PORT), sends its
// command on the control connection, moves the data and reads the closing reply.
#include <exception>

#include "ftpproto/proto_ftp.h"
#include "ftpproto/reply_parsing.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/local_folder.h"
#include "platform/scope_guard.h"
#include "text/string_helpers.h"

namespace tarnex {
namespace {

TCmdType TypeOf(bool list, bool append) {
  return list ? TCmdType::cmdList : append ? TCmdType::cmdAppend : TCmdType::cmdTransfer;
}

}  // namespace

FtpReply TProtoFTP::ListDirectory(ListScope scope) {
  // A listing's "remote file" is what follows LIST.
  return RunTransfer(TransferKind::List, "", scope == ListScope::WithHidden ? "-a" : "",
                     TransferSpan{});
}

FtpReply TProtoFTP::UploadFile(const std::string& local_file, const std::string& remote_file) {
  return RunTransfer(TransferKind::Upload, local_file, remote_file, TransferSpan{});
}

FtpReply TProtoFTP::DownloadFile(const std::string& remote_file, const std::string& local_file,
                                 const DownloadOptions& options) {
  TransferSpan span;
  span.expected_total = options.listed_size;
  if (options.name_from_server) span.local_name = platform::TargetName::FromServer;
  return RunTransfer(TransferKind::Download, local_file, remote_file, span);
}

FtpReply TProtoFTP::AppendFile(const std::string& local_file, const std::string& remote_file) {
  return RunTransfer(TransferKind::Append, local_file, remote_file, TransferSpan{});
}

TProtoFTP::ResumeOutcome TProtoFTP::ResumeDownloadFile(const std::string& remote_file,
                                                       const std::string& local_file,
                                                       const DownloadOptions& options) {
  CheckConnection();
  RequireBinaryForResume();
  std::string local = local_file;
  platform::TargetName chosen = options.name_from_server ? platform::TargetName::FromServer
                                                         : platform::TargetName::ChosenByUser;
  if (local.empty()) {
    local = LocalNameForDownload(remote_file).value_or("");
    chosen = platform::TargetName::FromServer;
  }
  // A name the server chose is not followed through a link, not even to read its size.
  const std::optional<platform::LocalEntry> there = platform::LocalEntryOf(local);
  const bool regular = there && there->kind == platform::LocalKind::File;
  const int64_t have =
      chosen == platform::TargetName::FromServer
          ? (regular ? there->size : 0)
          : (platform::FileExists(local) ? platform::File::OpenRead(local).Size() : 0);
  if (have <= 0) {
    // Nothing (or nothing yet) to go on from.
    DownloadOptions whole = options;
    whole.name_from_server = chosen == platform::TargetName::FromServer;
    DownloadFile(remote_file, local_file, whole);
    return ResumeOutcome::Transferred;
  }
  const std::optional<int64_t> remote_size = RemoteFileSize(remote_file);
  if (remote_size && have == *remote_size) return ResumeOutcome::AlreadyComplete;
  if (remote_size && have > *remote_size) {
    throw Exception("Cannot resume: the local file is larger than the remote one (" +
                    std::to_string(have) + " > " + std::to_string(*remote_size) + " bytes)");
  }
  RunTransfer(TransferKind::Download, local, remote_file, TransferSpan{have, remote_size, chosen});
  return ResumeOutcome::Transferred;
}

TProtoFTP::ResumeOutcome TProtoFTP::ResumeUploadFile(const std::string& local_file,
                                                     const std::string& remote_file) {
  CheckConnection();
  RequireBinaryForResume();
  const std::string remote = remote_file.empty() ? FileNamePart(local_file) : remote_file;
  const int64_t local_size = platform::File::OpenRead(local_file).Size();
  const std::optional<int64_t> remote_size = RemoteFileSize(remote);
  if (!remote_size || *remote_size == 0) {
    UploadFile(local_file, remote);  // no such file there yet: all of it
    return ResumeOutcome::Transferred;
  }
  if (*remote_size == local_size) return ResumeOutcome::AlreadyComplete;
  if (*remote_size > local_size) {
    throw Exception("Cannot resume: the remote file is larger than the local one (" +
                    std::to_string(*remote_size) + " > " + std::to_string(local_size) + " bytes)");
  }
  RunTransfer(TransferKind::Append, local_file, remote, TransferSpan{*remote_size, {}});
  return ResumeOutcome::Transferred;
}

int64_t TProtoFTP::DataBytesReceived() const {
  return data_connection_ ? data_connection_->BytesReceived : 0;
}

int64_t TProtoFTP::DataBytesSent() const {
  return data_connection_ ? data_connection_->BytesSent : 0;
}

void TProtoFTP::SendAbort() {
  // ABOR's reply and the transfer's closing reply, which the cancelled wait did not read, are
  // owed from now on: the next command reads them first, for as long as SettleTimeOut allows,
  // and a server that does not send them loses the connection rather than have them taken for
  // the answers to later commands. Nothing waits for them here: the time-out has been used up
  // by the wait that was cancelled.
  try {
    answer_.code = 0;  // the transfer has no answer now
    SendCommand("ABOR", /*settle_first=*/false);
  } catch (...) {
    // The transfer's own failure is what the caller hears about.
    NoteSwallowed("ABOR");
  }
  Canceled = false;
}

FtpReply TProtoFTP::RunTransfer(TransferKind kind, const std::string& local_file,
                                const std::string& remote_file, TransferSpan span) {
  const bool list = kind == TransferKind::List;
  const bool append = kind == TransferKind::Append;
  const TCmdType type = TypeOf(list, append);
  if (list) {
    if (list_in_progress_) throw Exception("A list command is already being processed!");
    list_in_progress_ = true;
  }
  ScopeExit list_done([&] {
    if (list) list_in_progress_ = false;
  });

  try {
    TransferFrame(kind, type, local_file, remote_file, span);
  } catch (...) {
    // An upload's or download's failure is offered once more; a handler may swallow it.
    if (kind != TransferKind::Upload && kind != TransferKind::Download) throw;
    if (!OnFailure) throw;
    bool handled = false;
    OnFailure(handled, TCmdType::cmdTransfer);
    if (!handled) throw;
  }
  return answer_;
}

void TProtoFTP::TransferFrame(TransferKind kind, TCmdType type, const std::string& local_file,
                              const std::string& remote_file, TransferSpan span) {
  Canceled = false;
  CheckConnection();
  std::string local = local_file;
  if (kind == TransferKind::Download && local.empty()) {
    // A download without a local name lands in the local folder under the remote file's own
    // name, never somewhere its path points to, nor where a link there leads.
    auto name = LocalNameForDownload(remote_file);
    if (!name) throw Exception("No local file name in \"" + remote_file + "\"");
    local = std::move(*name);
    span.local_name = platform::TargetName::FromServer;
  }
  // Refused before anything is asked of the server (the file itself refuses it again, should
  // a link come in the meantime).
  if (kind == TransferKind::Download && span.local_name == platform::TargetName::FromServer) {
    if (const std::optional<std::string> in_the_way = platform::InTheWayOfServerName(local)) {
      throw EFileError(local + ": " + *in_the_way);
    }
  }
  thread_.Check();
  const bool receives = kind == TransferKind::List || kind == TransferKind::Download;
  const bool succeeded = WithDataConnection(
      receives, [&] { return MoveTransfer(kind, type, local, remote_file, span); });
  if (succeeded && OnSuccess) OnSuccess(type);
}

bool TProtoFTP::WithDataConnection(bool receives, const std::function<bool()>& move) {
  DiscardWaitingInput();
  data_connection_ = std::make_unique<TAsyncSock>();
  data_connection_->OnSwallowedError = OnSwallowedError;

  bool succeeded = false;
  std::exception_ptr failure;
  try {
    succeeded = move();
  } catch (...) {
    failure = std::current_exception();
  }
  data_connection_.reset();
  if (receives && Canceled) {
    Canceled = false;
    SendAbort();
  }
  if (failure) std::rethrow_exception(failure);
  return succeeded;
}

bool TProtoFTP::MoveTransfer(TransferKind kind, TCmdType type, const std::string& local_file,
                             const std::string& remote_file, TransferSpan span) {
  TAsyncSock& data = *data_connection_;
  data.TimeOut = TimeOut;
  if (kind == TransferKind::List || kind == TransferKind::Download) {
    data.OnPacketRecvd = OnPacketRecvd;
  } else {
    data.OnPacketSent = OnPacketSent;
  }
  if (kind == TransferKind::Upload || kind == TransferKind::Append) {
    platform::File file = platform::File::OpenRead(local_file);
    BytesTotal = file.Size() - span.offset;
  }
  // A binary download learns its size before it starts: SIZE, unless a listing gave it.
  if (kind == TransferKind::Download && span.offset == 0 && !span.expected_total &&
      BinaryTransfers()) {
    span.expected_total = SizeBeforeDownload(remote_file);
  }

  // A failing reply that a handler took ends the operation quietly, without success.
  if (!OpenDataChannel(type)) return false;
  if (!SendTransferCommand(kind, type, local_file, remote_file, span)) return false;
  if (!Passive) {
    data.Accept();
    data.UseAcceptedSocket();  // the accepted connection replaces the listener
  }
  // The data connection resumes the control connection's TLS session: some servers refuse
  // a data connection that does not.
  if (protect_data_) data.StartTls(*tls_, ServerName(), true);
  if (OnTransactionStart) OnTransactionStart(*this);
  std::optional<platform::ReplacementFile> target;
  MoveData(kind, local_file, span, target);
  ReadClosingReply(kind);
  if (kind == TransferKind::Download) {
    CheckComplete(span);
    if (target) target->Commit();
  }
  return true;
}

}  // namespace tarnex
