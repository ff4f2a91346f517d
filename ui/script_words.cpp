#include "ui/script_words.h"

#include <algorithm>
#include <optional>

#include "script/command_table.h"
#include "script/variables.h"
#include "text/string_helpers.h"

namespace tarnex::ui {
namespace {

void AddOnce(std::vector<std::string>& names, const std::string& name) {
  if (name.empty()) return;
  const bool known = std::any_of(names.begin(), names.end(),
                                 [&](const std::string& seen) { return SameText(seen, name); });
  if (!known) names.push_back(name);
}

// The name a `set` line writes, looking past any `if` conditions, as the engine runs it.
std::optional<std::string> SetName(std::string line) {
  for (;;) {
    const std::optional<script::Command> command =
        script::LookupCommand(TrimBlanks(NextToken(line, " ")));
    if (command == script::Command::If) {
      NextToken(line, " ");  // the condition
      continue;
    }
    if (command != script::Command::Set) return std::nullopt;
    std::string word = NextToken(line, " ");
    return NextToken(word, "=");
  }
}

}  // namespace

WordKind ClassifyWord(std::string_view word) {
  if (word.empty()) return WordKind::None;
  if (word.front() == ':') return WordKind::Label;
  return script::LookupCommand(word) ? WordKind::Command : WordKind::Unknown;
}

std::vector<std::string> VariableNames(const std::vector<std::string>& lines,
                                       const std::function<std::string(const std::string&)>& read) {
  std::vector<std::string> names;
  for (const std::string& line : lines) {
    // The expansion itself finds the references, with every escape and multi-byte rule of a run.
    const std::string expanded = script::ExpandVariables(line, [&](const std::string& name) {
      AddOnce(names, name);
      return read(name);
    });
    if (const std::optional<std::string> written = SetName(expanded)) AddOnce(names, *written);
  }
  return names;
}

}  // namespace tarnex::ui
