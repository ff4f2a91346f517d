#include "ui/breakpoint_store.h"

#include <algorithm>

namespace tarnex::ui {

std::string FormatBreakpointLines(std::vector<int> lines) {
  std::sort(lines.begin(), lines.end());
  lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
  std::string text;
  for (const int line : lines) {
    if (line < 0 || line >= BreakpointStore::kMaxLine) continue;
    if (!text.empty()) text += ',';
    text += std::to_string(line + 1);
  }
  return text;
}

std::vector<int> ParseBreakpointLines(std::string_view text) {
  std::vector<int> lines;
  while (!text.empty()) {
    const size_t comma = text.find(',');
    std::string_view item = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
    while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
    // Digits only, and few enough of them to stay far from overflow.
    if (item.empty() || item.size() > 7 ||
        !std::all_of(item.begin(), item.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      continue;
    }
    const int number = std::stoi(std::string(item));
    if (number >= 1 && number <= BreakpointStore::kMaxLine) lines.push_back(number - 1);
  }
  std::sort(lines.begin(), lines.end());
  lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
  return lines;
}

BreakpointStore::BreakpointStore(std::shared_ptr<platform::RegistryStore> store)
    : store_(std::move(store)) {}

std::vector<int> BreakpointStore::Load(const std::string& script) const {
  platform::Registry registry(store_);
  if (!registry.OpenKey(kBreakpointsKey, false) || !registry.ValueExists(script)) return {};
  return ParseBreakpointLines(registry.ReadString(script));
}

void BreakpointStore::Save(const std::string& script, const std::vector<int>& lines) {
  platform::Registry registry(store_);
  const std::string text = FormatBreakpointLines(lines);
  if (text.empty()) {
    // Nothing to forget when the key was never made.
    if (registry.OpenKey(kBreakpointsKey, false)) registry.DeleteValue(script);
    return;
  }
  registry.OpenKey(kBreakpointsKey, true);
  registry.WriteString(script, text);  // raises when the key could not be opened
}

}  // namespace tarnex::ui
