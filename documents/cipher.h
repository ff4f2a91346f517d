// The line cipher of enciphered scripts: a repeating-key XOR written as upper-case hexadecimal
// pairs after a marker, the key character the line starts at. Each line picks its own random
// start, so enciphering the same text twice gives different records.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tarnex::documents {

// Every character occurs once: Decipher finds the start position by the marker's first
// occurrence.
inline constexpr std::string_view CipherKey = "QK7MD4ZW9PX";

// A uniform integer in 0..bound-1.
using RandomDraw = std::function<int(int bound)>;
// The system's millisecond tick.
using TickSource = std::function<uint32_t()>;

// The 1-based start position: one draw, then (tick mod 10) + 2 further draws; the last counts.
int ChooseStartPosition(const RandomDraw& draw, uint32_t tick);

// The record of `plain` (marker and hexadecimal body, no line end), starting at the 1-based key
// position `start` (1..11).
std::string EncipherFrom(std::string_view plain, int start);

// The plain line of a record. Raises EConvertError when the marker is not a key character or
// a pair is not hexadecimal (then with the text "'$xy' は整数ではありません"). Digits are read
// in either case; an odd last digit is read alone.
std::string Decipher(std::string_view text);

// Enciphers with a start chosen from a random source and a tick. The default uses the
// process-wide generator, seeded once from the clock, and the system tick; tests inject both.
class LineCipher {
 public:
  LineCipher();
  LineCipher(RandomDraw draw, TickSource tick);

  std::string Encipher(std::string_view plain) const;

 private:
  RandomDraw draw_;
  TickSource tick_;
};

// Encipher with the process-wide generator and the system tick.
std::string Encipher(std::string_view plain);

}  // namespace tarnex::documents
