#include "settings/options_store.h"

#include <array>
#include <string>
#include <utility>

#include "text/string_helpers.h"

namespace tarnex::settings {
namespace {

using platform::Registry;

bool ReadBoolOr(Registry& registry, std::string_view name, bool absent) {
  return registry.ValueExists(name) ? registry.ReadBool(name) : absent;
}

int ReadIntegerOr(Registry& registry, std::string_view name, int absent) {
  return registry.ValueExists(name) ? registry.ReadInteger(name) : absent;
}

constexpr std::array<std::pair<std::string_view, RemoteEncoding>, 3> kEncodingNames{{
    {"cp932", RemoteEncoding::Cp932},
    {"utf-8", RemoteEncoding::Utf8},
    {"auto", RemoteEncoding::Auto},
}};

constexpr std::array<std::pair<std::string_view, TlsMode>, 3> kTlsModeNames{{
    {"off", TlsMode::Off},
    {"explicit", TlsMode::Explicit},
    {"implicit", TlsMode::Implicit},
}};

constexpr std::array<std::pair<std::string_view, RemoteProtocol>, 2> kProtocolNames{{
    {"ftp", RemoteProtocol::Ftp},
    {"sftp", RemoteProtocol::Sftp},
}};

// The stored names of a setting's values: read without case; an unknown value is written
// as the first name (the default).
template <typename Value, size_t N>
std::optional<Value> ValueNamed(const std::array<std::pair<std::string_view, Value>, N>& names,
                                std::string_view text) {
  for (const auto& [name, value] : names) {
    if (SameText(text, name)) return value;
  }
  return std::nullopt;
}

template <typename Value, size_t N>
std::string_view NameOf(const std::array<std::pair<std::string_view, Value>, N>& names,
                        Value value) {
  for (const auto& [name, named] : names) {
    if (named == value) return name;
  }
  return names[0].first;
}

std::string ReadStringOr(Registry& registry, std::string_view name) {
  return registry.ValueExists(name) ? registry.ReadString(name) : std::string();
}

}  // namespace

std::optional<RemoteProtocol> RemoteProtocolFromText(std::string_view text) {
  return ValueNamed(kProtocolNames, text);
}

std::string_view RemoteProtocolText(RemoteProtocol protocol) {
  return NameOf(kProtocolNames, protocol);
}

std::optional<TlsMode> TlsModeFromText(std::string_view text) {
  return ValueNamed(kTlsModeNames, text);
}

std::string_view TlsModeText(TlsMode mode) {
  return NameOf(kTlsModeNames, mode);
}

std::optional<RemoteEncoding> RemoteEncodingFromText(std::string_view text) {
  return ValueNamed(kEncodingNames, text);
}

std::string_view RemoteEncodingText(RemoteEncoding encoding) {
  return NameOf(kEncodingNames, encoding);
}

int SpinRange::ValueFromText(std::string_view text) const {
  // As a number is typed: blanks before it, an optional sign, decimal digits and nothing else.
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  if (text.size() > 1 && text[0] == '+' && text[1] != '-') text.remove_prefix(1);
  return WholeNumber<int>(text).value_or(min);
}

void FillDefaultLogName(LiveSettings& settings) {
  if (settings.ch_logsave && settings.Ed_logsave.empty()) settings.Ed_logsave = kDefaultLogName;
}

void Load(LiveSettings& settings, const std::shared_ptr<platform::RegistryStore>& store) {
  Registry registry(store, platform::RootKey::LocalMachine);
  // A key that cannot be opened holds no values: every setting takes its default.
  registry.OpenKey(kOptionsKey, true);

  settings.ch_runmode = ReadIntegerOr(registry, "Runmode", 0) == 1;
  settings.Ed_logsave = registry.ValueExists("Logsave") ? registry.ReadString("Logsave") : "";
  // The name is read first, so a stored name survives; an empty one with saving on is filled.
  settings.ch_logsave = ReadBoolOr(registry, "ch_Logsave", false);
  FillDefaultLogName(settings);
  settings.cb_progress = ReadBoolOr(registry, "cb_progress", false);
  settings.cb_showbutton = ReadBoolOr(registry, "cb_showbutton", false);
  settings.cb_debugmode = ReadBoolOr(registry, "cb_debugmode", false);
  settings.cb_wait = registry.ValueExists("SendWait") && registry.ReadBool("Sendwait");
  settings.sp_Wsize = kWaitSizeRange.Clamp(ReadIntegerOr(registry, "WaitSize", 0));
  settings.sp_Wsec = kWaitSecRange.Clamp(ReadIntegerOr(registry, "WaitSec", 0));
  settings.Ed_timeout = kTimeoutRange.Clamp(ReadIntegerOr(registry, "Timeout", 10));
  settings.StepDelay = kStepDelayRange.Clamp(ReadIntegerOr(registry, kStepDelayName, 500));
  settings.Parallel = kParallelRange.Clamp(ReadIntegerOr(registry, kParallelName, 1));
  registry.CloseKey();
  LoadConnection(settings.connection, store);
}

void LoadConnection(ConnectionSettings& connection,
                    const std::shared_ptr<platform::RegistryStore>& store) {
  Registry registry(store, platform::RootKey::LocalMachine);
  registry.OpenKey(kOptionsKey, true);
  connection.Passive = ReadBoolOr(registry, kPassiveName, false);
  connection.remote_encoding =
      registry.ValueExists(kRemoteEncodingName)
          ? RemoteEncodingFromText(registry.ReadString(kRemoteEncodingName))
                .value_or(RemoteEncoding::Cp932)
          : RemoteEncoding::Cp932;
  connection.tls_mode =
      TlsModeFromText(ReadStringOr(registry, kTlsModeName)).value_or(TlsMode::Off);
  connection.tls_ca_file = ReadStringOr(registry, kTlsCaFileName);
  connection.tls_fingerprint = ReadStringOr(registry, kTlsFingerprintName);
  connection.protocol =
      RemoteProtocolFromText(ReadStringOr(registry, kProtocolName)).value_or(RemoteProtocol::Ftp);
  connection.ssh.key_file = ReadStringOr(registry, kSshKeyFileName);
  connection.ssh.known_hosts_file = ReadStringOr(registry, kSshKnownHostsName);
  connection.ssh.host_key_pin = ReadStringOr(registry, kSshHostKeyName);
  connection.ssh.accept_new = ReadBoolOr(registry, kSshAcceptNewName, false);
  registry.CloseKey();
}

void StoreConnection(const ConnectionSettings& connection,
                     const std::shared_ptr<platform::RegistryStore>& store) {
  Registry registry(store, platform::RootKey::LocalMachine);
  registry.OpenKey(kOptionsKey, true);
  registry.WriteBool(kPassiveName, connection.Passive);
  registry.WriteString(kRemoteEncodingName, RemoteEncodingText(connection.remote_encoding));
  registry.WriteString(kTlsModeName, TlsModeText(connection.tls_mode));
  registry.WriteString(kTlsCaFileName, connection.tls_ca_file);
  registry.WriteString(kTlsFingerprintName, connection.tls_fingerprint);
  registry.WriteString(kProtocolName, RemoteProtocolText(connection.protocol));
  registry.WriteString(kSshKeyFileName, connection.ssh.key_file);
  registry.WriteString(kSshKnownHostsName, connection.ssh.known_hosts_file);
  registry.WriteString(kSshHostKeyName, connection.ssh.host_key_pin);
  registry.WriteBool(kSshAcceptNewName, connection.ssh.accept_new);
  registry.CloseKey();
}

void Store(const LiveSettings& settings, const std::shared_ptr<platform::RegistryStore>& store) {
  Registry registry(store, platform::RootKey::LocalMachine);
  // A key that cannot be opened fails at the first write, naming "Runmode".
  registry.OpenKey(kOptionsKey, true);
  registry.WriteInteger("Runmode", settings.ch_runmode ? 1 : 0);
  registry.WriteString("Logsave", settings.Ed_logsave);
  registry.WriteBool("ch_Logsave", settings.ch_logsave);
  registry.WriteBool("cb_debugmode", settings.cb_debugmode);
  registry.WriteBool("cb_progress", settings.cb_progress);
  registry.WriteBool("cb_showbutton", settings.cb_showbutton);
  registry.WriteBool("Sendwait", settings.cb_wait);
  registry.WriteInteger("Waitsize", settings.sp_Wsize);
  registry.WriteInteger("WaitSec", settings.sp_Wsec);
  registry.WriteInteger("Timeout", settings.Ed_timeout);
  registry.WriteInteger(kStepDelayName, settings.StepDelay);
  registry.CloseKey();
}

}  // namespace tarnex::settings
