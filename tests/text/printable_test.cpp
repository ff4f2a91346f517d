#include "text/printable.h"

#include <gtest/gtest.h>

#include "platform/text_encoding.h"

namespace tarnex {
namespace {

TEST(EscapeControlCharacters, ShowsEveryControlByteAndKeepsTheRest) {
  struct Case {
    platform::TextEncoding encoding;
    std::string text;
    std::string shown;
  };
  using platform::TextEncoding;
  const Case cases[] = {
      {TextEncoding::Cp932, "plain name.txt", "plain name.txt"},
      {TextEncoding::Cp932, "a\x1b[31mred\x07", "a\\x1b[31mred\\x07"},
      {TextEncoding::Cp932, std::string("nul\0cr\rlf\ntab\tdel\x7f", 18),
       "nul\\x00cr\\x0dlf\\x0atab\\x09del\\x7f"},
      // A double-byte character keeps its second byte, whatever it looks like.
      {TextEncoding::Cp932, "\x95\x5c\x83\x7e", "\x95\x5c\x83\x7e"},
      // In CP932 0xC2 is a half-width katakana and 0x9B a lead byte: nothing to escape.
      {TextEncoding::Cp932, "\xc2\x9b\x40", "\xc2\x9b\x40"},
      {TextEncoding::Utf8,
       "csi\xc2\x9b"
       "31m",
       "csi\\xc2\\x9b31m"},
      {TextEncoding::Utf8, "\xc2\xa0nbsp \xe6\x97\xa5", "\xc2\xa0nbsp \xe6\x97\xa5"},
      {TextEncoding::Utf8, "cut\xc2", "cut\xc2"},
  };
  for (const Case& c : cases) {
    platform::ScopedTextEncoding encoding(c.encoding);
    EXPECT_EQ(EscapeControlCharacters(c.text), c.shown) << c.text;
  }
}

}  // namespace
}  // namespace tarnex
