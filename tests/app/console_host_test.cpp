// The console's log: lines logged one by one and lines logged in one go come out the same,
// as UTF-8, on standard output and on the copy.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/console_host.h"

namespace tarnex::app {
namespace {

struct FileClose {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using TempFile = std::unique_ptr<std::FILE, FileClose>;

std::string Contents(std::FILE* file) {
  std::fflush(file);
  std::rewind(file);
  std::string text;
  char buffer[4096];
  while (size_t n = std::fread(buffer, 1, sizeof buffer, file)) text.append(buffer, n);
  return text;
}

TEST(ConsoleHost, LinesLoggedInOneGoComeOutAsLinesLoggedOneByOne) {
  const std::vector<std::string> lines = {"drwxr-xr-x 2 ftp ftp 4096 a", "", "\x82\xA0\x82\xA2.txt",
                                          std::string(300000, 'x'), "last"};
  std::string expected;
  for (const auto& line : lines)
    expected += line == lines[2] ? "\xE3\x81\x82\xE3\x81\x84.txt\n" : line + "\n";
  for (bool batch : {false, true}) {
    TempFile out(std::tmpfile()), messages(std::tmpfile()), copy(std::tmpfile());
    ConsoleHost host(out.get(), messages.get(), false);
    host.CopyLogTo(copy.get());
    host.KeepLines();
    if (batch) {
      host.AppendLogLines(lines);
    } else {
      for (const auto& line : lines) host.AppendLog(line);
    }
    const char* how = batch ? "in one go" : "one by one";
    EXPECT_EQ(Contents(out.get()), expected) << how;
    EXPECT_EQ(Contents(copy.get()), expected) << how;
    EXPECT_EQ(host.Lines(), lines) << how;  // kept as logged, in the run's encoding
    EXPECT_EQ(Contents(messages.get()), "") << how;
  }
}

}  // namespace
}  // namespace tarnex::app
