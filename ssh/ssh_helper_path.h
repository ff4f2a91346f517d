// Where tarnex-ssh-helper is. In this order: the path in $TARNEX_SSH_HELPER; the build tree's
// helper when the running program lives in the build tree (tests, a developer's build); the
// installed one, ${libexecdir}/tarnex/tarnex-ssh-helper.
#pragma once

#include <string>
#include <string_view>

namespace tarnex::ssh {

inline constexpr char kHelperVariable[] = "TARNEX_SSH_HELPER";

struct HelperPlaces {
  std::string_view from_environment;  // $TARNEX_SSH_HELPER, empty when unset
  std::string_view program_folder;    // the folder of the running program
  std::string_view build_tree;        // the build folder this program was built in
  std::string_view in_build_tree;     // the helper there
  std::string_view installed;         // the helper in its installed place
};

std::string ChooseSshHelper(const HelperPlaces& places);

// ChooseSshHelper for this program and this build; empty when that is no program to run.
std::string FindSshHelper();

}  // namespace tarnex::ssh
