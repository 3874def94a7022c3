#pragma once

// One decoder under the fuzzer. A target file reads
//
//   FUZZ_TARGET(xpc_wire) { auto frame = wire::decode(input); ... FUZZ_CHECK(...); }
//
// and builds two ways: with libFuzzer (OSTREL_FUZZING) it is the fuzzer's
// entry point; in the normal build it registers itself so that the unit tests
// replay every kept input (corpus and regressions) through it.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace ostrel::fuzz {

using Target = void (*)(std::string_view input);

// For the replay build; always true, so that it can initialise a static.
bool registerTarget(const char* name, Target target);

// Prints what the target promised and did not hold, then aborts: the
// fuzzer keeps the input, the replay test fails.
[[noreturn]] void fail(const char* check, const char* file, int line);

}  // namespace ostrel::fuzz

#define FUZZ_CHECK(condition)                                            \
  do {                                                                   \
    if (!(condition)) ::ostrel::fuzz::fail(#condition, __FILE__, __LINE__); \
  } while (false)

#ifdef OSTREL_FUZZING
#define FUZZ_TARGET(name)                                                          \
  static void fuzzOne(std::string_view input);                                     \
  extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {        \
    fuzzOne(std::string_view(reinterpret_cast<const char*>(data), size));          \
    return 0;                                                                      \
  }                                                                                \
  static void fuzzOne(std::string_view input)
#else
#define FUZZ_TARGET(name)                                                              \
  static void fuzzOne(std::string_view input);                                         \
  [[maybe_unused]] static const bool registered = ::ostrel::fuzz::registerTarget(#name, fuzzOne); \
  static void fuzzOne(std::string_view input)
#endif
