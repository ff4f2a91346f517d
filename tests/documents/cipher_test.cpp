#include "documents/cipher.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "documents/document_texts.h"
#include "platform/errors.h"
#include "text/texts.h"

namespace tarnex::documents {
namespace {

TEST(CipherTest, KnownRecordsWorkedOutFromTheKey) {
  struct Case {
    int start;
    std::string plain;
    std::string record;
  } cases[] = {
      {1, "A", "Q10"},      // 'A' 0x41 ^ 'Q' 0x51
      {2, "\xFF", "KB4"},   // 0xFF ^ 'K' 0x4B
      {11, "AB", "X1913"},  // 'A' ^ 'X' 0x58, then back to 'Q': 'B' ^ 'Q'
      {3, "", "7"},         // an empty line is the marker alone
      {1, "QK7MD4ZW9PX", "Q" + std::string(22, '0')},  // the key enciphers to zeros
      {5, "\x95\x5C", "DD168"},  // a double-byte character: 0x95 ^ 'D', 0x5C ^ '4'
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EncipherFrom(c.plain, c.start), c.record) << c.start;
    EXPECT_EQ(Decipher(c.record), c.plain) << c.record;
  }
}

TEST(CipherTest, ReadsDigitsInEitherCaseAndAnOddLastDigitAlone) {
  EXPECT_EQ(Decipher("Kb4"), "\xFF");
  EXPECT_EQ(Decipher("Dd168"), "\x95\x5C");
  EXPECT_EQ(Decipher("Q1"), "P");  // 0x01 ^ 'Q'
  EXPECT_EQ(Decipher(""), "");
  EXPECT_EQ(Decipher("Q"), "");
}

TEST(CipherTest, RoundTripsRandomBytesAtEveryStart) {
  std::mt19937 random(20240611);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int start = 1; start <= 11; ++start) {
    for (size_t length : {0u, 1u, 10u, 11u, 12u, 300u}) {
      std::string plain;
      for (size_t i = 0; i < length; ++i) plain += static_cast<char>(byte(random));
      const std::string record = EncipherFrom(plain, start);
      ASSERT_EQ(record.size(), 1 + 2 * plain.size());
      EXPECT_EQ(record[0], CipherKey[static_cast<size_t>(start - 1)]);
      for (char c : record) {
        EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z')) << record;
      }
      EXPECT_EQ(Decipher(record), plain);
    }
  }
}

TEST(CipherTest, LinesLongerThanAnyEditorLineComeBackWhole) {
  std::string plain;
  for (int i = 0; i < 5000; ++i) plain += static_cast<char>('a' + i % 26);
  plain += "\x82\xA0";  // ends with a double-byte character
  const std::string record = Encipher(plain);
  EXPECT_EQ(record.size(), 1 + 2 * plain.size());
  EXPECT_EQ(Decipher(record), plain);
}

TEST(CipherTest, StartIsTheLastOfTheTickDependentDraws) {
  struct Case {
    uint32_t tick;
    int draws;
  } cases[] = {{0, 3}, {9, 12}, {1234, 7}, {4294967295u, 8}};
  for (const Case& c : cases) {
    std::vector<int> bounds;
    int next = 0;
    const RandomDraw draw = [&](int bound) {
      bounds.push_back(bound);
      return next++ % 11;
    };
    const int start = ChooseStartPosition(draw, c.tick);
    EXPECT_EQ(static_cast<int>(bounds.size()), c.draws) << c.tick;
    EXPECT_EQ(start, (c.draws - 1) % 11 + 1) << c.tick;
    for (int bound : bounds) EXPECT_EQ(bound, 11);
  }
}

TEST(CipherTest, InjectedSourcePicksTheMarker) {
  const LineCipher cipher([](int) { return 10; }, [] { return 0u; });
  EXPECT_EQ(cipher.Encipher("A"), EncipherFrom("A", 11));
  // A source that misbehaves still yields a position within the key.
  const LineCipher broken([](int) { return 99; }, [] { return 0u; });
  EXPECT_EQ(Decipher(broken.Encipher("abc")), "abc");
}

TEST(CipherTest, TheProcessGeneratorSpreadsStarts) {
  // 200 draws over 11 positions: every marker shows up.
  std::string markers;
  for (int i = 0; i < 200; ++i) markers += Encipher("x")[0];
  for (char k : CipherKey) EXPECT_NE(markers.find(k), std::string::npos) << k;
}

TEST(CipherTest, UnreadableRecordsRaiseClearErrors) {
  struct Case {
    std::string record;
    std::string message;
  } cases[] = {
      {"q10", NotACipherMarker("q")},  // markers are compared exactly
      {"A10", NotACipherMarker("A")},
      {"#", NotACipherMarker("#")},
      {"\x82\xA0"
       "10",
       NotACipherMarker("\x82\xA0")},
      {"QZZ", texts::NotAnInteger("$ZZ")},
      {"Q10 1", texts::NotAnInteger("$ 1")},
      {"Q10+1", texts::NotAnInteger("$+1")},
      {"Q10G", texts::NotAnInteger("$G")},
  };
  for (const Case& c : cases) {
    try {
      Decipher(c.record);
      ADD_FAILURE() << "no error for " << c.record;
    } catch (const EConvertError& error) {
      EXPECT_EQ(error.Message(), c.message) << c.record;
    }
  }
}

}  // namespace
}  // namespace tarnex::documents
