// Script variables: named strings kept in the settings store under "\SOFTWARE\Tarnex", shared
// by every script and kept across runs.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/registry.h"

namespace tarnex::script {

inline constexpr std::string_view kVariablesKey = "\\SOFTWARE\\Tarnex";

class Variables {
 public:
  explicit Variables(std::shared_ptr<platform::RegistryStore> store);

  // The variable's value; empty when it has none or the key cannot be opened. A value that is
  // not a string raises the store's type error.
  std::string Read(const std::string& name) const;

  // `set`'s word: name, "=", value (the value may itself hold "="). An empty value deletes the
  // variable; a write the store refuses raises its error, a failing delete is silent.
  void Write(std::string word);

 private:
  std::shared_ptr<platform::RegistryStore> store_;
};

// Replaces every %name% reference of `line` by the variable's value. "\%" stands for a
// literal "%"; a reference that is never closed stays as written.
std::string ExpandVariables(std::string_view line,
                            const std::function<std::string(const std::string&)>& read);

}  // namespace tarnex::script
