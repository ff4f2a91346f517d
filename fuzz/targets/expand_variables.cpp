// Variable references in a script line. Values come from a reader that names what it was
// asked for, so that every reference shows in the result.
#include <string>

#include "fuzz/fuzz_target.h"
#include "script/variables.h"

TARNEX_FUZZ_TARGET(expand_variables) {
  const std::string_view line = tarnex::fuzz::AsText(data, size);
  size_t reads = 0;
  size_t value_bytes = 0;
  const std::string expanded =
      tarnex::script::ExpandVariables(line, [&](const std::string& name) {
        ++reads;
        // A value may hold "%" itself; it is not expanded again.
        std::string value = "<%" + name + "%>";
        value_bytes += value.size();
        return value;
      });
  // Each reference is read once and costs its name, two percent signs and the value.
  FUZZ_CHECK(reads <= line.size() / 2);
  FUZZ_CHECK(expanded.size() <= line.size() + value_bytes);

  // A line without "%" stays as it is.
  if (line.find('%') == std::string_view::npos) FUZZ_CHECK(expanded == line);

  // Values that are empty only remove the references; nothing else grows.
  const std::string removed =
      tarnex::script::ExpandVariables(line, [](const std::string&) { return std::string(); });
  FUZZ_CHECK(removed.size() <= line.size());
}
