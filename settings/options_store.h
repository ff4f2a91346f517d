// The stored options: the live settings read from and written to the settings store under
// "\SOFTWARE\Tarnex\Options" (LocalMachine). Integers and Booleans are DWORDs (Booleans 0
// and 1), the log file name a string.
#pragma once

#include <memory>
#include <string_view>

#include "platform/registry.h"
#include "settings/live_settings.h"

namespace tarnex::settings {

inline constexpr std::string_view kOptionsKey = "\\SOFTWARE\\Tarnex\\Options";
// The log file name that switching log saving on fills into an empty name field.
inline constexpr std::string_view kDefaultLogName = "Tarnex.log";

// The range of a spin field. Every value set into the field is brought into it; a value
// typed by the user is stored as typed and brought into range at the next Load.
struct SpinRange {
  int min;
  int max;
  int step;

  int Clamp(int value) const { return value < min ? min : (value > max ? max : value); }
  // The field's value read back from its text: the number as typed, or the minimum when the
  // text is not a number.
  int ValueFromText(std::string_view text) const;
};

inline constexpr SpinRange kWaitSizeRange{4, 4096, 4};    // sp_Wsize
inline constexpr SpinRange kWaitSecRange{0, 60, 1};       // sp_Wsec
inline constexpr SpinRange kTimeoutRange{5, 200, 1};      // Ed_timeout
inline constexpr SpinRange kStepDelayRange{0, 10000, 1};  // StepDelay, milliseconds
inline constexpr SpinRange kParallelRange{1, 16, 1};      // Parallel, connections

// Log saving switched on with an empty file name gets "Tarnex.log".
void FillDefaultLogName(LiveSettings& settings);

// The stored names of the connection settings.
inline constexpr std::string_view kPassiveName = "Passive";
inline constexpr std::string_view kRemoteEncodingName = "RemoteEncoding";
inline constexpr std::string_view kTlsModeName = "TlsMode";
inline constexpr std::string_view kTlsCaFileName = "TlsCaFile";
inline constexpr std::string_view kTlsFingerprintName = "TlsFingerprint";
inline constexpr std::string_view kProtocolName = "Protocol";
inline constexpr std::string_view kSshKeyFileName = "SshKeyFile";
inline constexpr std::string_view kSshKnownHostsName = "SshKnownHosts";
inline constexpr std::string_view kSshHostKeyName = "SshHostKey";
inline constexpr std::string_view kSshAcceptNewName = "SshAcceptNew";
// The pause after each line of a whole run of the desktop program, in its options dialog (and
// the runner's --set-option); Store writes it after the others.
inline constexpr std::string_view kStepDelayName = "StepDelay";
// How many connections move the files of mget, mput and mirror at once (1: one after another
// on the session's own). No dialog shows it: the runner's --set-option stores it, and Store
// leaves it as it is.
inline constexpr std::string_view kParallelName = "Parallel";

// Reads every option into `settings`, in the stored order; an absent value gives its default.
// A key that cannot be opened counts as holding nothing. A value of the wrong type stops the
// load there with the store's type error, the later settings left as they were.
void Load(LiveSettings& settings, const std::shared_ptr<platform::RegistryStore>& store);

// Writes every option of the options dialog in the stored order, the step delay last. Raises the
// store's write error naming the first value that cannot be written ("Runmode" when the key cannot
// be opened).
void Store(const LiveSettings& settings, const std::shared_ptr<platform::RegistryStore>& store);

// The connection settings alone: Load reads them after the others; an unknown encoding text
// reads as the default. StoreConnection writes them (the connection dialog's Ok).
void LoadConnection(ConnectionSettings& connection,
                    const std::shared_ptr<platform::RegistryStore>& store);
void StoreConnection(const ConnectionSettings& connection,
                     const std::shared_ptr<platform::RegistryStore>& store);

}  // namespace tarnex::settings
