#include "script/variables.h"

#include <gtest/gtest.h>

#include <map>

namespace tarnex::script {
namespace {

TEST(ExpandVariables, SubstitutesEscapesAndKeepsUnterminatedReferences) {
  std::map<std::string, std::string> vars{
      {"host", "ftp1"}, {"x", "X"}, {"", "default"}, {" x ", "spaced"}, {"a%b", "pct"},
      {"\x95\x5C", "hyo"}};
  auto read = [&](const std::string& name) {
    auto it = vars.find(name);
    return it == vars.end() ? std::string() : it->second;
  };
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"Open %host% NONE 21", "Open ftp1 NONE 21"},
      {"100\\%", "100%"},
      {"a%b", "a%b"},
      {"C:\\dir\\%x%", "C:\\dir%x%"},
      {"%unset%end", "end"},
      {"%%", "default"},
      {"% x %", "spaced"},
      {"%a\\%b%", "pct"},  // an escaped percent inside a name
      {"\\a\\", "\\a\\"},
      {"%x%%x%", "XX"},
      {"\x95\x5C%x%", "\x95\x5CX"},       // 0x5C after a lead byte is no backslash
      {"\x95\x5C%\x95\x5C%", "\x95\x5Chyo"},
      {"%\x95", "%\x95"},                  // a lead byte at the very end
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ExpandVariables(c.in, read), c.out) << c.in;
}

}  // namespace
}  // namespace tarnex::script
