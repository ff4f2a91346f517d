// The fuzz targets. Each one is a function of the input bytes that must never crash, hang,
// leak or break one of its FUZZ_CHECKs. The same source serves two builds:
//  - with TARNEX_FUZZ_ENTRY defined (clang, -fsanitize=fuzzer) it is a libFuzzer program;
//  - otherwise it registers itself, so that the regression test replays the kept inputs
//    through exactly the same function in the normal build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarnex::fuzz {

using Entry = void (*)(const uint8_t* data, size_t size);

// Every target of this program, by name (the name of its corpus folder).
std::vector<std::pair<std::string, Entry>>& Targets();

struct Registration {
  Registration(const char* name, Entry entry) { Targets().emplace_back(name, entry); }
};

// A broken property: the fuzzer aborts (and keeps the input); the replay test reports it.
[[noreturn]] void CheckFailed(const char* condition, const char* file, int line);

inline std::string_view AsText(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

}  // namespace tarnex::fuzz

#define FUZZ_CHECK(condition) \
  ((condition) ? (void)0 : ::tarnex::fuzz::CheckFailed(#condition, __FILE__, __LINE__))

#ifdef TARNEX_FUZZ_ENTRY
#define TARNEX_FUZZ_TARGET(name)                                                \
  static void FuzzOne_##name(const uint8_t* data, size_t size);                 \
  extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {     \
    FuzzOne_##name(data, size);                                                 \
    return 0;                                                                   \
  }                                                                             \
  static void FuzzOne_##name(const uint8_t* data, size_t size)
#else
#define TARNEX_FUZZ_TARGET(name)                                                \
  static void FuzzOne_##name(const uint8_t* data, size_t size);                 \
  static const ::tarnex::fuzz::Registration kRegistration_##name(#name, &FuzzOne_##name); \
  static void FuzzOne_##name(const uint8_t* data, size_t size)
#endif
