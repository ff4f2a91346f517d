#include "text/fingerprint.h"

#include <gtest/gtest.h>

namespace tarnex {
namespace {

TEST(NormalizeFingerprint, SixtyFourHexDigitsInAnyCaseWithOrWithoutColons) {
  const std::string hex(64, 'a');
  std::string colons;
  for (size_t i = 0; i < 64; i += 2) colons += (i ? ":" : "") + std::string("AB");
  struct Case {
    std::string text, normal;
  } cases[] = {
      {hex, hex},
      {std::string(64, 'F'), std::string(64, 'f')},
      {colons,
       [] {
         std::string s;
         for (int i = 0; i < 32; ++i) s += "ab";
         return s;
       }()},
      {std::string(63, 'a'), ""},
      {std::string(65, 'a'), ""},
      {std::string(63, 'a') + "g", ""},
      {std::string(63, 'a') + " ", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(NormalizeFingerprint(c.text), c.normal) << c.text;
}

TEST(IsSshHostKeyFingerprint, OpenSshsFormOnly) {
  const std::string digits = "uNiVztksCsDhcc0u9e8BujQXVUpKZIDTMczCvj3tD2s";
  struct Case {
    std::string text;
    bool valid;
  } cases[] = {
      {"SHA256:" + digits, true},
      {"SHA256:" + digits.substr(0, 42) + "A", true},
      {"SHA256:" + digits.substr(0, 42) + "B", false},  // bits beyond the 256 set
      {"SHA256:" + digits + "=", false},               // padding
      {"SHA256:" + digits.substr(0, 42), false},
      {"sha256:" + digits, false},
      {"SHA256:" + digits.substr(0, 42) + "-", false},
      {"MD5:" + digits, false},
      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsSshHostKeyFingerprint(c.text), c.valid) << c.text;
}

}  // namespace
}  // namespace tarnex
