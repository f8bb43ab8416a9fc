#include "byte_search.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace qorvex {
namespace {

constexpr std::size_t npos = std::string_view::npos;

// The platform's search: linear in the worst case.
std::size_t searchBytes(std::string_view haystack, std::string_view needle, std::size_t from) {
  if (from > haystack.size()) return npos;
  if (needle.empty()) return from;
  const char* base = haystack.data() + from;
  std::size_t length = haystack.size() - from;
  if (needle.size() > length) return npos;
#if defined(__linux__)
  // memmem is linear in the worst case here. glibc's is vectorised; the
  // static musl build of the command line brings one that is too.
  const void* hit = memmem(base, length, needle.data(), needle.size());
  if (hit == nullptr) return npos;
  return static_cast<std::size_t>(static_cast<const char*>(hit) - haystack.data());
#else
  const char* end = base + length;
  const char* hit = std::search(base, end, std::boyer_moore_searcher(needle.begin(), needle.end()));
  if (hit == end) return npos;
  return static_cast<std::size_t>(hit - haystack.data());
#endif
}

// Needles longer than this (the panel block is 11 KB) are found by their last
// kProbeLength bytes first.
constexpr std::size_t kLongNeedle = 256;
constexpr std::size_t kProbeLength = 64;

}  // namespace

std::size_t findBytes(std::string_view haystack, std::string_view needle, std::size_t from) {
  if (needle.size() <= kLongNeedle) return searchBytes(haystack, needle, from);
  if (from > haystack.size()) return npos;
  // A linear search for a long needle (two-way) costs several times as much
  // per byte as one for a short one. So: find the needle's last bytes,
  // compare the rest where they occur. Where that meets more near misses than
  // the text is long, the linear search takes over from the first start not
  // yet ruled out.
  const std::size_t head = needle.size() - kProbeLength;
  const std::string_view probe = needle.substr(head);
  const std::size_t budget = haystack.size() - from + 4096;
  std::size_t work = 0;
  std::size_t start = from;  // every start before this one is ruled out
  while (haystack.size() - start >= needle.size()) {
    const std::size_t hit = searchBytes(haystack, probe, start + head);
    if (hit == npos) return npos;
    const std::size_t candidate = hit - head;
    if (std::memcmp(haystack.data() + candidate, needle.data(), head) == 0) return candidate;
    start = candidate + 1;
    work += needle.size();
    if (work > budget) return searchBytes(haystack, needle, start);
  }
  return npos;
}

}  // namespace qorvex
