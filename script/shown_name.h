// How mget, mput and mirror show a name in their log lines.
#pragma once

#include <string>
#include <string_view>

#include "script/mirror_plan.h"
#include "text/printable.h"

namespace tarnex::script::detail {

// A name or path as a log line shows it: quoted when it holds a blank, and its control
// characters, which a hostile server may put into a name to steer a terminal, as "\x1b". What
// goes to the server and to the disk is the name as it is.
inline std::string Shown(std::string_view name) {
  return QuotedArgument(EscapeControlCharacters(name));
}

}  // namespace tarnex::script::detail
