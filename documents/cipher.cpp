#include "documents/cipher.h"

#include <chrono>
#include <random>

#include "documents/document_texts.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "text/sjis.h"
#include "text/texts.h"

namespace tarnex::documents {
namespace {

constexpr int kKeyLength = static_cast<int>(CipherKey.size());
constexpr char kHexDigits[] = "0123456789ABCDEF";

int NextPosition(int p) {
  return p == kKeyLength ? 1 : p + 1;
}

unsigned char KeyAt(int p) {
  return static_cast<unsigned char>(CipherKey[static_cast<size_t>(p - 1)]);
}

// -1 for a byte that is not a hexadecimal digit.
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// One pair (or the odd last digit), read as "$" + the characters would be.
unsigned char ReadHex(std::string_view digits) {
  int value = 0;
  for (char c : digits) {
    const int digit = HexValue(c);
    if (digit < 0) throw EConvertError(texts::NotAnInteger("$" + std::string(digits)));
    value = value * 16 + digit;
  }
  return static_cast<unsigned char>(value);
}

// The program's generator, seeded from the clock at its first use. The cipher runs on the
// one UI thread only.
int DrawProcessRandom(int bound) {
  static std::mt19937 generator(static_cast<std::mt19937::result_type>(
      std::chrono::system_clock::now().time_since_epoch().count()));
  return std::uniform_int_distribution<int>(0, bound - 1)(generator);
}

}  // namespace

int ChooseStartPosition(const RandomDraw& draw, uint32_t tick) {
  int r = draw(kKeyLength);
  for (uint32_t extra = tick % 10 + 2; extra > 0; --extra) r = draw(kKeyLength);
  // A faulty source must not pick a position outside the key.
  if (r < 0 || r >= kKeyLength) r = 0;
  return r + 1;
}

std::string EncipherFrom(std::string_view plain, int start) {
  if (start < 1 || start > kKeyLength) start = 1;
  std::string record;
  record.reserve(1 + 2 * plain.size());
  record += static_cast<char>(KeyAt(start));
  int p = start;
  for (char c : plain) {
    const unsigned value = static_cast<unsigned char>(c) ^ KeyAt(p);
    record += kHexDigits[value >> 4];
    record += kHexDigits[value & 0x0F];
    p = NextPosition(p);
  }
  return record;
}

std::string Decipher(std::string_view text) {
  if (text.empty()) return {};
  const size_t found = CipherKey.find(text[0]);
  if (found == std::string_view::npos) {
    throw EConvertError(NotACipherMarker(text.substr(0, CharLengthAt(text, 0))));
  }
  std::string plain;
  plain.reserve(text.size() / 2);
  int p = static_cast<int>(found) + 1;
  for (size_t at = 1; at < text.size(); at += 2) {
    plain += static_cast<char>(ReadHex(text.substr(at, 2)) ^ KeyAt(p));
    p = NextPosition(p);
  }
  return plain;
}

LineCipher::LineCipher() : LineCipher(DrawProcessRandom, platform::TickCount) {}

LineCipher::LineCipher(RandomDraw draw, TickSource tick)
    : draw_(std::move(draw)), tick_(std::move(tick)) {}

std::string LineCipher::Encipher(std::string_view plain) const {
  return EncipherFrom(plain, ChooseStartPosition(draw_, tick_()));
}

std::string Encipher(std::string_view plain) {
  static const LineCipher cipher;
  return cipher.Encipher(plain);
}

}  // namespace tarnex::documents
