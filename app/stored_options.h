// The stored options as the headless runner shows and sets them: by the names they are stored
// under, with the options dialog's ranges.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/registry.h"
#include "settings/live_settings.h"

namespace tarnex::app {

// One option to store: its stored name as the store writes it, and its value.
struct OptionAssignment {
  std::string_view name;
  // A string is CP932 for Logsave, the file name or fingerprint as given for the TLS options.
  std::variant<bool, int, std::string, RemoteEncoding, TlsMode, RemoteProtocol> value;

  bool operator==(const OptionAssignment&) const = default;
};

struct ParsedAssignment {
  std::optional<OptionAssignment> assignment;
  std::string error;  // why not, when there is no assignment
};

// NAME=VALUE, the name compared without case. Flags take 0/1, on/off, true/false or yes/no;
// numbers must lie in the dialog's range (a command line gets an error where the dialog would
// clamp, so that a typo never stores a value nobody asked for); RemoteEncoding takes
// cp932, utf-8 or auto; Logsave any file name CP932 can hold (the store is shared with the
// desktop program, which reads CP932).
ParsedAssignment ParseOptionAssignment(std::string_view text);

// Writes the one value, nothing else: the other stored options stay exactly as they are.
// Raises the store's write error.
void StoreOption(const OptionAssignment& assignment,
                 const std::shared_ptr<platform::RegistryStore>& store);

// The settings as the runner would use them (loaded, so out-of-range values already brought
// into range), one NAME=VALUE a line under "[Options]", then the names of the stored variables
// under "[Variables]", one a line; UTF-8. Values of variables are never shown: they may be
// passwords.
std::string SettingsListing(const settings::LiveSettings& settings,
                            const std::vector<std::string>& variable_names);

// The names of the script variables in the store (UTF-8, sorted); none when the store cannot
// be read.
std::vector<std::string> StoredVariableNames(const std::shared_ptr<platform::RegistryStore>& store);

}  // namespace tarnex::app
