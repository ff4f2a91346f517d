#include "script/command_table.h"

#include <array>
#include <utility>

#include "text/string_helpers.h"

namespace tarnex::script {
namespace {

struct Entry {
  std::string_view keyword;
  Command command;
  CommandGroup group;
};

constexpr std::array kTable = {
    Entry{"Rem", Command::Rem, CommandGroup::None},
    Entry{"if", Command::If, CommandGroup::Local},
    Entry{"pause", Command::Pause, CommandGroup::Local},
    Entry{"goto", Command::Goto, CommandGroup::Local},
    Entry{"stop", Command::Stop, CommandGroup::Local},
    Entry{"exit", Command::Exit, CommandGroup::Local},
    Entry{"set", Command::Set, CommandGroup::Local},
    Entry{"lcd", Command::Lcd, CommandGroup::Local},
    Entry{"ldel", Command::Ldel, CommandGroup::Local},
    Entry{"WaitTimer", Command::WaitTimer, CommandGroup::Local},
    Entry{"Open", Command::Open, CommandGroup::Ftp},
    Entry{"Login", Command::Login, CommandGroup::Ftp},
    Entry{"Get", Command::Get, CommandGroup::Ftp},
    Entry{"Put", Command::Put, CommandGroup::Ftp},
    Entry{"Append", Command::Append, CommandGroup::Ftp},
    Entry{"Binary", Command::Binary, CommandGroup::Ftp},
    Entry{"Ascii", Command::Ascii, CommandGroup::Ftp},
    Entry{"Cd", Command::Cd, CommandGroup::Ftp},
    Entry{"Dir", Command::Dir, CommandGroup::Ftp},
    Entry{"Del", Command::Del, CommandGroup::Ftp},
    Entry{"md", Command::Md, CommandGroup::Ftp},
    Entry{"rd", Command::Rd, CommandGroup::Ftp},
    Entry{"rename", Command::Rename, CommandGroup::Ftp},
    Entry{"FTP", Command::Ftp, CommandGroup::Ftp},
    Entry{"Bye", Command::Bye, CommandGroup::Ftp},
    Entry{"Dialup", Command::Dialup, CommandGroup::Ftp},
    Entry{"Disconnect", Command::Disconnect, CommandGroup::Ftp},
    Entry{"Passive", Command::Passive, CommandGroup::Ftp},
    Entry{"reget", Command::Reget, CommandGroup::Ftp},
    Entry{"reput", Command::Reput, CommandGroup::Ftp},
    Entry{"TLS", Command::Tls, CommandGroup::Ftp},
    Entry{"mget", Command::Mget, CommandGroup::Ftp},
    Entry{"mput", Command::Mput, CommandGroup::Ftp},
    Entry{"mirror", Command::Mirror, CommandGroup::Ftp},
};

const Entry& EntryOf(Command command) {
  for (const auto& entry : kTable) {
    if (entry.command == command) return entry;
  }
  return kTable[0];
}

}  // namespace

std::optional<Command> LookupCommand(std::string_view word) {
  for (const auto& entry : kTable) {
    if (SameText(word, entry.keyword)) return entry.command;
  }
  return std::nullopt;
}

CommandGroup GroupOf(Command command) { return EntryOf(command).group; }
std::string_view KeywordOf(Command command) { return EntryOf(command).keyword; }

}  // namespace tarnex::script
