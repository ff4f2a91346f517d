#include "app/run_variables.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "app/translation.h"
#include "platform/scope_guard.h"

namespace tarnex::app {

FirstLine ReadFirstLine(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0)
    return {{}, Format(Tr("cannot read %s: %s"), path.c_str(), SystemErrorText(errno).c_str())};
  ScopeExit close_file([fd] { ::close(fd); });
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      return {{}, Format(Tr("cannot read %s: %s"), path.c_str(), SystemErrorText(errno).c_str())};
    }
    text.append(buffer, static_cast<size_t>(n));
    const size_t end = text.find('\n');
    if (end != std::string::npos) text.resize(end);
    if (text.size() > kMaxFirstLineBytes) {
      return {{},
              Format(Tr("the first line of %s is longer than %zu bytes"), path.c_str(),
                     kMaxFirstLineBytes)};
    }
    if (n == 0 || end != std::string::npos) break;
  }
  if (!text.empty() && text.back() == '\r') text.pop_back();
  // A NUL cannot be sent in a command; cut there, the value would be another one.
  if (text.find('\0') != std::string::npos) {
    return {{}, Format(Tr("the first line of %s holds a NUL byte"), path.c_str())};
  }
  return {std::move(text), {}};
}

ResolvedVariables ResolveRunVariables(const std::vector<RunVariable>& variables) {
  ResolvedVariables resolved;
  for (const RunVariable& variable : variables) {
    switch (variable.source) {
      case VariableSource::Value:
        resolved.values.push_back({variable.name, variable.value});
        break;
      case VariableSource::File: {
        FirstLine line = ReadFirstLine(variable.value);
        if (!line.error.empty()) {
          resolved.error = "--set-from-file " + variable.name + ": " + line.error;
          return resolved;
        }
        resolved.values.push_back({variable.name, std::move(line.text)});
        break;
      }
      case VariableSource::Environment: {
        const char* value = std::getenv(variable.value.c_str());
        if (value == nullptr) {
          resolved.error = "--set-from-env " + variable.name + ": " +
                           Format(Tr("the environment has no variable %s"), variable.value.c_str());
          return resolved;
        }
        resolved.values.push_back({variable.name, value});
        break;
      }
    }
  }
  return resolved;
}

}  // namespace tarnex::app
