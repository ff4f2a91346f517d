// The libFuzzer side of the fuzz targets: a broken property aborts, so that the fuzzer keeps
// the input as a crash.
#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_target.h"

namespace tarnex::fuzz {

std::vector<std::pair<std::string, Entry>>& Targets() {
  static std::vector<std::pair<std::string, Entry>> targets;
  return targets;
}

void CheckFailed(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, condition);
  std::abort();
}

}  // namespace tarnex::fuzz
