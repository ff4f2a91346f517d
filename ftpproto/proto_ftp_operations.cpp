// The frame of every listing and transfer, and what each data command does inside it.
#include <exception>

#include "ftpproto/data_operations.h"
#include "ftpproto/reply_parsing.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/local_folder.h"
#include "platform/scope_guard.h"
#include "text/string_helpers.h"

namespace tarnex {

FtpReply TProtoFTP::RunDataOperation(DataOperation& operation) {
  const bool lists = operation.Lists();
  if (lists) {
    if (list_in_progress_) throw Exception("A list command is already being processed!");
    list_in_progress_ = true;
  }
  ScopeExit list_done([&] {
    if (lists) list_in_progress_ = false;
  });
  try {
    control_.Canceled = false;
    control_.CheckConnection();
    operation.Begin(*this);
    thread_.Check();
    const bool succeeded =
        WithDataConnection(operation.Receives(), [&] { return MoveOperation(operation); });
    if (succeeded && OnSuccess) OnSuccess(operation.Type());
  } catch (...) {
    // An upload's or download's failure is offered once more; a handler may swallow it.
    if (!operation.OfferedAgain() || !OnFailure) throw;
    bool handled = false;
    OnFailure(handled, TCmdType::cmdTransfer);
    if (!handled) throw;
  }
  return answer_;
}

bool TProtoFTP::MoveOperation(DataOperation& operation) {
  TAsyncSock& data = *data_connection_;
  if (operation.Receives()) {
    data.OnPacketRecvd = [this](TAsyncSock&) {
      if (OnPacketRecvd) OnPacketRecvd(*this);
    };
  } else {
    data.OnPacketSent = [this](TAsyncSock&) {
      if (OnPacketSent) OnPacketSent(*this);
    };
  }
  operation.Prepare(*this);
  // A PORT that no command took with it is never sent later.
  ScopeExit port_unsent([&] { data_port_command_.clear(); });
  // A failing reply that a handler took ends the operation quietly, without success.
  if (!OpenDataChannel(operation.Type())) return false;
  if (!operation.SendCommand(*this)) return false;
  if (!Passive) {
    data.Accept();
    data.UseAcceptedSocket();  // the accepted connection replaces the listener
  }
  // The data connection resumes the control connection's TLS session: some servers refuse
  // a data connection that does not.
  if (protect_data_) data.StartTls(*tls_, ServerName(), true);
  if (OnTransactionStart) OnTransactionStart(*this);
  operation.Move(*this, data, /*go=*/!control_.Canceled);
  ReadClosingReply(operation);
  operation.Finish(*this);
  return true;
}

void TProtoFTP::ReadClosingReply(const DataOperation& operation) {
  if (control_.Canceled) {
    ReportProtocol("");
    return;
  }
  // Without its closing reply a transfer is not confirmed: the server may have died in the
  // middle of it, and the data may be cut short. The reply is not the operation's answer. A
  // file the server says it did not take or send whole ("426 Transfer aborted", "452 Disk
  // full") is a failed transfer, whatever its first reply said; a listing is whole only when
  // the server says so: its lines so far have been handed over, but nothing may be judged (or
  // deleted) on the strength of them.
  const FtpReply closing = ReadReply();
  if (!operation.Whole(CodeOf(closing.line))) throw Refusal(closing.line);
}

bool TProtoFTP::DataOperation::SendNamed(TProtoFTP& ftp, const std::string& command,
                                         const std::string& status) const {
  ftp.ReportProtocol(status);
  const std::optional<FtpReply> reply = ftp.ExchangeDataCommand(Type(), command);
  if (!reply) return false;
  if (reply->code > 300 && reply->code < 600) {
    if (ftp.OnUnSupportedFunction && reply->code >= 500 && reply->code <= 502) {
      ftp.OnUnSupportedFunction(Type());
    }
    return !ftp.OfferFailure(Type(), reply->line);
  }
  return true;
}

void TProtoFTP::ListOperation::Move(TProtoFTP& ftp, TAsyncSock& data, bool go) {
  if (go) ftp.ReadListing();
  if (ftp.OnTransactionStop) ftp.OnTransactionStop(ftp);
  data.ShutdownTls();
  data.RequestCloseSocket();
}

void TProtoFTP::RetrieveOperation::Begin(TProtoFTP&) {
  if (local_.empty()) {
    // A download without a local name lands in the local folder under the remote file's own
    // name, never somewhere its path points to, nor where a link there leads.
    auto name = LocalNameForDownload(remote_);
    if (!name) throw Exception("No local file name in \"" + remote_ + "\"");
    local_ = std::move(*name);
    span_.local_name = platform::TargetName::FromServer;
  }
  // Refused before anything is asked of the server (the file itself refuses it again, should
  // a link come in the meantime).
  if (span_.local_name == platform::TargetName::FromServer) {
    if (const std::optional<std::string> in_the_way = platform::InTheWayOfServerName(local_)) {
      throw EFileError(local_ + ": " + *in_the_way);
    }
  }
}

void TProtoFTP::RetrieveOperation::Prepare(TProtoFTP& ftp) {
  // A binary download learns its size before it starts: SIZE, unless a listing gave it.
  if (span_.offset == 0 && !span_.expected_total && ftp.BinaryTransfers()) {
    span_.expected_total = ftp.SizeBeforeDownload(remote_);
  }
}

bool TProtoFTP::RetrieveOperation::SendCommand(TProtoFTP& ftp) {
  if (span_.offset > 0) {
    // Without a 350 the server would send the file from its start: nothing is asked of it.
    const std::optional<FtpReply> rest =
        ftp.ExchangeDataCommand(Type(), "REST " + std::to_string(span_.offset));
    if (!rest) return false;
    if (rest->code != 350) throw Refusal(rest->line);
  }
  ftp.BytesTotal = 0;
  ftp.ReportProtocol("RETR " + remote_);
  const std::optional<FtpReply> sent = ftp.ExchangeDataCommand(Type(), "RETR " + remote_);
  if (!sent) return false;
  const FtpReply& answer = *sent;
  if (answer.code > 300 && answer.code < 600) return !ftp.OfferFailure(Type(), answer.line);
  // The size may stand on any line of RETR's reply; the last line that gives one counts.
  AnnouncedSize announced;
  for (auto line = answer.lines.rbegin(); line != answer.lines.rend() && !announced.estimate;
       ++line) {
    announced = ParseAnnouncedSize(*line);
  }
  // What SIZE or the listing said comes first; a resumed download's count is of the rest.
  if (!span_.expected_total && span_.offset == 0) span_.expected_total = announced.exact;
  ftp.BytesTotal = span_.expected_total && span_.offset == 0 ? *span_.expected_total
                                                             : announced.estimate.value_or(0);
  return true;
}

void TProtoFTP::RetrieveOperation::Move(TProtoFTP& ftp, TAsyncSock& data, bool go) {
  if (go) {
    // The old file stays as it is until the new one is complete.
    target_.emplace(span_.offset > 0 ? platform::ReplacementFile::CreateContinuing(
                                           local_, span_.offset, span_.local_name)
                                     : platform::ReplacementFile::Create(local_, span_.local_name));
    data.CaptureFile(target_->Output());
  }
  if (ftp.OnTransactionStop) ftp.OnTransactionStop(ftp);
  data.ShutdownTls();
  data.RequestCloseSocket();
  ftp.BytesTotal = data.BytesReceived;
  ftp.ReportProtocol("Received " + std::to_string(ftp.BytesTotal) + " Bytes");
}

void TProtoFTP::RetrieveOperation::Finish(TProtoFTP& ftp) {
  if (ftp.OnTransactionStop) ftp.OnTransactionStop(ftp);
  ftp.CheckComplete(span_);
  if (target_) target_->Commit();
}

void TProtoFTP::StoreOperation::Prepare(TProtoFTP& ftp) {
  platform::File file = platform::File::OpenRead(local_);
  ftp.BytesTotal = file.Size() - offset_;
}

bool TProtoFTP::StoreOperation::SendCommand(TProtoFTP& ftp) {
  // Without a remote name the file keeps its local name; the status names the full path.
  const std::string verb = append_ ? "APPE " : "STOR ";
  return SendNamed(ftp, verb + (remote_.empty() ? FileNamePart(local_) : remote_),
                   verb + (remote_.empty() ? local_ : remote_));
}

void TProtoFTP::StoreOperation::Move(TProtoFTP& ftp, TAsyncSock& data, bool go) {
  if (go) data.SendFile(local_, offset_);
  if (ftp.OnTransactionStop) ftp.OnTransactionStop(ftp);
  data.ShutdownTls(/*wait_for_peer=*/true);  // a TLS session ends before its connection
  data.SetLinger(false);  // let the last bytes drain instead of resetting the connection
  data.RequestCloseSocket();
}

}  // namespace tarnex
