// The simple commands of the control connection.
#include "ftpproto/proto_ftp.h"
#include "ftpproto/reply_parsing.h"
#include "platform/errors.h"

namespace tarnex {

bool TProtoFTP::OfferFailure(TCmdType type, const std::string& reply) {
  if (!OnFailure) throw FTPException(reply);
  bool handled = false;
  OnFailure(handled, type);
  if (!handled) throw FTPException(reply);
  return true;
}

void TProtoFTP::RunCommand(const std::string& command) {
  TCmdType type = ClassifyCommand(command);
  Canceled = false;
  CheckConnection();
  ReportStatus(1, command);
  DiscardWaitingInput();
  std::string reply;
  Transaction(command, reply);
  if (ReplyCode >= 400 && ReplyCode < 600) {
    if (OnUnSupportedFunction && ReplyCode >= 500 && ReplyCode <= 502) OnUnSupportedFunction(type);
    OfferFailure(type, reply);
    return;  // a handled failure ends quietly
  }
  // A raw TYPE changes the session's transfer type as much as SetTransferType does.
  if (auto type_set = TransferTypeOfCommand(command)) TransferType = *type_set;
  if (OnSuccess) OnSuccess(type);
}

void TProtoFTP::ChangeDirectory(const std::string& dir) { RunCommand("CWD " + dir); }
void TProtoFTP::DeleteFile(const std::string& file_name) { RunCommand("DELE " + file_name); }
void TProtoFTP::MakeDirectory(const std::string& dir) { RunCommand("MKD " + dir); }
void TProtoFTP::RemoveDirectory(const std::string& dir) { RunCommand("RMD " + dir); }

void TProtoFTP::RenameFile(const std::string& old_name, const std::string& new_name) {
  Canceled = false;
  CheckConnection();
  DiscardWaitingInput();
  std::string reply;
  ReportStatus(1, "RNFR " + old_name);
  Transaction("RNFR " + old_name, reply);
  if (ReplyCode > 351 && ReplyCode < 600) OfferFailure(TCmdType::cmdRename, reply);
  ReportStatus(1, "RNTO " + new_name);
  Transaction("RNTO " + new_name, reply);
  if (ReplyCode > 300 && ReplyCode < 600) {
    if (OnUnSupportedFunction && ReplyCode >= 500 && ReplyCode <= 502) {
      OnUnSupportedFunction(TCmdType::cmdRename);
    }
    OfferFailure(TCmdType::cmdRename, reply);
    return;
  }
  if (OnSuccess) OnSuccess(TCmdType::cmdRename);
}

std::string TProtoFTP::QuietTransaction(const std::string& command) {
  Canceled = false;
  CheckConnection();
  DiscardWaitingInput();
  std::string reply;
  Transaction(command, reply);
  return reply;
}

void TProtoFTP::SetTransferType(int mode) {
  switch (mode) {
    case tmAscii:
      RunCommand("TYPE A");
      break;
    case tmImage:
      RunCommand("TYPE I");
      break;
    case tmLocal8:
      RunCommand("TYPE L 8");
      break;
    default:
      break;
  }
}

void TProtoFTP::Abort() {
  if (data_connection_) data_connection_->Cancel();
}

}  // namespace tarnex
