// The script language's command words.
#pragma once

#include <optional>
#include <string_view>

namespace tarnex::script {

enum class Command {
  Rem,
  // flow and local commands
  If,
  Pause,
  Goto,
  Stop,
  Exit,
  Set,
  Lcd,
  Ldel,
  WaitTimer,
  // FTP commands
  Open,
  Login,
  Get,
  Put,
  Append,
  Binary,
  Ascii,
  Cd,
  Dir,
  Del,
  Md,
  Rd,
  Rename,
  Ftp,
  Bye,
  Dialup,
  Disconnect,
  Passive,
  Reget,
  Reput,
  Tls,
  Mget,
  Mput,
  Mirror,
};

enum class CommandGroup { None, Local, Ftp };

// The command whose keyword equals `word` (ASCII letters without case, exact length).
std::optional<Command> LookupCommand(std::string_view word);
CommandGroup GroupOf(Command command);
std::string_view KeywordOf(Command command);

}  // namespace tarnex::script
