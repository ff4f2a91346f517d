// The breakpoints of each script file, kept in the settings store so that they come back when
// the file is opened again: one string value per script path under their own key (never under
// "\SOFTWARE\Tarnex" itself, whose plain values are the script variables), holding the line
// numbers from 1 as the gutter shows them: "3,17,42".
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace tarnex::ui {

inline constexpr std::string_view kBreakpointsKey = "\\SOFTWARE\\Tarnex\\Breakpoints";

// 0-based lines as the stored text: 1-based, ascending, each once, comma-separated.
std::string FormatBreakpointLines(std::vector<int> lines);
// The stored text as 0-based lines, ascending, each once; anything that is not a line number
// from 1 to kMaxLine is left out, so a value edited by hand can never fail an open.
std::vector<int> ParseBreakpointLines(std::string_view text);

class BreakpointStore {
 public:
  static constexpr int kMaxLine = 1'000'000;

  explicit BreakpointStore(std::shared_ptr<platform::RegistryStore> store);

  // The lines stored for `script` (a path, CP932); none when nothing is stored. Raises the
  // store's type error when the value is not a string.
  std::vector<int> Load(const std::string& script) const;
  // Stores `lines` for `script`; no lines removes the value. Raises the store's write error.
  void Save(const std::string& script, const std::vector<int>& lines);

 private:
  std::shared_ptr<platform::RegistryStore> store_;
};

}  // namespace tarnex::ui
