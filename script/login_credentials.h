// Where Login finds the user and password a script leaves out: a host installs a lookup (the
// headless runner reads the user's netrc file); without one, Login takes what its line gives.
#pragma once

#include <functional>
#include <string>

namespace tarnex::script {

struct CredentialsAnswer {
  enum class Outcome {
    None,     // nothing for this host and user: Login goes on with what its line gives
    Found,    // user and password
    Refused,  // the place they are kept cannot be trusted or read: Login fails with `problem`
  };
  Outcome outcome = Outcome::None;
  std::string user;      // in the run's encoding
  std::string password;  // in the run's encoding
  std::string source;    // where they came from, for the log ("/home/joe/.netrc")
  std::string problem;   // why Refused, for the log
};

// Asked with the host of Open and the user of Login (empty when the line gives none), both in
// the run's encoding.
using CredentialsLookup =
    std::function<CredentialsAnswer(const std::string& host, const std::string& user)>;

}  // namespace tarnex::script
