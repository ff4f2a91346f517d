#include "ssh/ssh_helper_path.h"

#include <unistd.h>

#include <cstdlib>

#include "platform/files.h"

namespace tarnex::ssh {
namespace {

bool IsInside(std::string_view folder, std::string_view tree) {
  if (tree.empty() || !folder.starts_with(tree)) return false;
  return folder.size() == tree.size() || folder[tree.size()] == '/';
}

}  // namespace

std::string ChooseSshHelper(const HelperPlaces& places) {
  if (!places.from_environment.empty()) return std::string(places.from_environment);
  if (IsInside(places.program_folder, places.build_tree)) return std::string(places.in_build_tree);
  return std::string(places.installed);
}

std::string FindSshHelper() {
  const char* variable = std::getenv(kHelperVariable);
  const std::string folder = platform::RunningProgramFolder();
  std::string helper = ChooseSshHelper({.from_environment = variable != nullptr ? variable : "",
                          .program_folder = folder,
                          .build_tree = TARNEX_BUILD_TREE,
                          .in_build_tree = TARNEX_SSH_HELPER_IN_BUILD_TREE,
                          .installed = TARNEX_SSH_HELPER_INSTALLED});
  // ssh would fail every login on a helper it cannot run, with a message about the helper.
  if (::access(helper.c_str(), X_OK) != 0) return {};
  return helper;
}

}  // namespace tarnex::ssh
