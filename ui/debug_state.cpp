#include "ui/debug_state.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <system_error>

#include "platform/codepage.h"
#include "platform/errors.h"
#include "script/engine.h"
#include "script/log_mask.h"
#include "script/variables.h"
#include "text/printable.h"
#include "text/string_helpers.h"
#include "ui/script_words.h"

namespace tarnex::ui {
namespace {

std::string WithoutLineEnd(std::string line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  return line;
}

// Every stored variable, as the store holds it (CP932); a value that is not a string shows the
// store's error.
std::vector<DebugState::Variable> StoredVariables(
    const std::shared_ptr<platform::RegistryStore>& store, std::vector<std::string>& names) {
  std::vector<DebugState::Variable> shown;
  // The store's names are CP932 whatever the run's encoding: the secret rule reads them so.
  const platform::ScopedTextEncoding stored_encoding(platform::TextEncoding::Cp932);
  platform::Registry registry(store);
  if (!registry.OpenKey(script::kVariablesKey, false)) return shown;
  names = registry.ValueNames();
  for (const std::string& name : names) {
    DebugState::Variable variable{platform::Cp932ToUtf8(name), {}};
    try {
      const std::string value = registry.ReadString(name);
      variable.value =
          script::IsSecretName(name) ? std::string(kMaskedValue) : platform::Cp932ToUtf8(value);
    } catch (const ERegistryException& error) {
      variable.value = platform::Cp932ToUtf8(error.Message());
    }
    shown.push_back(std::move(variable));
  }
  return shown;
}

// The names the script uses, in CP932 as the store keeps them (a name CP932 cannot hold is
// never stored, and is shown as it is).
std::vector<std::pair<std::string, std::string>> ScriptNames(
    const std::vector<std::string>& lines, platform::TextEncoding encoding,
    const std::shared_ptr<platform::RegistryStore>& store) {
  // The lines are read, and their references resolved, as a run in their encoding would.
  const platform::ScopedTextEncoding run_encoding(encoding);
  const script::Variables variables(store);
  auto read = [&](const std::string& name) -> std::string {
    try {
      return variables.Read(name);
    } catch (const ERegistryException&) {
      return {};  // the stored list shows the error; the name itself still counts
    }
  };
  std::vector<std::pair<std::string, std::string>> names;  // CP932 (or as is), display
  for (const std::string& name : VariableNames(lines, read)) {
    const std::string utf8 = platform::CurrentTextToUtf8(name);
    const std::optional<std::string> cp932 = encoding == platform::TextEncoding::Utf8
                                                 ? platform::TryUtf8ToCp932(name)
                                                 : std::optional<std::string>(name);
    names.emplace_back(cp932.value_or(name), utf8);
  }
  return names;
}

}  // namespace

DebugState CollectDebugState(script::ScriptEngine& engine, const std::vector<std::string>& lines,
                             platform::TextEncoding encoding,
                             const std::shared_ptr<platform::RegistryStore>& store) {
  DebugState state;
  std::vector<std::string> stored;
  state.variables = StoredVariables(store, stored);
  // A name the script uses that nothing has stored yet is listed empty: %name% gives "" now.
  for (const auto& [key, shown] : ScriptNames(lines, encoding, store)) {
    const bool known = std::any_of(stored.begin(), stored.end(),
                                   [&](const std::string& name) { return SameText(name, key); });
    if (!known) state.variables.push_back({shown, {}});
  }
  const platform::ScopedTextEncoding run_encoding(encoding);  // the engine's strings
  state.command_ok = engine.FCommandOk;
  state.reply_code = engine.FTP.LastReplyCode();
  // The server's own text: a control character in it shows as "\x1b".
  state.reply_line = platform::CurrentTextToUtf8(
      EscapeControlCharacters(WithoutLineEnd(engine.FTP.LastReplyLine())));
  state.connected = engine.FConnected;
  state.host = platform::CurrentTextToUtf8(engine.FHost);
  std::error_code error;
  state.local_folder = std::filesystem::current_path(error).string();
  state.passive = engine.FTP.Passive();
  return state;
}

}  // namespace tarnex::ui
