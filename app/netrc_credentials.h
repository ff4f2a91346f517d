// The runner's credentials lookup for Login: the entry of the user's netrc file for the host
// of Open. The file is read at the first Login that asks, once.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "script/login_credentials.h"
#include "settings/netrc_file.h"

namespace tarnex::app {

// Why a netrc file is not used: `for_log` in English for the execution log (whose lines are
// the system's own), `shown` in the user's language for standard error.
struct NetrcProblem {
  std::string for_log;
  std::string shown;
};
// Nothing for a loaded file and for a missing one.
std::optional<NetrcProblem> ProblemOf(const settings::NetrcFile& file, const std::string& path);

class NetrcCredentials {
 public:
  // `warn` is told once why the file is not used.
  NetrcCredentials(std::string path, std::function<void(const std::string&)> warn)
      : path_(std::move(path)), warn_(std::move(warn)) {}

  // Host and user in the run's encoding, and the answer in it.
  script::CredentialsAnswer Lookup(const std::string& host, const std::string& user);

 private:
  std::string path_;  // UTF-8
  std::function<void(const std::string&)> warn_;
  std::optional<settings::NetrcFile> file_;
};

}  // namespace tarnex::app
