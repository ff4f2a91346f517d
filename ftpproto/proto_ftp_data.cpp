// The data channel of a listing or transfer: PASV or PORT, the transfer command, moving the
// data and the closing reply.
#include "ftpproto/proto_ftp.h"
#include "ftpproto/reply_parsing.h"
#include "platform/errors.h"
#include "platform/message_loop.h"
#include "socket/reply_code.h"
#include "socket/socket_errors.h"
#include "text/string_helpers.h"

namespace tarnex {
namespace {

// A listing line without its line end. A line of two bytes or less stays as it is; a last
// line that ended with the connection instead of a line end keeps every byte.
std::string WithoutLineEnd(std::string line) {
  if (line.size() <= 2 || line.back() != '\n') return line;
  line.pop_back();
  if (line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

bool TProtoFTP::OpenDataChannel(TCmdType type) {
  TAsyncSock& data = *data_connection_;
  std::string reply;
  if (Passive) {
    Transaction("PASV", reply);
    // Only 5xx fails; the port is then read from whatever the reply holds.
    if (ReplyCode >= 500) return !OfferFailure(type, reply);
    data.Host = Host;  // the address in the reply is not used
    data.Port = ParsePasvPort(reply);
    data.Connect();
    return true;
  }
  // The server is told the control connection's own address, so the listener waits there
  // only, and takes its connection from the server alone.
  if (auto local = LocalEnd()) data.ListenAddress = local->sin_addr;
  if (auto peer = PeerEnd()) data.AcceptOnlyFrom = peer->sin_addr;
  data.Port = 0;  // the system chooses a free port
  data.Listen(true);
  Transaction("PORT " + LocalAddressText() + data.LocalPortText(), reply);
  if (ReplyCode > 300 && ReplyCode < 600) return !OfferFailure(type, reply);
  return true;
}

bool TProtoFTP::SendTransferCommand(TransferKind kind, TCmdType type,
                                    const std::string& local_file,
                                    const std::string& remote_file) {
  std::string reply;
  if (kind == TransferKind::Download) {
    // The byte count may stand on any line of RETR's reply; the last line's counts.
    BytesTotal = 0;
    ReportStatus(kLevelProtocol, "RETR " + remote_file);
    ReplyCode = 0;
    SendCommand("RETR " + remote_file);
    const FtpReply answer = ReadCommandReply();
    if (ReplyCode > 300 && ReplyCode < 600) return !OfferFailure(type, answer.first);
    BytesTotal = ParseByteCount(answer.last);
    return true;
  }
  std::string command;
  std::string status;
  if (kind == TransferKind::List) {
    command = status = "LIST";
  } else {
    // Without a remote name the file keeps its local name; the status names the full path.
    const char* verb = kind == TransferKind::Append ? "APPE " : "STOR ";
    command = verb + (remote_file.empty() ? FileNamePart(local_file) : remote_file);
    status = verb + (remote_file.empty() ? local_file : remote_file);
  }
  ReportStatus(kLevelProtocol, status);
  Transaction(command, reply);
  if (ReplyCode > 300 && ReplyCode < 600) {
    if (OnUnSupportedFunction && ReplyCode >= 500 && ReplyCode <= 502) OnUnSupportedFunction(type);
    return !OfferFailure(type, reply);
  }
  return true;
}

void TProtoFTP::MoveData(TransferKind kind, const std::string& local_file,
                         std::optional<platform::ReplacementFile>& target) {
  TAsyncSock& data = *data_connection_;
  const bool go = !Canceled && !TimedOut;
  switch (kind) {
    case TransferKind::List:
      if (go) ReadListing();
      if (OnTransactionStop) OnTransactionStop(*this);
      data.RequestCloseSocket();
      break;
    case TransferKind::Upload:
    case TransferKind::Append:
      if (go) data.SendFile(local_file);
      if (OnTransactionStop) OnTransactionStop(*this);
      data.SetLinger(false);  // let the last bytes drain instead of resetting the connection
      data.RequestCloseSocket();
      break;
    case TransferKind::Download:
      if (go) {
        // The old file stays as it is until the new one is complete.
        target.emplace(platform::ReplacementFile::Create(local_file));
        data.CaptureFile(target->Output());
      }
      if (OnTransactionStop) OnTransactionStop(*this);
      data.RequestCloseSocket();
      BytesTotal = data.BytesReceived;
      ReportStatus(kLevelProtocol, "Received " + std::to_string(BytesTotal) + " Bytes");
      break;
  }
}

void TProtoFTP::CheckComplete(int64_t announced) const {
  // Text transfers change line ends on the way, so only a binary count can be held to.
  const bool binary = TransferType == tmImage || TransferType == tmLocal8;
  if (!binary || announced <= 0 || BytesTotal >= announced) return;
  throw Exception("Download incomplete: " + std::to_string(BytesTotal) + " of " +
                  std::to_string(announced) + " bytes received");
}

void TProtoFTP::ReadListing() {
  TAsyncSock& data = *data_connection_;
  // The data connection carries nothing but the listing, so it is read in blocks of whatever
  // is waiting and cut into lines here: two socket calls per block instead of per line.
  std::string pending;  // the start of a line whose end has not come yet
  do {
    if (data.DataAvailable()) {
      pending += data.Read(0);
      HandOverListingLines(pending);
    } else {
      // Nothing to read: wait for the data connection, or once it is closed for the
      // closing reply, then let messages through.
      pollfd watched{data.Connected ? data.Socket() : Socket(), POLLIN, 0};
      platform::MessageLoop::Current().WaitAndProcess(2, {&watched, 1});
    }
    // A cancelled wait on either connection ends the listing too, as a failure.
    if (Canceled || data.Canceled) {
      data.Canceled = false;
      throw EAbortError("Socket readln aborted");
    }
  } while (data.Connected || !DataAvailable() || data.DataAvailable());
  // A reset that came as the close notification while the loop waited cuts the listing short
  // just as one that a read meets: the lines so far are not the whole listing.
  if (!data.Connected && !data.LastEventOk) {
    throw ESockError(net::ErrorMessageText(net::kWsaEConnReset));
  }
  // A last line that ended with the connection instead of a line end.
  if (!pending.empty()) HandOverListingLine(std::move(pending));
}

void TProtoFTP::HandOverListingLines(std::string& pending) {
  // The same limit as for a line read alone: its line end within 65,536 bytes.
  auto too_long = [] { return ESockError("Line too long: no line end within 65536 bytes"); };
  size_t start = 0;
  for (size_t end = pending.find('\n'); end != std::string::npos;
       end = pending.find('\n', start)) {
    if (end + 1 - start > kIoBufferSize) throw too_long();
    HandOverListingLine(pending.substr(start, end + 1 - start));
    start = end + 1;
  }
  pending.erase(0, start);
  if (pending.size() >= kIoBufferSize) throw too_long();
}

void TProtoFTP::HandOverListingLine(std::string line) {
  line = WithoutLineEnd(std::move(line));
  if (ParseList && directory_list_) directory_list_->ParseLine(line);
  if (OnListItem) OnListItem(line);
}

void TProtoFTP::ReadClosingReply(TransferKind kind) {
  const bool go = !Canceled && !TimedOut;
  if (!go) {
    ReportStatus(kLevelProtocol, "");
  } else {
    // Without its closing reply a transfer is not confirmed: the server may have died in the
    // middle of it, and the data may be cut short. The reply does not change ReplyCode.
    const FtpReply closing = ReadReply();
    const int16_t code = CodeOf(closing.first);
    // A file the server says it did not take or send whole ("426 Transfer aborted", "452 Disk
    // full") is a failed transfer, whatever its first reply said. (A listing that the server
    // calls incomplete is still handed over as far as it came.)
    if (kind != TransferKind::List && code >= 400 && code < 600) throw FTPException(closing.first);
  }
  if (kind == TransferKind::Download && OnTransactionStop) OnTransactionStop(*this);
}

}  // namespace tarnex
