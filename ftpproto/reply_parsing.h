// Pure functions that read FTP meaning out of reply and command lines.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ftpproto/ftp_types.h"
#include "platform/errors.h"

namespace tarnex {

// A reply goes on while its lines begin with a blank or have "-" as their fourth character.
bool IsReplyContinuation(std::string_view line);

// The code of a reply line that starts as a reply must: three digits making 100 to 599,
// followed by a blank, "-" or the line end. Nothing for anything else ("garbage", "-550 x",
// "2200 ok", "099 x"): such a line is no answer at all.
std::optional<int16_t> ValidReplyCode(std::string_view line);

// A preliminary reply (1xx): the command's final reply is still to come.
constexpr bool IsPreliminaryReply(int16_t code) { return code >= 100 && code < 200; }

// The transfer type a "TYPE ..." command sets (first word without case): tmAscii, tmImage or
// tmLocal8; EBCDIC counts as text. Nothing for any other command or an unknown type.
std::optional<int> TransferTypeOfCommand(std::string_view command);

// The local name a download without one gets: the remote name's part after its last "/" or
// "\" (a "\" inside a double-byte character does not count). Nothing when that leaves no
// name ("..", "/", "dir/"), so that a download never lands outside the local folder.
std::optional<std::string> LocalNameForDownload(std::string_view remote_name);

// The features of a FEAT reply: each line between the first and the last, trimmed, its first
// word upper-cased ("UTF8", "MLST type*;size*;", "REST STREAM").
std::vector<std::string> FeatureLines(const std::vector<std::string>& reply_lines);
// True when `features` holds `name` as a first word (any case).
bool HasFeature(const std::vector<std::string>& features, std::string_view name);

// The size a SIZE reply gives ("213 1234"); nothing for any other reply.
std::optional<int64_t> ParseSizeReply(std::string_view reply);

// A command as a trace or a message may show it: everything after PASS (any case, after any
// leading blanks or tabs, followed by a blank or a tab) becomes "****"; the rest stays as sent.
std::string CommandForTrace(std::string_view command);

// The data port of a PASV reply: the fifth comma-separated field is the high byte, the sixth
// (cut before its ")") the low byte; the address in the reply is not used. A field that is not
// a number raises the conversion error; a byte outside 0..255 raises too.
uint16_t ParsePasvPort(std::string_view reply);

// The address of a PASV reply as text ("192,168,1,5,19,137" gives "192.168.1.5"): the four
// numbers before the port's two, the first of them after the last character that is no digit.
// Nothing when they are not four numbers of 0..255. Only ever compared with the control
// connection's peer: data connections go there, whatever the reply says.
std::optional<std::string> ParsePasvAddress(std::string_view reply);

// The data port of an EPSV reply: "229 Entering Extended Passive Mode (|||6446|)" gives 6446
// (any delimiter character, the same four times). Raises the conversion error otherwise.
uint16_t ParseEpsvPort(std::string_view reply);

// The argument of EPRT for an address written as text: "|2|::1|5001|" (or "|1|...|" for an
// IPv4 address).
std::string EprtArgument(std::string_view address_text, uint16_t port);

// The size a transfer's preliminary reply announces. Only a count written as "(N bytes)" at
// the very end of the reply (any case, "byte" too; a "." and the line end may follow) is exact:
// digits anywhere else, such as in the file's own name ("dump-99999bytes.txt"), never count.
// A figure such as "5859.4 kbytes to download" is an estimate, good for a progress display and
// never for judging whether a file came whole.
struct AnnouncedSize {
  std::optional<int64_t> exact;
  std::optional<int64_t> estimate;  // the exact count, when there is one
};
AnnouncedSize ParseAnnouncedSize(std::string_view reply);

// The server system named by a SYST reply; kVendorOther when it names none we know.
int VendorFromSystReply(std::string_view reply);

// The operation a raw command belongs to, from its first word, compared with case.
TCmdType ClassifyCommand(std::string_view command);

// What the facade returns for a refusal whose text is `refusal` (blanks and line ends around it
// do not count): the number its first three characters make when the fourth is a blank, else
// 999. So "550 No such file" gives 550; "550-Access denied", the first line of a reply of
// several, and "TLS refused by the server: 534 x" give 999.
int32_t RefusalResult(std::string_view refusal);

// The failure a refusal raises: an FTPException with `refusal` as its message and its
// RefusalResult.
FTPException Refusal(std::string refusal);

}  // namespace tarnex
