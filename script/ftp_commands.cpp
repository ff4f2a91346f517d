// The FTP group of commands.
#include "script/engine.h"

namespace tarnex::script {

void ScriptEngine::DoFtpCommand(Command command, std::string args) {
  FCommandOk = true;
  (void)command;
  (void)args;
}

}  // namespace tarnex::script
