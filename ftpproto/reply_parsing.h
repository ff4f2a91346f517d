// Pure functions that read FTP meaning out of reply and command lines.
#pragma once

#include <cstdint>
#include <string_view>

#include "ftpproto/ftp_types.h"

namespace tarnex {

// A reply goes on while its lines begin with a blank or have "-" as their fourth character.
bool IsReplyContinuation(std::string_view line);

// The data port of a PASV reply: the fifth comma-separated field is the high byte, the sixth
// (cut before its ")") the low byte; the address in the reply is not used. A field that is not
// a number raises the conversion error; a byte outside 0..255 raises too.
uint16_t ParsePasvPort(std::string_view reply);

// The number just before the first "BYTE" (any case) of a reply, as in
// "150 Opening data connection for a.zip (12345 bytes)."; 0 when there is none or it does not
// fit 32 bits.
int32_t ParseByteCount(std::string_view reply);

// The server system named by a SYST reply; kVendorOther when it names none we know.
int VendorFromSystReply(std::string_view reply);

// The operation a raw command belongs to, from its first word, compared with case.
TCmdType ClassifyCommand(std::string_view command);

}  // namespace tarnex
