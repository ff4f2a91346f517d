// The FTP group of commands: each takes its words or arguments, calls one operation of the
// FTP client and turns its result into the result flag (above 400 is a failure).
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ftpclient/low_ftp.h"
#include "platform/files.h"
#include "script/engine.h"
#include "text/printable.h"
#include "text/string_helpers.h"
#include "text/texts.h"

namespace tarnex::script {
namespace {

constexpr size_t kListFileNameLimit = 999;

// Trims blanks and control characters at both ends.
std::string TrimControl(std::string_view s) {
  auto is_trimmed = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  while (!s.empty() && is_trimmed(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_trimmed(s.back())) s.remove_suffix(1);
  return std::string(s);
}

// Listing lines as the log shows them: a control character from the server (an ESC that
// would recolour a terminal, a BEL) as "\x1b".
std::vector<std::string> ShownLines(const std::vector<std::string>& lines) {
  std::vector<std::string> shown;
  shown.reserve(lines.size());
  for (const std::string& line : lines) shown.push_back(EscapeControlCharacters(line));
  return shown;
}

}  // namespace

void ScriptEngine::DoFtpCommand(Command command, std::string args) {
  // A Bye with nothing to end (the clean-up after a failed Open or Login) sets the result flag
  // as it always did, for `if Error`; but it tells nothing of how the run went, so what an
  // exit status is made of stays as the commands before it left it.
  const bool idle_bye = command == Command::Bye && !FTP.Connected();
  const bool run_went_well = last_result_ok_;
  FCommandOk = true;
  std::optional<int32_t> result = RunFtpCommand(command, args);
  if (result && *result > 400) SetCommandResult(false);
  last_result_ok_ = idle_bye ? run_went_well : FCommandOk;
}

std::optional<int32_t> ScriptEngine::RunFtpCommand(Command command, std::string& args) {
  switch (command) {
    case Command::Open: {
      FHost = NextToken(args, " ");
      FProxy = NextToken(args, " ");
      FPort = NextToken(args, " ");
      return DoOpen(FHost, FProxy, FPort);
    }
    case Command::Login:
      return DoLogin(std::move(args));
    case Command::Get: {
      std::string remote = NextArgument(args);
      return FTP.Download(remote, NextArgument(args));
    }
    case Command::Put: {
      std::string local = NextArgument(args);
      return FTP.Upload(local, NextArgument(args));
    }
    case Command::Append: {
      std::string local = NextArgument(args);
      return FTP.UploadAppend(local, NextArgument(args));
    }
    case Command::Binary:
      return FTP.ModeImage();
    case Command::Ascii:
      return FTP.ModeAscii();
    case Command::Cd:
      return FTP.ChangeDir(NextArgument(args));
    case Command::Dir:
      DoDir(std::move(args));  // sets the flag itself, before it writes the list file
      return std::nullopt;
    case Command::Del:
      return FTP.Delete(NextArgument(args));
    case Command::Md:
      return FTP.MakeDir(NextArgument(args));
    case Command::Rd:
      return FTP.RemoveDir(NextArgument(args));
    case Command::Rename: {
      std::string old_name = NextArgument(args);
      return FTP.Rename(old_name, NextArgument(args));
    }
    case Command::Ftp:
      return FTP.DoCommand(args);  // the raw line as it stands, leading blanks included
    case Command::Bye:
      return FTP.Disconnect();
    case Command::Dialup:
    case Command::Disconnect:
      DoNotImplemented();
      return std::nullopt;
    case Command::Reget: {
      std::string remote = NextArgument(args);
      return FTP.ResumeDownload(remote, NextArgument(args));
    }
    case Command::Reput: {
      std::string local = NextArgument(args);
      return FTP.ResumeUpload(local, NextArgument(args));
    }
    case Command::Passive:
      return DoPassive(NextToken(args, " "));
    case Command::Tls:
      return DoTls(NextToken(args, " "));
    case Command::Mget:
      return DoMget(std::move(args));
    case Command::Mput:
      return DoMput(std::move(args));
    case Command::Mirror:
      return DoMirror(std::move(args));
    default:
      return std::nullopt;
  }
}

int32_t ScriptEngine::DoOpen(const std::string& host, const std::string& proxy,
                             const std::string& port_text) {
  // "NONE" holds the proxy's place when a port follows; a bad port gives 0, that is 21.
  std::string real_proxy = SameText(proxy, "NONE") ? std::string() : proxy;
  return FTP.SetServer(host, real_proxy, StrToIntSafe(port_text));
}

int32_t ScriptEngine::DoLogin(std::string args) {
  // Quoted like every other argument: a password may hold blanks ("pa ss"); `""` is an empty
  // password given on purpose.
  FUser = NextArgument(args);
  const bool password_given = args.find_first_not_of(' ') != std::string::npos;
  FPassword = NextArgument(args);
  if (!password_given && OnLoginCredentials) {
    // The netrc entry is the host's, also when Open named it as sftp://host:port.
    const CredentialsAnswer answer = OnLoginCredentials(FTP.HostName(), FUser);
    switch (answer.outcome) {
      case CredentialsAnswer::Outcome::None:
        break;
      case CredentialsAnswer::Outcome::Found:
        FUser = answer.user;
        FPassword = answer.password;
        AddLog("Login: " + FUser + " and the password from " + answer.source);
        break;
      case CredentialsAnswer::Outcome::Refused:
        // Nothing is sent: a login with a password left out would fail anyway, or worse,
        // succeed as somebody else.
        AddLog("Login: no password: " + answer.problem);
        return 999;
    }
  }
  return FTP.Connect(FUser, FPassword);
}

void ScriptEngine::DoDir(std::string args) {
  size_t arrow = args.find('>');
  if (arrow != std::string::npos) {
    // The file name is taken as it stands: a blank after ">" belongs to it.
    FListFile = args.substr(arrow + 1, kListFileNameLimit);
    args = TrimControl(std::string_view(args).substr(0, arrow));
  } else {
    FListFile.clear();
  }
  std::string directory = NextArgument(args);
  std::string listing;
  if (FTP.List(directory, listing) > 400) SetCommandResult(false);

  // Walked, not cut from the front, and logged in one go: a listing of a million lines takes
  // no longer to hand over than to read.
  std::vector<std::string> lines;
  std::string_view rest = listing;
  while (!rest.empty()) {
    // Blank lines are skipped; the final line end leaves one empty line at the end.
    lines.emplace_back(NextTokenIn(rest, "\r\n"));
  }
  listing = std::string();  // its copy is in `lines`
  AddLogLines(ShownLines(lines));
  // The file keeps the server's bytes: it is data, not something shown.
  if (!FListFile.empty()) platform::WriteLines(FListFile, lines);
}

int32_t ScriptEngine::DoPassive(const std::string& word) {
  if (FTP.SessionProtocol() == RemoteProtocol::Sftp) {
    AddLog("Passive: SFTP moves files on its one SSH connection, so there is no data "
           "connection to make passive");
    return 999;
  }
  // From the next data connection on; nothing of it is stored.
  if (SameText(word, "on") || SameText(word, "off")) {
    FTP.SetPassive(SameText(word, "on"));
    return 200;
  }
  AddLog("Passive: give on or off, not '" + word + "'");
  return 999;
}

int32_t ScriptEngine::DoTls(const std::string& word) {
  if (FTP.SessionProtocol() == RemoteProtocol::Sftp) {
    AddLog("TLS: SFTP is protected by SSH; TLS applies to FTP servers only");
    return 999;
  }
  // For the next Login; nothing of it is stored.
  static constexpr std::pair<std::string_view, TlsMode> kModes[] = {
      {"off", TlsMode::Off}, {"explicit", TlsMode::Explicit}, {"implicit", TlsMode::Implicit}};
  for (const auto& [name, mode] : kModes) {
    if (SameText(word, name)) {
      FTP.SetTlsMode(mode);
      return 200;
    }
  }
  AddLog("TLS: give off, explicit or implicit, not '" + word + "'");
  return 999;
}

void ScriptEngine::DoNotImplemented() {
  platform::MessageBoxRequest box;
  box.text = texts::NotImplemented();
  box.caption = texts::AppTitle();
  host_.ShowMessage(box);
}

}  // namespace tarnex::script
