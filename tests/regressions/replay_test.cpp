// Every input kept for a fuzz target (its seeds and the inputs that once broke it) replayed
// through the target itself: none may crash, leave an error uncaught or break a check.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "fuzz/fuzz_target.h"

namespace tarnex::fuzz {

std::vector<std::pair<std::string, Entry>>& Targets() {
  static std::vector<std::pair<std::string, Entry>> targets;
  return targets;
}

struct CheckFailure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

void CheckFailed(const char* condition, const char* file, int line) {
  throw CheckFailure(std::string(file) + ":" + std::to_string(line) + ": " + condition);
}

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> KeptInputs(const std::string& target) {
  std::vector<fs::path> files;
  for (const char* folder : {"corpus", "regressions"}) {
    const fs::path dir = fs::path(TARNEX_FUZZ_DIR) / folder / target;
    if (!fs::is_directory(dir)) continue;
    for (const auto& entry : fs::directory_iterator(dir)) {
      if (entry.is_regular_file()) files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

Entry EntryOf(const std::string& name) {
  for (const auto& [target, entry] : Targets()) {
    if (target == name) return entry;
  }
  return nullptr;
}

std::vector<std::string> TargetNames() {
  std::vector<std::string> names;
  for (const auto& [name, entry] : Targets()) names.push_back(name);
  std::sort(names.begin(), names.end());
  return names;
}

class Replay : public ::testing::TestWithParam<std::string> {};

TEST_P(Replay, KeptInputsPass) {
  const std::string& name = GetParam();
  const Entry entry = EntryOf(name);
  ASSERT_NE(entry, nullptr);
  const auto files = KeptInputs(name);
  EXPECT_FALSE(files.empty()) << "no seed corpus in fuzz/corpus/" << name;
  for (const auto& file : files) {
    const std::string bytes = ReadFile(file);
    try {
      entry(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    } catch (const CheckFailure& failure) {
      ADD_FAILURE() << file << ": " << failure.what();
    } catch (const std::exception& error) {
      ADD_FAILURE() << file << ": uncaught " << error.what();
    } catch (...) {
      ADD_FAILURE() << file << ": uncaught non-standard exception";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Fuzz, Replay, ::testing::ValuesIn(TargetNames()),
                         [](const auto& info) { return info.param; });

TEST(Replay, EveryTargetIsReplayed) {
  EXPECT_EQ(TargetNames(), (std::vector<std::string>{"datetime", "decipher", "expand_variables",
                                             "netrc", "pasv_bytecount", "readln", "reply_code",
                                             "reply_stream", "sftp_packets", "tokenizer",
                                             "unix_list"}));
}

}  // namespace
}  // namespace tarnex::fuzz
