#include "sftp/sftp_outcome.h"

#include <string>

#include "sftp/sftp_protocol.h"

namespace tarnex::sftp {
namespace {

int SuccessCode(Action action) {
  switch (action) {
    case Action::Login:
      return 230;
    case Action::ChangeDir:
    case Action::RemoveDir:
    case Action::Delete:
    case Action::Rename:
      return 250;
    case Action::MakeDir:
      return 257;
    case Action::OpenTransfer:
      return 150;
    case Action::EndTransfer:
      return 226;
    case Action::FileStatus:
      return 213;
    case Action::Command:
      return 200;
  }
  return 200;
}

struct CodeAndText {
  int code;
  std::string text;  // when the server gives no message
};

CodeAndText CodeOfStatus(uint32_t status_code, Action action) {
  switch (status_code) {
    case SSH_FX_OK:
      return {SuccessCode(action), "OK"};
    case SSH_FX_EOF:
      return {action == Action::EndTransfer ? 226 : 550, "End of file"};
    case SSH_FX_NO_SUCH_FILE:
      return {550, "No such file"};
    case SSH_FX_PERMISSION_DENIED:
      return {550, "Permission denied"};
    case SSH_FX_FAILURE:
      return {550, "Failure"};
    case SSH_FX_BAD_MESSAGE:
      return {500, "Bad message"};
    case SSH_FX_NO_CONNECTION:
      return {421, "No connection"};
    case SSH_FX_CONNECTION_LOST:
      return {421, "Connection lost"};
    case SSH_FX_OP_UNSUPPORTED:
      return {502, "Operation unsupported"};
    default:
      return {550, "Unknown status " + std::to_string(status_code)};
  }
}

}  // namespace

Outcome OutcomeOfStatus(uint32_t status_code, std::string_view server_message, Action action) {
  const CodeAndText known = CodeOfStatus(status_code, action);
  std::string_view message = server_message.substr(0, server_message.find_first_of("\r\n"));
  std::string line = std::to_string(known.code) + " ";
  line += message.empty() ? std::string_view(known.text) : message;
  return {known.code, std::move(line)};
}

}  // namespace tarnex::sftp
