#pragma once

// Splits a fuzzer input into parts at 0xFF bytes. 0xFF never occurs in UTF-8,
// so the game's texts and the manifest's strings can be seeded verbatim, and
// the fuzzer still reaches every other byte value in each part.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace qorvex::fuzz {

inline std::vector<std::string_view> splitInput(const std::uint8_t* data, std::size_t size,
                                                std::size_t parts) {
  std::vector<std::string_view> result;
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  while (result.size() + 1 < parts) {
    std::size_t cut = rest.find('\xff');
    if (cut == std::string_view::npos) {
      result.push_back(rest);
      rest = {};
      continue;
    }
    result.push_back(rest.substr(0, cut));
    rest.remove_prefix(cut + 1);
  }
  result.push_back(rest);
  return result;
}

// A broken property is a bug just like a crash: report and stop, so libFuzzer
// saves the input.
#define QORVEX_FUZZ_CHECK(condition)                                                        \
  do {                                                                                      \
    if (!(condition)) {                                                                     \
      std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                         \
    }                                                                                       \
  } while (false)

}  // namespace qorvex::fuzz
