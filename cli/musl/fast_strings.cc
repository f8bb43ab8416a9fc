// Byte searches, copies and moves 16 bytes at a time (SSE2, which every x86-64
// has). musl's own go a byte or a word at a time, and its backward move, which
// inserting into a text needs, is a slow string instruction.
#include <emmintrin.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>

#include "runtime.h"

namespace qorvex::runtime {
namespace {

inline __m128i load(const unsigned char* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline unsigned equalMask(__m128i a, __m128i b) {
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(a, b)));
}

}  // namespace

const void* findByte(const void* bytes, int value, std::size_t length) {
  const auto* p = static_cast<const unsigned char*>(bytes);
  const auto wanted = static_cast<unsigned char>(value);
  const __m128i all = _mm_set1_epi8(static_cast<char>(wanted));
  // Four blocks of 16 at once, tested together.
  for (; length >= 64; p += 64, length -= 64) {
    const __m128i e0 = _mm_cmpeq_epi8(load(p), all), e1 = _mm_cmpeq_epi8(load(p + 16), all);
    const __m128i e2 = _mm_cmpeq_epi8(load(p + 32), all), e3 = _mm_cmpeq_epi8(load(p + 48), all);
    if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(e0, e1), _mm_or_si128(e2, e3))) != 0) break;
  }
  for (; length >= 16; p += 16, length -= 16) {
    if (const unsigned mask = equalMask(load(p), all)) return p + __builtin_ctz(mask);
  }
  for (; length > 0; ++p, --length) {
    if (*p == wanted) return p;
  }
  return nullptr;
}

void* copyBytes(void* target, const void* source, std::size_t length) {
  auto* d = static_cast<unsigned char*>(target);
  const auto* s = static_cast<const unsigned char*>(source);
  if (length >= 16) {
    // The last 16 bytes are loaded before anything is stored and stored last,
    // so that the loop needs no tail: every byte is read before it could be
    // written over, which also makes this a right move to a lower address.
    const __m128i last = load(s + length - 16);
    for (std::size_t i = 0; i + 16 <= length; i += 16)
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), load(s + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + length - 16), last);
    return target;
  }
  if (length >= 8) {
    std::uint64_t head, tail;
    __builtin_memcpy(&head, s, 8);
    __builtin_memcpy(&tail, s + length - 8, 8);
    __builtin_memcpy(d, &head, 8);
    __builtin_memcpy(d + length - 8, &tail, 8);
    return target;
  }
  for (std::size_t i = 0; i < length; ++i) d[i] = s[i];
  return target;
}

void* moveBytes(void* target, const void* source, std::size_t length) {
  auto* d = static_cast<unsigned char*>(target);
  const auto* s = static_cast<const unsigned char*>(source);
  if (d == s || length == 0) return target;
  // Where the target does not start inside the source, a forward copy is safe.
  if (d < s || d >= s + length) return copyBytes(target, source, length);
  // Otherwise from the end: each 16 bytes are loaded before any store can
  // overwrite them.
  while (length >= 16) {
    length -= 16;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + length), load(s + length));
  }
  while (length > 0) {
    --length;
    d[length] = s[length];
  }
  return target;
}

namespace {

// How common a byte is in source code and text, 0 the rarest: a candidate
// filter on the needle's two rarest bytes meets far fewer false starts than
// one on its first and last (which in code are often blanks).
struct Commonness {
  unsigned char of[256] = {};
  constexpr Commonness() {
    for (int c = 0; c < 256; ++c) {
      unsigned char rank = 10;
      if (c >= 0x21 && c < 0x7F) rank = 80;
      if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) rank = 100;
      for (char p : {'.', ',', '(', ')', '=', '"', '\'', '_', '-'})
        if (c == p) rank = 150;
      if (c >= 'a' && c <= 'z') rank = 200;
      if (c == ' ' || c == '\t' || c == '\n' || c == '\r') rank = 250;
      of[c] = rank;
    }
  }
};
constexpr Commonness kCommonness;
inline unsigned char commonness(unsigned char c) { return kCommonness.of[c]; }

}  // namespace

// Candidates are the places where the needle's two rarest bytes stand, 16 at
// a time; each is compared in full. Where that meets more near misses than the
// haystack is long, a Boyer-Moore search takes over from the first start not
// yet ruled out.
const void* findBytes(const void* haystack, std::size_t length, const void* needle,
                      std::size_t needleLength) {
  const auto* h = static_cast<const unsigned char*>(haystack);
  const auto* n = static_cast<const unsigned char*>(needle);
  if (needleLength == 0) return h;
  if (needleLength > length) return nullptr;
  if (needleLength == 1) return findByte(h, n[0], length);
  std::size_t rare = 0;
  for (std::size_t i = 1; i < needleLength; ++i) {
    if (commonness(n[i]) < commonness(n[rare])) rare = i;
  }
  std::size_t other = rare == 0 ? 1 : 0;
  for (std::size_t i = 0; i < needleLength; ++i) {
    if (i == rare) continue;
    const bool rarer = commonness(n[i]) < commonness(n[other]);
    const bool differs = n[i] != n[rare] && n[other] == n[rare];
    if (rarer || differs) other = i;
  }
  const std::size_t starts = length - needleLength + 1;
  const __m128i a = _mm_set1_epi8(static_cast<char>(n[rare]));
  const __m128i b = _mm_set1_epi8(static_cast<char>(n[other]));
  const std::size_t budget = length + 4096;
  std::size_t work = 0;
  auto candidates = [&](std::size_t at) {
    return _mm_and_si128(_mm_cmpeq_epi8(load(h + at + rare), a),
                         _mm_cmpeq_epi8(load(h + at + other), b));
  };
  // Each candidate of 16 starts is compared in full; the first match is the answer.
  auto compare = [&](std::size_t at, unsigned mask) -> const unsigned char* {
    for (; mask != 0; mask &= mask - 1) {
      const std::size_t candidate = at + static_cast<std::size_t>(__builtin_ctz(mask));
      if (std::memcmp(h + candidate, n, needleLength) == 0) return h + candidate;
      work += needleLength;
    }
    return nullptr;
  };
  std::size_t at = 0;
  // Four blocks of 16 at once: most of them hold no candidate at all.
  for (; at + 64 <= starts && work <= budget; at += 64) {
    const __m128i c0 = candidates(at), c1 = candidates(at + 16);
    const __m128i c2 = candidates(at + 32), c3 = candidates(at + 48);
    if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(c0, c1), _mm_or_si128(c2, c3))) == 0) continue;
    const __m128i blocks[4] = {c0, c1, c2, c3};
    for (std::size_t k = 0; k < 4; ++k) {
      const auto mask = static_cast<unsigned>(_mm_movemask_epi8(blocks[k]));
      if (const unsigned char* hit = compare(at + 16 * k, mask)) return hit;
    }
  }
  for (; at + 16 <= starts && work <= budget; at += 16) {
    if (const unsigned char* hit =
            compare(at, static_cast<unsigned>(_mm_movemask_epi8(candidates(at)))))
      return hit;
  }
  if (work <= budget) {
    // Fewer than 16 starts are left.
    for (; at < starts; ++at) {
      if (std::memcmp(h + at, n, needleLength) == 0) return h + at;
    }
    return nullptr;
  }
  const auto* end = h + length;
  const auto* hit = std::search(h + at, end, std::boyer_moore_searcher(n, n + needleLength));
  return hit == end ? nullptr : hit;
}

}  // namespace qorvex::runtime
