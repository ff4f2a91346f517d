// What an SFTP status means in the terms the log and the result flag already use: the reply
// code and line the FTP path writes for the same outcome.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarnex::sftp {

// What the status answers, for the code of a success (FTP answers each with its own code).
enum class Action : uint8_t {
  Login,         // 230: the session is set up (VERSION)
  ChangeDir,     // 250, as CWD
  MakeDir,       // 257, as MKD
  RemoveDir,     // 250, as RMD
  Delete,        // 250, as DELE
  Rename,        // 250, as RNTO
  OpenTransfer,  // 150: a file or listing opened, as the opening reply of RETR, STOR, LIST
  EndTransfer,   // 226: the transfer or listing ended, as its closing reply
  FileStatus,    // 213: a size or time read or set, as SIZE, MDTM, MFMT
  Command,       // 200: anything else
};

struct Outcome {
  int code = 0;
  std::string line;  // "550 No such file": the code, a blank, and the server's message
  bool Succeeded() const { return code < 400; }
};

// The reply code of a status, and the line that carries the server's message (its first line
// only, so that it stays one log line; a fixed text when the server sent none):
//   SSH_FX_OK                      the action's success code (above)
//   SSH_FX_EOF                     226 after an EndTransfer (the end of a file or listing);
//                                  550 for any other action, which no end of file answers
//   SSH_FX_NO_SUCH_FILE            550
//   SSH_FX_PERMISSION_DENIED       550
//   SSH_FX_FAILURE                 550 (FTP servers refuse a file action with 550)
//   SSH_FX_BAD_MESSAGE             500 (the server could not read our request)
//   SSH_FX_NO_CONNECTION           421 (the service is gone, as an FTP server closing)
//   SSH_FX_CONNECTION_LOST         421
//   SSH_FX_OP_UNSUPPORTED          502 (not implemented)
//   any other code                 550
Outcome OutcomeOfStatus(uint32_t status_code, std::string_view server_message, Action action);

}  // namespace tarnex::sftp
