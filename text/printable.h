// Text that came from a server, made safe to show. A name or reply may hold control
// characters (ESC, BEL, a carriage return), which would move a terminal's cursor, recolour
// it, ring its bell or hide what comes before them: they are shown as "\x" and two hex digits.
#pragma once

#include <string>
#include <string_view>

namespace tarnex {

// Every byte below 0x20 and 0x7F as "\x1b" (lower-case hex); in a UTF-8 run the C1 controls
// (U+0080 to U+009F, which terminals also obey) as the two bytes of their sequence, "\xc2\x9b".
// Everything else stays as it is; no such byte can be part of a CP932 double-byte character.
std::string EscapeControlCharacters(std::string_view text);

}  // namespace tarnex
