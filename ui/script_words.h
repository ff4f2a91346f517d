// The words of script lines as the engine takes them apart: which first words are commands,
// labels or slips of the pen, and which variables a script names. No Qt here: the editor's
// colouring and the variables panel share it. Lines are bytes in the thread's text encoding.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnex::ui {

enum class WordKind {
  None,     // a blank line: nothing to run
  Label,    // ":name", a jump target
  Command,  // a command word of the language
  Unknown,  // any other word: the line does nothing, and the runner warns of it
};

// The kind of a line's first word, taken as the engine takes it (the first token at " ",
// without blanks).
WordKind ClassifyWord(std::string_view word);

// The variables the lines name: every %name% reference and every name a `set` writes (behind
// `if` too), each once (names compare without case), in the order they first appear. `read`
// gives a variable's value now, so a name built from another (`set %which%=1`) is found as a
// run would find it at this moment.
std::vector<std::string> VariableNames(const std::vector<std::string>& lines,
                                       const std::function<std::string(const std::string&)>& read);

}  // namespace tarnex::ui
