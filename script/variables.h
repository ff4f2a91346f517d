// Script variables: named strings kept in the settings store under "\SOFTWARE\Tarnex", shared
// by every script and kept across runs. The store holds CP932, which the desktop program
// shares; while a UTF-8 script runs, names and values are converted on their way in and out.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/registry.h"

namespace tarnex::script {

inline constexpr std::string_view kVariablesKey = "\\SOFTWARE\\Tarnex";

class Variables {
 public:
  explicit Variables(std::shared_ptr<platform::RegistryStore> store);

  // The variable's value: the run's own value when it has one (see SetRunValue), else the
  // stored one; empty when it has none or the key cannot be opened. A stored value that is
  // not a string raises the store's type error; in a UTF-8 run, so does a stored value that is
  // not valid CP932 (naming the variable).
  std::string Read(const std::string& name) const;

  // `set`'s word: name, "=", value (the value may itself hold "="). An empty value deletes the
  // variable; a write the store refuses raises its error, a failing delete is silent. In a
  // UTF-8 run a name or value with a character CP932 cannot hold raises an error naming the
  // variable, and nothing is stored. The run's own value of that name, if any, gives way to
  // what the script set.
  void Write(std::string word);

  // A value for this run only (the headless runner's --set): kept in memory, never stored,
  // read before a stored variable of the same name (names compare without case, as stored
  // names do). An empty value reads as empty.
  void SetRunValue(const std::string& name, std::string value);

 private:
  std::vector<std::pair<std::string, std::string>>::iterator FindRunValue(const std::string& name);

  std::shared_ptr<platform::RegistryStore> store_;
  std::vector<std::pair<std::string, std::string>> run_values_;
};

// Replaces every %name% reference of `line` by the variable's value. "\%" stands for a
// literal "%"; a reference that is never closed stays as written.
std::string ExpandVariables(std::string_view line,
                            const std::function<std::string(const std::string&)>& read);

}  // namespace tarnex::script
