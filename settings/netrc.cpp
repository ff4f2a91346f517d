#include "settings/netrc.h"

#include <algorithm>
#include <cctype>

namespace tarnex::settings {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

std::string Lowered(std::string_view text) {
  std::string lowered(text);
  for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lowered;
}

// The words of a netrc text, with the line each one starts on.
class Words {
 public:
  explicit Words(std::string_view text) : text_(text) {}

  // The next word, or nothing at the end of the text (or after an error).
  std::optional<std::string> Next() {
    SkipBlanksAndComments();
    if (pos_ >= text_.size()) return std::nullopt;
    word_line_ = line_;
    at_line_start_ = false;
    return text_[pos_] == '"' ? Quoted() : Plain();
  }

  // A macro's body: the rest of its "macdef" line, then every line up to an empty one.
  void SkipMacroBody() {
    SkipLine();
    while (pos_ < text_.size()) {
      const size_t end = std::min(text_.find('\n', pos_), text_.size());
      bool empty = true;
      for (size_t i = pos_; i < end; ++i) empty = empty && IsBlank(text_[i]);
      SkipLine();
      if (empty) break;
    }
    at_line_start_ = true;
  }

  int WordLine() const { return word_line_; }
  const std::string& Error() const { return error_; }

 private:
  void SkipLine() {
    while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
    if (pos_ < text_.size()) {
      ++pos_;
      ++line_;
    }
  }

  void SkipBlanksAndComments() {
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (c == '\n') {
        ++pos_;
        ++line_;
        at_line_start_ = true;
      } else if (IsBlank(c)) {
        ++pos_;
      } else if (c == '#' && at_line_start_) {
        SkipLine();
      } else {
        return;
      }
    }
  }

  std::string Plain() {
    const size_t start = pos_;
    while (pos_ < text_.size() && !IsBlank(text_[pos_]) && text_[pos_] != '\n') ++pos_;
    return std::string(text_.substr(start, pos_ - start));
  }

  // A quoted word ends at its closing quote on the same line.
  std::optional<std::string> Quoted() {
    std::string word;
    for (++pos_; pos_ < text_.size() && text_[pos_] != '\n'; ++pos_) {
      const char c = text_[pos_];
      if (c == '"') {
        ++pos_;
        return word;
      }
      if (c == '\\' && pos_ + 1 < text_.size() && text_[pos_ + 1] != '\n') {
        word += Escaped(text_[++pos_]);
      } else {
        word += c;
      }
    }
    error_ = "line " + std::to_string(word_line_) + ": a quoted word has no closing quote";
    pos_ = text_.size();
    return std::nullopt;
  }

  static char Escaped(char c) {
    switch (c) {
      case 'n':
        return '\n';
      case 'r':
        return '\r';
      case 't':
        return '\t';
      default:
        return c;  // \" and \\ and any other character stand for themselves
    }
  }

  std::string_view text_;
  size_t pos_ = 0;
  int line_ = 1;
  int word_line_ = 1;
  bool at_line_start_ = true;
  std::string error_;
};

NetrcParse Failed(std::string error) {
  NetrcParse parse;
  parse.error = std::move(error);
  return parse;
}

std::string HostKey(std::string_view host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  return Lowered(host);
}

}  // namespace

NetrcParse ParseNetrc(std::string_view text) {
  NetrcParse parse;
  Words words(text);
  while (std::optional<std::string> word = words.Next()) {
    const int line = words.WordLine();
    const std::string where = "line " + std::to_string(line) + ": ";
    const std::string keyword = Lowered(*word);
    if (keyword == "default") {
      parse.entries.emplace_back().is_default = true;
      continue;
    }
    const bool known = keyword == "machine" || keyword == "login" || keyword == "password" ||
                       keyword == "account" || keyword == "macdef";
    if (!known) {
      return Failed(where +
                    "a word where machine, default, login, password, account or macdef belongs "
                    "(a value with blanks needs double quotes)");
    }
    std::optional<std::string> value = words.Next();
    if (!words.Error().empty()) return Failed(words.Error());
    if (!value) return Failed(where + "'" + keyword + "' needs a value");
    if (keyword == "machine") {
      parse.entries.emplace_back().machine = std::move(*value);
    } else if (keyword == "macdef") {
      words.SkipMacroBody();
    } else if (parse.entries.empty()) {
      return Failed(where + "'" + keyword + "' comes before any machine or default");
    } else {
      NetrcEntry& entry = parse.entries.back();
      (keyword == "login"      ? entry.login
       : keyword == "password" ? entry.password
                               : entry.account) = std::move(*value);
    }
  }
  if (!words.Error().empty()) return Failed(words.Error());
  return parse;
}

std::optional<NetrcLogin> FindNetrcLogin(const std::vector<NetrcEntry>& entries,
                                         std::string_view host, std::string_view user) {
  const auto fits = [user](const NetrcEntry& entry) {
    if (user.empty()) return entry.login.has_value() || entry.password.has_value();
    return entry.password.has_value() && (!entry.login || *entry.login == user);
  };
  const std::string key = HostKey(host);
  const NetrcEntry* found = nullptr;
  for (const NetrcEntry& entry : entries) {
    if (!entry.is_default && HostKey(entry.machine) == key && fits(entry)) {
      found = &entry;
      break;
    }
  }
  for (const NetrcEntry& entry : entries) {
    if (found == nullptr && entry.is_default && fits(entry)) found = &entry;
  }
  if (found == nullptr) return std::nullopt;
  return NetrcLogin{user.empty() ? found->login.value_or("") : std::string(user),
                    found->password.value_or("")};
}

}  // namespace tarnex::settings
