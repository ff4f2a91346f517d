#include "script/variables.h"

#include <optional>

#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/text_encoding.h"
#include "text/sjis.h"
#include "text/string_helpers.h"

namespace tarnex::script {
namespace {

// The store keeps CP932, as the desktop program shares it; a UTF-8 run converts at this
// boundary, and only there.
bool RunIsUtf8() {
  return platform::CurrentTextEncoding() == platform::TextEncoding::Utf8;
}

// `utf8` in CP932, when CP932 holds every character of it exactly (the converter drops some
// characters silently, hence the way back).
std::optional<std::string> ToStore(const std::string& utf8) {
  std::optional<std::string> cp932 = platform::TryUtf8ToCp932(utf8);
  if (!cp932 || platform::TryCp932ToUtf8(*cp932) != utf8) return std::nullopt;
  return cp932;
}

[[noreturn]] void ThrowUnconvertible(const std::string& name, const char* problem) {
  throw ERegistryException("variable '" + name + "': " + problem);
}

// Runs a store call of a UTF-8 run: the store's own errors are CP932 text, and come out as
// UTF-8 like every other line of the run.
template <typename Call>
auto InRunEncoding(Call call) {
  try {
    return call();
  } catch (const ERegistryException& error) {
    throw ERegistryException(platform::Cp932ToUtf8(error.Message()));
  }
}

}  // namespace

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
  if (!RunIsUtf8()) return registry.ReadString(name);
  // A name CP932 cannot hold was never stored.
  const std::optional<std::string> stored_name = ToStore(name);
  if (!stored_name) return {};
  const std::string value = InRunEncoding([&] { return registry.ReadString(*stored_name); });
  std::optional<std::string> utf8 = platform::TryCp932ToUtf8(value);
  if (!utf8) ThrowUnconvertible(name, "its stored value is not valid CP932");
  return std::move(*utf8);
}

void Variables::Write(std::string word) {
  std::string name = NextToken(word, "=");
  const std::string& value = word;  // what follows the first "=" after the name
  if (auto it = FindRunValue(name); it != run_values_.end()) run_values_.erase(it);
  platform::Registry registry(store_);
  bool opened = registry.OpenKey(kVariablesKey, true);
  if (!RunIsUtf8()) {
    if (value.empty()) {
      if (opened) registry.DeleteValue(name);
      return;
    }
    registry.WriteString(name, value);  // raises the store's error when the key is not open
    return;
  }
  const std::optional<std::string> stored_name = ToStore(name);
  if (value.empty()) {
    if (opened && stored_name) registry.DeleteValue(*stored_name);
    return;
  }
  // Never a mangled name or value in the store: one CP932 cannot hold is refused.
  if (!stored_name) ThrowUnconvertible(name, "its name has a character CP932 cannot hold");
  const std::optional<std::string> stored_value = ToStore(value);
  if (!stored_value) ThrowUnconvertible(name, "its value has a character CP932 cannot hold");
  InRunEncoding([&] { registry.WriteString(*stored_name, *stored_value); });
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
