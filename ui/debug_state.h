// What the variables panel shows of the script and its engine at one moment, gathered without
// Qt and turned into display text (UTF-8) once.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/text_encoding.h"

namespace tarnex::script {
class ScriptEngine;
}

namespace tarnex::ui {

inline constexpr std::string_view kMaskedValue = "********";

struct DebugState {
  struct Variable {
    std::string name;
    std::string value;  // kMaskedValue for a secret; the store's error for one that cannot be read
  };
  // Every stored variable by name, then those the script names that nothing has stored yet.
  std::vector<Variable> variables;
  bool command_ok = false;
  int reply_code = 0;
  std::string reply_line;  // without its line end, its control characters escaped
  bool connected = false;
  std::string host;
  std::string local_folder;
  bool passive = false;
};

// `lines` are the script's lines in `encoding`, the encoding its run uses, whose references are
// resolved as such a run would resolve them now.
DebugState CollectDebugState(script::ScriptEngine& engine, const std::vector<std::string>& lines,
                             platform::TextEncoding encoding,
                             const std::shared_ptr<platform::RegistryStore>& store);

}  // namespace tarnex::ui
