#include "script/log_mask.h"

#include <gtest/gtest.h>

#include <map>

#include "platform/text_encoding.h"

namespace tarnex::script {
namespace {

TEST(IsSecretName, PassInAnyCaseAsCharacters) {
  struct Case {
    platform::TextEncoding encoding;
    const char* name;
    bool secret;
  };
  using platform::TextEncoding;
  const Case cases[] = {
      {TextEncoding::Cp932, "password", true},
      {TextEncoding::Cp932, "FtpPass", true},
      {TextEncoding::Cp932, "PASSWD", true},
      {TextEncoding::Cp932, "\x83\x5Cpass", true},  // after a double-byte character
      {TextEncoding::Cp932, "user", false},
      {TextEncoding::Cp932, "pas", false},
      {TextEncoding::Cp932, "p_ass", false},
      {TextEncoding::Cp932, "", false},
      // 0x83 0x70 is one katakana: its second byte is no "p".
      {TextEncoding::Cp932,
       "\x83\x70"
       "ass",
       false},
      {TextEncoding::Utf8, "mot_de_PASSE", true},
  };
  for (const Case& c : cases) {
    platform::ScopedTextEncoding encoding(c.encoding);
    EXPECT_EQ(IsSecretName(c.name), c.secret) << c.name;
  }
}

TEST(MaskSecrets, EveryFormOfASecretAndNothingElse) {
  struct Case {
    const char* line;
    const char* logged;
  } cases[] = {
      {"Login joe secret", "Login joe ****"},
      {"login  joe  secret  extra", "login  joe  ****  extra"},
      {"Login joe \"pa ss\"", "Login joe ****"},
      {"Login joe \"pa ss\" extra", "Login joe **** extra"},
      {"Login joe \"pa ss", "Login joe ****"},
      {"Login \"my user\" \"pa ss\"", "Login \"my user\" ****"},
      {"Login joe pa\"ss", "Login joe ****"},
      {"if Error Login joe secret", "if Error Login joe ****"},
      {"if NonError if Error Login joe s", "if NonError if Error Login joe ****"},
      {"FTP PASS secret words", "FTP PASS ****"},
      {"FTP  pass x", "FTP  pass ****"},
      {"FTP pass\tx", "FTP pass\t****"},
      {"FTP \tPASS x", "FTP \tPASS ****"},
      {"if NonError FTP  PASS x", "if NonError FTP  PASS ****"},
      {"set password=s3cret", "set password=****"},
      {"set FtpPass=a=b rest", "set FtpPass=**** rest"},
      {"if Error set =pass=x", "if Error set =pass=****"},
      {"set pass=", "set pass="},
      {"set user=joe", "set user=joe"},
      {"Login joe", "Login joe"},
      {"FTP PASS", "FTP PASS"},
      {"FTP PASS ", "FTP PASS "},
      {"FTP USER joe", "FTP USER joe"},
      {"FTP PASSWORD x", "FTP PASSWORD x"},
      {"Rem Login joe secret", "Rem Login joe secret"},
      {"Logins joe secret", "Logins joe secret"},
      {"Login \x81\x40 \x95\x5Cpass", "Login \x81\x40 ****"},
  };
  for (const auto& c : cases) EXPECT_EQ(MaskSecrets(c.line), c.logged) << c.line;
}

TEST(LoggedLine, ASecretVariableShowsAsTheMaskWordForWord) {
  const std::map<std::string, std::string> variables{
      {"password", "two words"}, {"user", "joe"}, {"passempty", ""}};
  auto read = [&](const std::string& name) {
    auto it = variables.find(name);
    return it == variables.end() ? std::string() : it->second;
  };
  struct Case {
    const char* written;
    const char* logged;
  } cases[] = {
      {"Rem %user% %password%", "Rem joe **** ****"},
      {"Login %user% %password%", "Login joe **** ****"},
      // An empty secret moves no word: the password is still the second argument.
      {"Login %passempty% joe literal", "Login  joe ****"},
      {"Get %password%.txt", "Get **** ****.txt"},
      {"set copy=%password%", "set copy=**** ****"},
  };
  for (const auto& c : cases) EXPECT_EQ(LoggedLine(c.written, read), c.logged) << c.written;
}

}  // namespace
}  // namespace tarnex::script
