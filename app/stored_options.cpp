#include "app/stored_options.h"

#include <algorithm>
#include <array>

#include "app/translation.h"
#include "platform/codepage.h"
#include "settings/options_store.h"
#include "text/fingerprint.h"
#include "text/string_helpers.h"

namespace tarnex::app {
namespace {

enum class Kind { Flag, Integer, Text, Encoding, Tls, Path, Fingerprint, Protocol, HostKey };

struct OptionInfo {
  std::string_view name;  // as the store writes it
  Kind kind;
  settings::SpinRange range{0, 0, 0};
};

// In the order the options dialog stores them, the connection settings, the step delay and the
// parallel transfers after them.
constexpr std::array<OptionInfo, 22> kOptions{{
    {"Runmode", Kind::Flag},
    {"Logsave", Kind::Text},
    {"ch_Logsave", Kind::Flag},
    {"cb_debugmode", Kind::Flag},
    {"cb_progress", Kind::Flag},
    {"cb_showbutton", Kind::Flag},
    {"Sendwait", Kind::Flag},
    {"Waitsize", Kind::Integer, settings::kWaitSizeRange},
    {"WaitSec", Kind::Integer, settings::kWaitSecRange},
    {"Timeout", Kind::Integer, settings::kTimeoutRange},
    {settings::kPassiveName, Kind::Flag},
    {settings::kRemoteEncodingName, Kind::Encoding},
    {settings::kTlsModeName, Kind::Tls},
    {settings::kTlsCaFileName, Kind::Path},
    {settings::kTlsFingerprintName, Kind::Fingerprint},
    {settings::kProtocolName, Kind::Protocol},
    {settings::kSshKeyFileName, Kind::Path},
    {settings::kSshKnownHostsName, Kind::Path},
    {settings::kSshHostKeyName, Kind::HostKey},
    {settings::kSshAcceptNewName, Kind::Flag},
    {settings::kStepDelayName, Kind::Integer, settings::kStepDelayRange},
    {settings::kParallelName, Kind::Integer, settings::kParallelRange},
}};

bool IsConnectionOption(std::string_view name) {
  for (std::string_view connection :
       {settings::kPassiveName, settings::kRemoteEncodingName, settings::kTlsModeName,
        settings::kTlsCaFileName, settings::kTlsFingerprintName, settings::kProtocolName,
        settings::kSshKeyFileName, settings::kSshKnownHostsName, settings::kSshHostKeyName,
        settings::kSshAcceptNewName}) {
    if (name == connection) return true;
  }
  return false;
}

std::optional<bool> FlagFromText(std::string_view text) {
  for (std::string_view on : {"1", "on", "true", "yes"}) {
    if (SameText(text, on)) return true;
  }
  for (std::string_view off : {"0", "off", "false", "no"}) {
    if (SameText(text, off)) return false;
  }
  return std::nullopt;
}

ParsedAssignment Refused(std::string_view name, const std::string& why) {
  return {std::nullopt, std::string(name) + ": " + why};
}

ParsedAssignment ParseValue(const OptionInfo& option, std::string_view text) {
  switch (option.kind) {
    case Kind::Flag:
      if (auto flag = FlagFromText(text)) return {OptionAssignment{option.name, *flag}, {}};
      return Refused(option.name, Tr("the value must be 0 or 1 (or off/on)"));
    case Kind::Integer: {
      const std::optional<int> number = WholeNumber<int>(text);
      if (!number) {
        return Refused(option.name, Format(Tr("the value must be a whole number from %d to %d"),
                                           option.range.min, option.range.max));
      }
      if (*number != option.range.Clamp(*number)) {
        return Refused(option.name,
                       Format(Tr("%s is out of range (from %d to %d)"), std::string(text).c_str(),
                              option.range.min, option.range.max));
      }
      return {OptionAssignment{option.name, *number}, {}};
    }
    case Kind::Text: {
      std::optional<std::string> cp932 = platform::TryUtf8ToCp932(text);
      if (!cp932) return Refused(option.name, Tr("the name has a character CP932 cannot hold"));
      return {OptionAssignment{option.name, std::move(*cp932)}, {}};
    }
    case Kind::Encoding:
      if (auto encoding = settings::RemoteEncodingFromText(text)) {
        return {OptionAssignment{option.name, *encoding}, {}};
      }
      return Refused(option.name, Tr("the value must be cp932, utf-8 or auto"));
    case Kind::Tls:
      if (auto mode = settings::TlsModeFromText(text)) {
        return {OptionAssignment{option.name, *mode}, {}};
      }
      return Refused(option.name, Tr("the value must be off, explicit or implicit"));
    case Kind::Path:
      return {OptionAssignment{option.name, std::string(text)}, {}};
    case Kind::Fingerprint:
      if (text.empty() || !NormalizeFingerprint(text).empty()) {
        return {OptionAssignment{option.name, std::string(text)}, {}};
      }
      return Refused(option.name, Tr("the value must be a SHA-256 fingerprint (64 hex digits)"));
    case Kind::Protocol:
      if (auto protocol = settings::RemoteProtocolFromText(text)) {
        return {OptionAssignment{option.name, *protocol}, {}};
      }
      return Refused(option.name, Tr("the value must be ftp or sftp"));
    case Kind::HostKey:
      if (text.empty() || IsSshHostKeyFingerprint(text)) {
        return {OptionAssignment{option.name, std::string(text)}, {}};
      }
      return Refused(option.name,
                     Tr("the value must be a host key fingerprint as ssh shows it (SHA256:...)"));
  }
  return Refused(option.name, "unknown kind");
}

std::string FlagText(bool on) {
  return on ? "1" : "0";
}

std::string ValueText(std::string_view name, const settings::LiveSettings& s) {
  if (name == "Runmode") return FlagText(s.ch_runmode);
  if (name == "Logsave") return platform::Cp932ToUtf8(s.Ed_logsave);
  if (name == "ch_Logsave") return FlagText(s.ch_logsave);
  if (name == "cb_debugmode") return FlagText(s.cb_debugmode);
  if (name == "cb_progress") return FlagText(s.cb_progress);
  if (name == "cb_showbutton") return FlagText(s.cb_showbutton);
  if (name == "Sendwait") return FlagText(s.cb_wait);
  if (name == "Waitsize") return std::to_string(s.sp_Wsize);
  if (name == "WaitSec") return std::to_string(s.sp_Wsec);
  if (name == "Timeout") return std::to_string(s.Ed_timeout);
  if (name == settings::kPassiveName) return FlagText(s.connection.Passive);
  if (name == settings::kTlsModeName) return std::string(settings::TlsModeText(s.connection.tls_mode));
  if (name == settings::kTlsCaFileName) return s.connection.tls_ca_file;
  if (name == settings::kTlsFingerprintName) return s.connection.tls_fingerprint;
  if (name == settings::kProtocolName) {
    return std::string(settings::RemoteProtocolText(s.connection.protocol));
  }
  if (name == settings::kSshKeyFileName) return s.connection.ssh.key_file;
  if (name == settings::kSshKnownHostsName) return s.connection.ssh.known_hosts_file;
  if (name == settings::kSshHostKeyName) return s.connection.ssh.host_key_pin;
  if (name == settings::kSshAcceptNewName) return FlagText(s.connection.ssh.accept_new);
  if (name == settings::kStepDelayName) return std::to_string(s.StepDelay);
  if (name == settings::kParallelName) return std::to_string(s.Parallel);
  return std::string(settings::RemoteEncodingText(s.connection.remote_encoding));
}

// Puts the one value into the connection settings, by the name it is stored under.
void ApplyToConnection(const OptionAssignment& assignment, settings::ConnectionSettings& connection) {
  const std::string_view name = assignment.name;
  if (const bool* flag = std::get_if<bool>(&assignment.value)) {
    (name == settings::kSshAcceptNewName ? connection.ssh.accept_new : connection.Passive) = *flag;
  } else if (const auto* encoding = std::get_if<RemoteEncoding>(&assignment.value)) {
    connection.remote_encoding = *encoding;
  } else if (const auto* mode = std::get_if<TlsMode>(&assignment.value)) {
    connection.tls_mode = *mode;
  } else if (const auto* protocol = std::get_if<RemoteProtocol>(&assignment.value)) {
    connection.protocol = *protocol;
  } else if (const auto* text = std::get_if<std::string>(&assignment.value)) {
    std::string* field = name == settings::kTlsCaFileName       ? &connection.tls_ca_file
                         : name == settings::kSshKeyFileName    ? &connection.ssh.key_file
                         : name == settings::kSshKnownHostsName ? &connection.ssh.known_hosts_file
                         : name == settings::kSshHostKeyName    ? &connection.ssh.host_key_pin
                                                                : &connection.tls_fingerprint;
    *field = *text;
  }
}

}  // namespace

ParsedAssignment ParseOptionAssignment(std::string_view text) {
  const size_t equals = text.find('=');
  if (equals == std::string_view::npos) return {std::nullopt, Tr("NAME=VALUE expected")};
  const std::string_view name = text.substr(0, equals);
  for (const OptionInfo& option : kOptions) {
    if (SameText(name, option.name)) return ParseValue(option, text.substr(equals + 1));
  }
  std::string names;
  for (const OptionInfo& option : kOptions) {
    if (!names.empty()) names += ", ";
    names += option.name;
  }
  return {std::nullopt,
          Format(Tr("unknown option '%s' (one of %s)"), std::string(name).c_str(), names.c_str())};
}

void StoreOption(const OptionAssignment& assignment,
                 const std::shared_ptr<platform::RegistryStore>& store) {
  if (IsConnectionOption(assignment.name)) {
    settings::ConnectionSettings connection;
    settings::LoadConnection(connection, store);
    ApplyToConnection(assignment, connection);
    settings::StoreConnection(connection, store);
    return;
  }
  platform::Registry registry(store, platform::RootKey::LocalMachine);
  registry.OpenKey(settings::kOptionsKey, true);  // not open: the write names the value
  if (const bool* flag = std::get_if<bool>(&assignment.value)) {
    registry.WriteBool(assignment.name, *flag);
  } else if (const int* number = std::get_if<int>(&assignment.value)) {
    registry.WriteInteger(assignment.name, *number);
  } else if (const auto* text = std::get_if<std::string>(&assignment.value)) {
    registry.WriteString(assignment.name, *text);
  }
}

std::string SettingsListing(const settings::LiveSettings& settings,
                            const std::vector<std::string>& variable_names) {
  std::string out = "[Options]\n";
  for (const OptionInfo& option : kOptions) {
    out += std::string(option.name) + "=" + ValueText(option.name, settings) + "\n";
  }
  out += "[Variables]\n";
  for (const std::string& name : variable_names) out += name + "\n";
  return out;
}

std::vector<std::string> StoredVariableNames(const std::shared_ptr<platform::RegistryStore>& store) {
  // Every value of "\SOFTWARE\Tarnex" itself is a variable (the empty name is the key's
  // default value, which is none).
  std::vector<std::string> names;
  platform::Registry registry(store, platform::RootKey::LocalMachine);
  if (!registry.OpenKey("\\SOFTWARE\\Tarnex", false)) return names;
  for (const std::string& name : registry.ValueNames()) {
    if (!name.empty()) names.push_back(platform::Cp932ToUtf8(name));
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace tarnex::app
