#include "app/netrc_credentials.h"

#include "app/translation.h"
#include "platform/codepage.h"
#include "platform/text_encoding.h"

namespace tarnex::app {
namespace {

using Status = settings::NetrcFile::Status;
using Outcome = script::CredentialsAnswer::Outcome;

// UTF-8 text in the run's encoding, for the log; a character CP932 lacks shows as "?".
std::string ForLog(const std::string& utf8) {
  if (platform::CurrentTextEncoding() == platform::TextEncoding::Utf8) return utf8;
  return platform::Utf8ToCp932(utf8);
}

// A pattern with one "%s" for the path, in English and translated.
NetrcProblem About(const char* pattern, const std::string& path) {
  return {Format(pattern, path.c_str()), Format(Tr(pattern), path.c_str())};
}

std::optional<std::string> InRunEncoding(const std::string& utf8) {
  if (platform::CurrentTextEncoding() == platform::TextEncoding::Utf8) return utf8;
  return platform::TryUtf8ToCp932(utf8);
}

}  // namespace

std::optional<NetrcProblem> ProblemOf(const settings::NetrcFile& file, const std::string& path) {
  switch (file.status) {
    case Status::Loaded:
    case Status::Missing:
      return std::nullopt;
    case Status::Unreadable: {
      const char* pattern = N_("cannot read %s: %s");
      return NetrcProblem{
          Format(pattern, path.c_str(), SystemErrorTextInEnglish(file.error_number).c_str()),
          Format(Tr(pattern), path.c_str(), SystemErrorText(file.error_number).c_str())};
    }
    case Status::TooOpen: {
      const char* pattern =
          N_("%s is not used: other users may read or change it (mode %04o; chmod 600 %s makes "
             "it private)");
      return NetrcProblem{Format(pattern, path.c_str(), file.mode, path.c_str()),
                          Format(Tr(pattern), path.c_str(), file.mode, path.c_str())};
    }
    case Status::NotOwned:
      return About(N_("%s is not used: it belongs to another user"), path);
    case Status::TooLarge:
      return About(N_("%s is not used: it is larger than 1 MiB"), path);
    case Status::Malformed: {
      const char* pattern = N_("%s is not used: it is no netrc file (%s)");
      return NetrcProblem{Format(pattern, path.c_str(), file.parse_error.c_str()),
                          Format(Tr(pattern), path.c_str(), file.parse_error.c_str())};
    }
  }
  return std::nullopt;
}

script::CredentialsAnswer NetrcCredentials::Lookup(const std::string& host,
                                                   const std::string& user) {
  if (!file_) {
    file_ = settings::LoadNetrcFile(path_);
    if (auto problem = ProblemOf(*file_, path_)) warn_(problem->shown);
  }
  script::CredentialsAnswer answer;
  if (auto problem = ProblemOf(*file_, path_)) {
    answer.outcome = Outcome::Refused;
    answer.problem = ForLog(problem->for_log);
    return answer;
  }
  const auto login = settings::FindNetrcLogin(file_->entries, platform::CurrentTextToUtf8(host),
                                              platform::CurrentTextToUtf8(user));
  if (!login) return answer;
  std::optional<std::string> found_user = InRunEncoding(login->user);
  std::optional<std::string> found_password = InRunEncoding(login->password);
  answer.source = ForLog(path_);
  if (!found_user || !found_password) {
    answer.outcome = Outcome::Refused;
    answer.problem = "the entry of " + answer.source + " has a character CP932 cannot hold";
    return answer;
  }
  answer.outcome = Outcome::Found;
  answer.user = std::move(*found_user);
  answer.password = std::move(*found_password);
  return answer;
}

}  // namespace tarnex::app
