// The simple commands of the control connection.
#include "ftpproto/proto_ftp.h"
#include "ftpproto/reply_parsing.h"
#include "platform/errors.h"

namespace tarnex {

bool TProtoFTP::OfferFailure(TCmdType type, const std::string& reply) {
  if (!OnFailure) throw Refusal(reply);
  bool handled = false;
  OnFailure(handled, type);
  if (!handled) throw Refusal(reply);
  return true;
}

FtpReply TProtoFTP::RunCommand(const std::string& command) {
  TCmdType type = ClassifyCommand(command);
  control_.Canceled = false;
  control_.CheckConnection();
  ReportProtocol(command);
  DiscardWaitingInput();
  const FtpReply reply = Exchange(command);
  if (reply.code >= 400 && reply.code < 600) {
    if (OnUnSupportedFunction && reply.code >= 500 && reply.code <= 502) {
      OnUnSupportedFunction(type);
    }
    OfferFailure(type, reply.line);
    return reply;  // a handled failure ends quietly
  }
  // A raw TYPE changes the session's transfer type as much as SetTransferType does.
  if (auto type_set = TransferTypeOfCommand(command)) TransferType = *type_set;
  if (OnSuccess) OnSuccess(type);
  return reply;
}

FtpReply TProtoFTP::ChangeDirectory(const std::string& dir) {
  return RunCommand("CWD " + dir);
}
FtpReply TProtoFTP::DeleteFile(const std::string& name) {
  return RunCommand("DELE " + name);
}
FtpReply TProtoFTP::MakeDirectory(const std::string& dir) {
  return RunCommand("MKD " + dir);
}
FtpReply TProtoFTP::RemoveDirectory(const std::string& dir) {
  return RunCommand("RMD " + dir);
}

FtpReply TProtoFTP::RenameFile(const std::string& old_name, const std::string& new_name) {
  control_.Canceled = false;
  control_.CheckConnection();
  DiscardWaitingInput();
  ReportProtocol("RNFR " + old_name);
  const FtpReply from = Exchange("RNFR " + old_name);
  if (from.code > 351 && from.code < 600) OfferFailure(TCmdType::cmdRename, from.line);
  ReportProtocol("RNTO " + new_name);
  const FtpReply to = Exchange("RNTO " + new_name);
  if (to.code > 300 && to.code < 600) {
    if (OnUnSupportedFunction && to.code >= 500 && to.code <= 502) {
      OnUnSupportedFunction(TCmdType::cmdRename);
    }
    OfferFailure(TCmdType::cmdRename, to.line);
    return to;
  }
  if (OnSuccess) OnSuccess(TCmdType::cmdRename);
  return to;
}

FtpReply TProtoFTP::QuietTransaction(const std::string& command) {
  control_.Canceled = false;
  control_.CheckConnection();
  DiscardWaitingInput();
  return Exchange(command);
}

FtpReply TProtoFTP::SetTransferType(int mode) {
  switch (mode) {
    case tmAscii:
      return RunCommand("TYPE A");
    case tmImage:
      return RunCommand("TYPE I");
    case tmLocal8:
      return RunCommand("TYPE L 8");
    default:
      return answer_;
  }
}

void TProtoFTP::Abort() {
  if (data_connection_) data_connection_->Cancel();
}

}  // namespace tarnex
