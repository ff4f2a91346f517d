#include "ftpproto/reply_parsing.h"

#include <array>
#include <charconv>
#include <string>
#include <utility>

#include "platform/errors.h"
#include "text/string_helpers.h"
#include "text/texts.h"

namespace tarnex {
namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool IsBlankOrLineEnd(char c) { return c == ' ' || c == '\r' || c == '\n'; }

// The integer conversion of a PASV field: a signed decimal number, blanks around it allowed
// (and the line end, for a reply that gives the numbers without parentheses).
int FieldValue(std::string_view field) {
  std::string_view digits = field;
  while (!digits.empty() && IsBlankOrLineEnd(digits.front())) digits.remove_prefix(1);
  while (!digits.empty() && IsBlankOrLineEnd(digits.back())) digits.remove_suffix(1);
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  int value = 0;
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) {
    throw EConvertError(texts::NotAnInteger(field));
  }
  return value;
}

std::string_view Field(std::string_view reply, int wanted) {
  for (int index = 1; index < wanted; ++index) {
    size_t comma = reply.find(',');
    if (comma == std::string_view::npos) return {};
    reply.remove_prefix(comma + 1);
  }
  return reply.substr(0, reply.find(','));
}

}  // namespace

std::optional<int16_t> ValidReplyCode(std::string_view line) {
  if (line.size() < 3) return std::nullopt;
  int value = 0;
  for (size_t i = 0; i < 3; ++i) {
    if (line[i] < '0' || line[i] > '9') return std::nullopt;
    value = value * 10 + (line[i] - '0');
  }
  if (value < 100 || value > 599) return std::nullopt;
  if (line.size() > 3 && line[3] != ' ' && line[3] != '-' && line[3] != '\r' && line[3] != '\n') {
    return std::nullopt;
  }
  return static_cast<int16_t>(value);
}

std::optional<int> TransferTypeOfCommand(std::string_view command) {
  auto upper = [](char c) { return static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c); };
  if (command.size() < 6 || upper(command[0]) != 'T' || upper(command[1]) != 'Y' ||
      upper(command[2]) != 'P' || upper(command[3]) != 'E' || command[4] != ' ') {
    return std::nullopt;
  }
  size_t at = 5;
  while (at < command.size() && command[at] == ' ') ++at;
  if (at == command.size()) return std::nullopt;
  switch (upper(command[at])) {
    case 'A':
    case 'E':
      return tmAscii;
    case 'I':
      return tmImage;
    case 'L':
      return tmLocal8;
    default:
      return std::nullopt;
  }
}

std::optional<std::string> LocalNameForDownload(std::string_view remote_name) {
  std::string name = FileNamePart(remote_name);
  if (name.empty() || name == "." || name == "..") return std::nullopt;
  // A lead byte that swallowed a "/" leaves one the file system would still see.
  if (name.find('/') != std::string::npos || name.find('\0') != std::string::npos) {
    return std::nullopt;
  }
  return name;
}

std::vector<std::string> FeatureLines(const std::vector<std::string>& reply_lines) {
  std::vector<std::string> features;
  for (size_t i = 1; i + 1 < reply_lines.size(); ++i) {
    std::string_view line = reply_lines[i];
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    if (line.empty()) continue;
    std::string feature(line);
    for (char& c : feature) {
      if (c == ' ') break;
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    }
    features.push_back(std::move(feature));
  }
  return features;
}

bool HasFeature(const std::vector<std::string>& features, std::string_view name) {
  for (const std::string& feature : features) {
    if (SameText(std::string_view(feature).substr(0, feature.find(' ')), name)) return true;
  }
  return false;
}

std::optional<int64_t> ParseSizeReply(std::string_view reply) {
  if (ValidReplyCode(reply) != int16_t{213} || reply.size() < 5) return std::nullopt;
  std::string_view digits = reply.substr(4);
  while (!digits.empty() && (digits.back() == '\n' || digits.back() == '\r' || digits.back() == ' ')) {
    digits.remove_suffix(1);
  }
  int64_t size = 0;
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), size);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() || size < 0) {
    return std::nullopt;
  }
  return size;
}

std::string CommandForTrace(std::string_view command) {
  // A server may take the command word after leading blanks and up to a blank or a tab, so
  // " PASS x" and "pass<TAB>x" carry a password as much as "PASS x" does.
  constexpr std::string_view kBlanks = " \t";
  const size_t word = command.find_first_not_of(kBlanks);
  if (word == std::string_view::npos) return std::string(command);
  const size_t end = command.find_first_of(kBlanks, word);
  if (end == std::string_view::npos || end + 1 == command.size() ||
      !SameText(command.substr(word, end - word), "PASS")) {
    return std::string(command);
  }
  return std::string(command.substr(0, end + 1)) + "****";
}

bool IsReplyContinuation(std::string_view line) {
  return (!line.empty() && line[0] == ' ') || (line.size() >= 4 && line[3] == '-');
}

uint16_t ParsePasvPort(std::string_view reply) {
  std::string_view low_field = Field(reply, 6);
  low_field = low_field.substr(0, low_field.find(')'));
  int low = FieldValue(low_field);
  int high = FieldValue(Field(reply, 5));
  if (high < 0 || high > 255 || low < 0 || low > 255) {
    throw EConvertError("Invalid passive port in reply");
  }
  return static_cast<uint16_t>(high * 256 + low);
}

std::optional<std::string> ParsePasvAddress(std::string_view reply) {
  std::string address;
  for (int index = 1; index <= 4; ++index) {
    std::string_view field = Field(reply, index);
    if (field.empty() || Field(reply, 6).empty()) return std::nullopt;
    if (index == 1) {
      size_t start = field.size();
      while (start > 0 && IsDigit(field[start - 1])) --start;
      field.remove_prefix(start);
    }
    int value = -1;
    auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
    if (field.empty() || error != std::errc() || end != field.data() + field.size() ||
        value > 255) {
      return std::nullopt;
    }
    if (index > 1) address += '.';
    address += std::to_string(value);
  }
  return address;
}

uint16_t ParseEpsvPort(std::string_view reply) {
  const size_t open = reply.find('(');
  const size_t close = reply.find(')', open == std::string_view::npos ? 0 : open);
  if (open == std::string_view::npos || close == std::string_view::npos || close - open < 6) {
    throw EConvertError("Invalid extended passive reply");
  }
  const std::string_view inner = reply.substr(open + 1, close - open - 1);
  const char d = inner.front();
  // d d d port d: no protocol, no address, the port, and the closing delimiter.
  if (inner.size() < 5 || inner[1] != d || inner[2] != d || inner.back() != d) {
    throw EConvertError("Invalid extended passive reply");
  }
  const int port = FieldValue(inner.substr(3, inner.size() - 4));
  if (port < 1 || port > 65535) throw EConvertError("Invalid extended passive reply");
  return static_cast<uint16_t>(port);
}

std::string EprtArgument(std::string_view address_text, uint16_t port) {
  const char* family = address_text.find(':') != std::string_view::npos ? "2" : "1";
  return std::string("|") + family + "|" + std::string(address_text) + "|" + std::to_string(port) +
         "|";
}

namespace {

char Upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}

// Whether `text` starts with `word` (upper case), compared without case.
bool StartsWithWord(std::string_view text, std::string_view word) {
  if (text.size() < word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    if (Upper(text[i]) != word[i]) return false;
  }
  return true;
}

// The reply without its line end, blanks and one closing ".".
std::string_view WithoutEnding(std::string_view reply) {
  while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r' || reply.back() == ' ')) {
    reply.remove_suffix(1);
  }
  if (!reply.empty() && reply.back() == '.') reply.remove_suffix(1);
  return reply;
}

std::optional<int64_t> ExactCount(std::string_view reply) {
  std::string_view rest = WithoutEnding(reply);
  if (rest.empty() || rest.back() != ')') return std::nullopt;
  rest.remove_suffix(1);
  for (std::string_view unit : {std::string_view("BYTES"), std::string_view("BYTE")}) {
    if (rest.size() <= unit.size() ||
        !StartsWithWord(rest.substr(rest.size() - unit.size()), unit)) {
      continue;
    }
    std::string_view number = rest.substr(0, rest.size() - unit.size());
    if (number.empty() || number.back() != ' ') return std::nullopt;
    number.remove_suffix(1);
    const size_t open = number.rfind('(');
    if (open == std::string_view::npos) return std::nullopt;
    number.remove_prefix(open + 1);
    int64_t count = 0;
    auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), count);
    if (number.empty() || !IsDigit(number.front()) || error != std::errc() ||
        end != number.data() + number.size()) {
      return std::nullopt;
    }
    return count;
  }
  return std::nullopt;
}

// The last "N unit" or "N.N unit" that stands as words of their own ("5859.4 kbytes").
std::optional<int64_t> EstimatedCount(std::string_view reply) {
  static constexpr std::pair<std::string_view, double> kUnits[] = {
      {"KBYTES", 1024.0}, {"MBYTES", 1048576.0}, {"GBYTES", 1073741824.0}, {"BYTES", 1.0},
      {"KB", 1024.0},     {"MB", 1048576.0},     {"GB", 1073741824.0},     {"BYTE", 1.0},
  };
  std::optional<int64_t> found;
  for (size_t i = 0; i < reply.size(); ++i) {
    if (!IsDigit(reply[i]) || (i > 0 && reply[i - 1] != ' ' && reply[i - 1] != '(')) continue;
    size_t at = i;
    while (at < reply.size() && (IsDigit(reply[at]) || reply[at] == '.')) ++at;
    double value = 0;
    auto [end, error] = std::from_chars(reply.data() + i, reply.data() + at, value);
    if (error != std::errc() || end != reply.data() + at) continue;
    if (at < reply.size() && reply[at] == ' ') ++at;
    for (const auto& [unit, factor] : kUnits) {
      if (!StartsWithWord(reply.substr(at), unit)) continue;
      const size_t after = at + unit.size();
      if (after < reply.size() &&
          std::string_view(" ).,\r\n").find(reply[after]) == std::string_view::npos) {
        break;
      }
      const double bytes = value * factor;
      if (bytes >= 0 && bytes < 9.0e18) found = static_cast<int64_t>(bytes);
      break;
    }
    i = at - 1;  // the next word may start right here
  }
  return found;
}

}  // namespace

AnnouncedSize ParseAnnouncedSize(std::string_view reply) {
  AnnouncedSize size;
  size.exact = ExactCount(reply);
  size.estimate = size.exact ? size.exact : EstimatedCount(reply);
  return size;
}

int VendorFromSystReply(std::string_view reply) {
  // Tested in this order: "VMS" and "MVS" before "VM", so that those systems are not taken for VM.
  static constexpr std::array<std::pair<std::string_view, int>, 8> kSystems{{
      {"UNIX", kVendorUnix},
      {"NETWARE", kVendorNetware},
      {"DOS", kVendorDos},
      {"VMS", kVendorVms},
      {"MVS", kVendorMvs},
      {"VM", kVendorVm},
      {"MACOS", kVendorMacOs},
      {"OS/400", kVendorOs400},
  }};
  for (const auto& [text, vendor] : kSystems) {
    if (reply.find(text) != std::string_view::npos) return vendor;
  }
  return kVendorOther;
}

TCmdType ClassifyCommand(std::string_view command) {
  std::string first_word(command.substr(0, command.find(' ')));
  first_word += ' ';
  if (first_word == "CWD ") return TCmdType::cmdChangeDir;
  if (first_word == "DELE ") return TCmdType::cmdDelete;
  if (first_word == "MKD ") return TCmdType::cmdMakeDir;
  if (first_word == "RMD ") return TCmdType::cmdRemoveDir;
  if (command == "PWD") return TCmdType::cmdPrintDir;
  return TCmdType::cmdOther;
}

int32_t RefusalResult(std::string_view refusal) {
  while (!refusal.empty() && static_cast<unsigned char>(refusal.front()) <= ' ') {
    refusal.remove_prefix(1);
  }
  while (!refusal.empty() && static_cast<unsigned char>(refusal.back()) <= ' ') {
    refusal.remove_suffix(1);
  }
  if (refusal.size() < 4 || refusal[3] != ' ') return 999;
  // Three decimal digits, the first of which may be a minus sign instead.
  const bool negative = refusal[0] == '-';
  int32_t value = 0;
  for (size_t i = negative ? 1 : 0; i < 3; ++i) {
    if (refusal[i] < '0' || refusal[i] > '9') return 999;
    value = value * 10 + (refusal[i] - '0');
  }
  return negative ? -value : value;
}

FTPException Refusal(std::string refusal) {
  const int32_t result = RefusalResult(refusal);
  return FTPException(std::move(refusal), result);
}

}  // namespace tarnex
