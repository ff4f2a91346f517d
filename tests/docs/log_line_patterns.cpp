#include "tests/docs/log_line_patterns.h"

#include <cctype>
#include <map>
#include <set>

namespace tarnex::docs {
namespace {

// What each placeholder the legend may list matches. The legend says the same in words; a
// placeholder it lists that is missing here is reported, never taken literally.
const std::map<std::string, std::string, std::less<>>& KnownPlaceholders() {
  static const std::map<std::string, std::string, std::less<>> known = {
      {"NNN", "[0-9]{3}"},
      {"NNNNN", "[0-9]{5}"},
      {"N", "[0-9]+"},
      {"M", "[0-9]+"},
      {"R", "[0-9]+\\.[0-9]{2}"},
      {"S", "[0-9]+\\.[0-9]{2}"},
      {"TICK", "[0-9]{5,}"},
      {"YYYY", "[0-9]{4}"},
      {"MM", "[0-9]{2}"},
      {"DD", "[0-9]{2}"},
      {"HH", "[0-9]{2}"},
      {"NN", "[0-9]{2}"},
      {"SS", "[0-9]{2}"},
      {"A", ".+"},
      {"B", ".+"},
      {"NAME", ".*"},
      {"PATH", ".*"},
      {"FILE", ".*"},
      {"USER", ".*"},
      {"PATTERN", ".*"},
      {"WORD", ".*"},
      {"TEXT", ".*"},
      {"MESSAGE", ".*"},
      {"REASON", ".*"},
      {"LINE", ".*"},
      {"COMMAND", ".*"},
  };
  return known;
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
    text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  return text;
}

// The cells of a table row, split at the bars outside code spans.
std::vector<std::string_view> Cells(std::string_view row) {
  std::vector<std::string_view> cells;
  bool in_code = false;
  size_t start = 1;  // after the leading bar
  for (size_t i = 1; i < row.size(); ++i) {
    if (row[i] == '`') in_code = !in_code;
    if (row[i] == '|' && !in_code && row[i - 1] != '\\') {
      cells.push_back(row.substr(start, i - start));
      start = i + 1;
    }
  }
  return cells;
}

std::vector<std::string> CodeSpans(std::string_view cell) {
  std::vector<std::string> spans;
  for (size_t open = cell.find('`'); open != std::string_view::npos;) {
    const size_t close = cell.find('`', open + 1);
    if (close == std::string_view::npos) break;
    spans.emplace_back(cell.substr(open + 1, close - open - 1));
    open = cell.find('`', close + 1);
  }
  return spans;
}

bool IsUpper(char c) {
  return c >= 'A' && c <= 'Z';
}
bool IsLower(char c) {
  return c >= 'a' && c <= 'z';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsWordCharacter(char c) {
  return IsUpper(c) || IsLower(c) || IsDigit(c);
}

std::string Escaped(char c) {
  static const std::string_view kSpecial = "\\^$.|?*+()[]{}/";
  return kSpecial.find(c) != std::string_view::npos ? std::string{'\\', c} : std::string{c};
}

// The run of capitals that starts at `at` as a placeholder: a word of its own, or the capitals
// before a capitalised word ("R" of "RByte"). Empty when it is none.
std::string_view PlaceholderAt(std::string_view text, size_t at,
                               const std::set<std::string, std::less<>>& placeholders) {
  if (at > 0 && IsWordCharacter(text[at - 1])) return {};
  size_t end = at;
  while (end < text.size() && IsUpper(text[end])) ++end;
  if (end < text.size() && IsDigit(text[end])) return {};
  if (end < text.size() && IsLower(text[end])) --end;  // that capital begins a word
  const std::string_view run = text.substr(at, end - at);
  return placeholders.count(run) != 0 ? run : std::string_view();
}

std::string RegexOf(std::string_view pattern,
                    const std::set<std::string, std::less<>>& placeholders) {
  std::string regex;
  for (size_t i = 0; i < pattern.size();) {
    const std::string_view placeholder = PlaceholderAt(pattern, i, placeholders);
    if (!placeholder.empty()) {
      regex += "(" + KnownPlaceholders().find(placeholder)->second + ")";
      i += placeholder.size();
    } else {
      regex += Escaped(pattern[i++]);
    }
  }
  return regex;
}

struct Table {
  std::string heading;  // of the first column, lower case
  std::vector<std::string_view> first_cells;
};

std::vector<Table> TablesOf(std::string_view page) {
  std::vector<Table> tables;
  bool in_table = false;
  size_t row = 0;
  while (!page.empty()) {
    const size_t end = page.find('\n');
    const std::string_view line = Trimmed(page.substr(0, end));
    page = end == std::string_view::npos ? std::string_view() : page.substr(end + 1);
    if (line.empty() || line.front() != '|') {
      in_table = false;
      continue;
    }
    const std::vector<std::string_view> cells = Cells(line);
    if (cells.empty()) continue;
    if (!in_table) {
      in_table = true;
      row = 0;
      std::string heading(Trimmed(cells.front()));
      for (char& c : heading) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      tables.push_back({heading, {}});
    } else if (++row > 1) {  // the second row is the separator
      tables.back().first_cells.push_back(cells.front());
    }
  }
  return tables;
}

}  // namespace

PagePatterns LinePatternsOfPage(std::string_view page) {
  PagePatterns result;
  const std::vector<Table> tables = TablesOf(page);
  std::set<std::string, std::less<>> placeholders;
  bool legend_found = false;
  for (const Table& table : tables) {
    if (table.heading != "placeholder") continue;
    legend_found = true;
    for (std::string_view cell : table.first_cells) {
      for (const std::string& name : CodeSpans(cell)) {
        if (KnownPlaceholders().count(name) == 0) {
          result.problems.push_back("the legend lists the placeholder " + name +
                                    ", which tests/docs/log_line_patterns.cpp does not know");
        } else {
          placeholders.insert(name);
        }
      }
    }
  }
  if (!legend_found) result.problems.emplace_back("no legend: no table headed \"placeholder\"");
  for (const Table& table : tables) {
    if (table.heading != "line") continue;
    for (std::string_view cell : table.first_cells) {
      for (std::string& text : CodeSpans(cell)) {
        std::regex regex(RegexOf(text, placeholders));
        result.patterns.push_back({std::move(text), std::move(regex)});
      }
    }
  }
  if (result.patterns.empty())
    result.problems.emplace_back("no table headed \"line\" lists a line");
  return result;
}

const LinePattern* Describing(const std::vector<LinePattern>& patterns, const std::string& line) {
  for (const LinePattern& pattern : patterns) {
    if (std::regex_match(line, pattern.regex)) return &pattern;
  }
  return nullptr;
}

}  // namespace tarnex::docs
