#include "script/variables.h"

#include "text/sjis.h"
#include "text/string_helpers.h"

namespace tarnex::script {

Variables::Variables(std::shared_ptr<platform::RegistryStore> store) : store_(std::move(store)) {}

std::vector<std::pair<std::string, std::string>>::iterator Variables::FindRunValue(
    const std::string& name) {
  for (auto it = run_values_.begin(); it != run_values_.end(); ++it) {
    if (SameText(it->first, name)) return it;
  }
  return run_values_.end();
}

void Variables::SetRunValue(const std::string& name, std::string value) {
  auto it = FindRunValue(name);
  if (it != run_values_.end()) {
    it->second = std::move(value);
  } else {
    run_values_.emplace_back(name, std::move(value));
  }
}

std::string Variables::Read(const std::string& name) const {
  for (const auto& [run_name, value] : run_values_) {
    if (SameText(run_name, name)) return value;
  }
  platform::Registry registry(store_);
  if (!registry.OpenKey(kVariablesKey, true)) return {};
  return registry.ReadString(name);
}

void Variables::Write(std::string word) {
  std::string name = NextToken(word, "=");
  const std::string& value = word;  // what follows the first "=" after the name
  if (auto it = FindRunValue(name); it != run_values_.end()) run_values_.erase(it);
  platform::Registry registry(store_);
  bool opened = registry.OpenKey(kVariablesKey, true);
  if (value.empty()) {
    if (opened) registry.DeleteValue(name);
    return;
  }
  registry.WriteString(name, value);  // raises the store's error when the key is not open
}

std::string ExpandVariables(std::string_view line,
                            const std::function<std::string(const std::string&)>& read) {
  std::string out;
  std::string name;  // the open reference with its leading "%", empty when none is open
  size_t i = 0;
  while (i < line.size()) {
    size_t length = CharLengthAt(line, i);
    std::string_view ch = line.substr(i, length);
    i += length;
    std::string& target = name.empty() ? out : name;
    if (ch == "\\" && i < line.size() && line[i] == '%') {
      ++i;
      target += '%';
    } else if (ch == "%") {
      if (name.empty()) {
        name.assign(1, '%');  // not = "%": GCC 12 warns a false -Wrestrict on that
      } else {
        out += read(name.substr(1));
        name.clear();
      }
    } else {
      target += ch;
    }
  }
  return out + name;
}

}  // namespace tarnex::script
