// The live settings: the values the rest of the program reads whenever it needs a setting.
// Names follow the controls of the options dialog that shows them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "ftpproto/ftp_types.h"
#include "ssh/ssh_options.h"

namespace tarnex::settings {

using tarnex::RemoteEncoding;

// "cp932", "utf-8" and "auto" (any case); nothing for anything else.
std::optional<RemoteEncoding> RemoteEncodingFromText(std::string_view text);
std::string_view RemoteEncodingText(RemoteEncoding encoding);

using tarnex::TlsMode;

// "off", "explicit" and "implicit" (any case); nothing for anything else.
std::optional<TlsMode> TlsModeFromText(std::string_view text);
std::string_view TlsModeText(TlsMode mode);

using tarnex::RemoteProtocol;

// "ftp" and "sftp" (any case); nothing for anything else.
std::optional<RemoteProtocol> RemoteProtocolFromText(std::string_view text);
std::string_view RemoteProtocolText(RemoteProtocol protocol);

// How SFTP sessions reach their server through OpenSSH's client.
using SshSettings = ssh::SshOptions;

// The connection settings, stored next to the options but shown in a dialog of their own.
struct ConnectionSettings {
  RemoteProtocol protocol = RemoteProtocol::Ftp;  // for an Open of a bare host
  bool Passive = false;  // data connections by EPSV/PASV instead of PORT
  RemoteEncoding remote_encoding = RemoteEncoding::Cp932;
  TlsMode tls_mode = TlsMode::Off;
  std::string tls_ca_file;      // a PEM file of authorities beside the system's (UTF-8 path)
  std::string tls_fingerprint;  // SHA-256 of the one certificate to accept (hex, colons allowed)
  SshSettings ssh;
  // How names reach an SFTP server in this run; nothing: UTF-8, as OpenSSH servers keep them
  // today (the stored encoding above is the FTP servers'). Not stored.
  std::optional<RemoteEncoding> sftp_remote_encoding;
};

struct LiveSettings {
  bool ch_runmode = false;     // hide the program during an automatic run
  std::string Ed_logsave;      // log file written at exit (CP932)
  bool ch_logsave = false;     // write the log at exit
  bool cb_debugmode = false;   // the FTP client's trace lines
  bool cb_progress = false;    // show the progress window during an automatic run
  bool cb_showbutton = false;  // the progress window's detail button
  bool cb_wait = false;        // pause after every upload block
  int sp_Wsize = 4;            // stored and restored only
  int sp_Wsec = 0;             // the pause after upload blocks, seconds
  int Ed_timeout = 10;         // FTP inactivity time-out, seconds
  ConnectionSettings connection;
  int StepDelay = 500;  // the pause after each line of a whole run, milliseconds
  int Parallel = 1;     // connections that move the files of mget, mput and mirror at once
};

}  // namespace tarnex::settings
