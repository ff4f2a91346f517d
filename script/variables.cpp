#include "script/variables.h"

#include "text/sjis.h"
#include "text/string_helpers.h"

namespace tarnex::script {

Variables::Variables(std::shared_ptr<platform::RegistryStore> store) : store_(std::move(store)) {}

std::string Variables::Read(const std::string& name) const {
  platform::Registry registry(store_);
  if (!registry.OpenKey(kVariablesKey, true)) return {};
  return registry.ReadString(name);
}

void Variables::Write(std::string word) {
  std::string name = NextToken(word, "=");
  const std::string& value = word;  // what follows the first "=" after the name
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
        name = "%";
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
