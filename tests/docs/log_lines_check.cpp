// Holds every log line that the test suite's runs recorded (app/log_line_record.h) against
// docs/log-lines.md, and lists each line the page does not describe.
//   tarnex_log_lines_check --reset RECORD_FOLDER     empties the record (before the tests)
//   tarnex_log_lines_check PAGE RECORD_FOLDER        the check (after them)
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/docs/log_line_patterns.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t kLinesShown = 300;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

int Reset(const fs::path& folder) {
  fs::remove_all(folder);
  fs::create_directories(folder);
  return 0;
}

struct Undescribed {
  size_t times = 0;
  size_t order = 0;  // first seen
};

int Check(const fs::path& page, const fs::path& folder) {
  const tarnex::docs::PagePatterns described = tarnex::docs::LinePatternsOfPage(ReadFile(page));
  if (!described.problems.empty()) {
    for (const std::string& problem : described.problems)
      std::cout << page.string() << ": " << problem << "\n";
    return 1;
  }
  if (!fs::is_directory(folder)) {
    std::cout << "no record of log lines in " << folder.string() << "\n";
    return 1;
  }
  std::map<std::string, bool> judged;  // a line met before, and whether the page describes it
  std::map<std::string, Undescribed> undescribed;
  size_t checked = 0, skipped = 0, files = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    ++files;
    std::istringstream record(ReadFile(entry.path()));
    for (std::string line; std::getline(record, line);) {
      const size_t tab = line.find('\t');
      const std::string kind = line.substr(0, tab);
      // Script lines are whatever the script says; a listing is the server's text.
      if (kind == "script" || kind == "listing") {
        ++skipped;
        continue;
      }
      const std::string logged = tab == std::string::npos ? line : line.substr(tab + 1);
      ++checked;
      auto [known, fresh] = judged.try_emplace(logged, false);
      if (fresh) known->second = tarnex::docs::Describing(described.patterns, logged) != nullptr;
      if (known->second) continue;
      Undescribed& entry_of_line = undescribed[logged];
      if (entry_of_line.times++ == 0) entry_of_line.order = undescribed.size();
    }
  }
  std::cout << checked << " log lines checked (" << judged.size() << " different) from " << files
            << " runs against " << described.patterns.size() << " lines of " << page.string()
            << "; " << skipped << " script and listing lines left out\n";
  if (undescribed.empty()) return 0;
  std::vector<std::pair<size_t, const std::string*>> in_order;
  for (const auto& [line, entry] : undescribed) in_order.emplace_back(entry.order, &line);
  std::sort(in_order.begin(), in_order.end());
  std::cout << undescribed.size() << " lines that " << page.filename().string()
            << " does not describe (add a row whose first column matches each):\n";
  for (size_t i = 0; i < in_order.size() && i < kLinesShown; ++i) {
    const std::string& line = *in_order[i].second;
    std::cout << "  " << line << "    (" << undescribed[line].times << "x)\n";
  }
  if (in_order.size() > kLinesShown)
    std::cout << "  ... and " << in_order.size() - kLinesShown << " more\n";
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--reset") return Reset(argv[2]);
  if (argc == 3) return Check(argv[1], argv[2]);
  std::cerr << "usage: tarnex_log_lines_check --reset FOLDER | PAGE FOLDER\n";
  return 2;
}
