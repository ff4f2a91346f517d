// The line cipher: any text given to Decipher either deciphers or raises the conversion
// error; every plain line comes back from its record byte for byte, from any start.
#include <string>

#include "documents/cipher.h"
#include "fuzz/fuzz_target.h"
#include "platform/errors.h"

TARNEX_FUZZ_TARGET(decipher) {
  const std::string_view text = tarnex::fuzz::AsText(data, size);
  try {
    const std::string plain = tarnex::documents::Decipher(text);
    // One byte per hexadecimal pair (an odd last digit counts alone) after the marker.
    FUZZ_CHECK(plain.size() == (text.size() <= 1 ? 0 : text.size() / 2));
  } catch (const tarnex::EConvertError&) {
  }

  const int start = size == 0 ? 1 : 1 + data[0] % 11;
  const std::string record = tarnex::documents::EncipherFrom(text, start);
  FUZZ_CHECK(record.size() == 1 + 2 * text.size());
  FUZZ_CHECK(record[0] == tarnex::documents::CipherKey[start - 1]);
  FUZZ_CHECK(tarnex::documents::Decipher(record) == text);
  // Digits are read in either case.
  std::string lower = record;
  for (size_t i = 1; i < lower.size(); ++i) {
    if (lower[i] >= 'A' && lower[i] <= 'F') lower[i] = static_cast<char>(lower[i] - 'A' + 'a');
  }
  FUZZ_CHECK(tarnex::documents::Decipher(lower) == text);
}
