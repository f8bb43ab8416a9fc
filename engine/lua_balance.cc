#include "lua_balance.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qorvex {
namespace {

constexpr std::size_t kMaxLongBracketLevel = 16;

// Lines are counted lazily: the line of a fault is one more than the line feeds
// before it. An escaped line feed inside a quoted string counts as well, so the
// number is the line an editor shows.
std::uint64_t lineAt(std::string_view text, std::size_t position) {
  return 1 + static_cast<std::uint64_t>(std::count(
                 text.begin(), text.begin() + static_cast<std::ptrdiff_t>(position), '\n'));
}

[[gnu::cold, gnu::noinline]] std::string unbalancedCloser(char closer, std::uint64_t line) {
  std::string message = "Unbalanced '";
  message.push_back(closer);
  message.append("' at line ");
  message.append(std::to_string(line));
  return message;
}

// Number of '=' directly at `from`, counted up to one past the highest level,
// which is all a caller needs to know.
std::size_t equalsRun(std::string_view text, std::size_t from) {
  std::size_t k = 0;
  while (from + k < text.size() && text[from + k] == '=' && k <= kMaxLongBracketLevel) ++k;
  return k;
}

// Level of a long bracket opener "[", k '=', "[" starting at `from`, or -1.
int longBracketLevel(std::string_view text, std::size_t from) {
  if (from >= text.size() || text[from] != '[') return -1;
  std::size_t k = equalsRun(text, from + 1);
  if (k > kMaxLongBracketLevel) return -1;
  std::size_t after = from + 1 + k;
  if (after >= text.size() || text[after] != '[') return -1;
  return static_cast<int>(k);
}

[[gnu::cold, gnu::noinline]] std::optional<std::string> endOfText(char quote, bool inLongString,
                                                                  bool inLongComment,
                                                                  std::int64_t paren,
                                                                  std::int64_t brace,
                                                                  std::int64_t bracket) {
  if (quote != 0) {
    std::string message = "Unterminated string literal (started with ";
    message.push_back(quote);
    message.push_back(')');
    return message;
  }
  if (inLongString) return std::string("Unterminated long string literal ([[...]])");
  if (inLongComment) return std::string("Unterminated long comment (--[[...]])");
  if (paren != 0) return "Unbalanced parentheses: net count " + std::to_string(paren);
  if (brace != 0) return "Unbalanced braces: net count " + std::to_string(brace);
  if (bracket != 0) return "Unbalanced brackets: net count " + std::to_string(bracket);
  return std::nullopt;
}

// What each byte means to code outside strings and comments. The brackets
// that only count (all but '[', which may open a long string) are added
// without a branch on which one it is.
struct ByteClasses {
  bool interesting[256] = {};
  bool counted[256] = {};
  std::int8_t paren[256] = {};
  std::int8_t brace[256] = {};
  std::int8_t bracket[256] = {};
  constexpr ByteClasses() {
    for (unsigned char c : std::string_view("\"'(){}[]-")) interesting[c] = true;
    for (unsigned char c : std::string_view("(){}]")) counted[c] = true;
    paren[static_cast<unsigned char>('(')] = 1;
    paren[static_cast<unsigned char>(')')] = -1;
    brace[static_cast<unsigned char>('{')] = 1;
    brace[static_cast<unsigned char>('}')] = -1;
    bracket[static_cast<unsigned char>(']')] = -1;
  }
};
constexpr ByteClasses kClasses;

constexpr std::size_t kBlock = 64;

#if defined(__SSE2__)
inline std::uint64_t interesting16(const char* p) {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i folded = _mm_or_si128(bytes, _mm_set1_epi8(0x20));
  // '[' | 0x20 == '{', ']' | 0x20 == '}', ')' & 0xFE == '('
  __m128i hits = _mm_or_si128(_mm_cmpeq_epi8(folded, _mm_set1_epi8('{')),
                              _mm_cmpeq_epi8(folded, _mm_set1_epi8('}')));
  hits = _mm_or_si128(hits,
                      _mm_cmpeq_epi8(_mm_and_si128(bytes, _mm_set1_epi8(static_cast<char>(0xFE))),
                                     _mm_set1_epi8('(')));
  hits = _mm_or_si128(hits, _mm_cmpeq_epi8(bytes, _mm_set1_epi8('"')));
  hits = _mm_or_si128(hits, _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\'')));
  hits = _mm_or_si128(hits, _mm_cmpeq_epi8(bytes, _mm_set1_epi8('-')));
  return static_cast<std::uint32_t>(_mm_movemask_epi8(hits));
}
#endif

// Bit i is set when data[from + i] is a byte code gives a meaning to (a
// quote, a bracket or a dash). Most of a Lua file is names, numbers and
// blanks between such bytes, so the loop below visits only these.
inline std::uint64_t interestingBlock(const char* data, std::size_t from, std::size_t n) {
  const char* p = data + from;
  char tail[kBlock] = {};  // a NUL means nothing
  if (n - from < kBlock) {
    std::memcpy(tail, p, n - from);
    p = tail;
  }
#if defined(__SSE2__)
  return interesting16(p) | interesting16(p + 16) << 16 | interesting16(p + 32) << 32 |
         interesting16(p + 48) << 48;
#else
  std::uint64_t mask = 0;
  for (std::size_t i = 0; i < kBlock; ++i)
    mask |= std::uint64_t{kClasses.interesting[static_cast<unsigned char>(p[i])]} << i;
  return mask;
#endif
}

// Inside a quoted string: the next backslash or closing quote at or after pos,
// or n.
inline std::size_t nextStringStop(const char* data, std::size_t pos, std::size_t n, char quote) {
#if defined(__SSE2__)
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i closer = _mm_set1_epi8(quote);
  while (pos + 16 <= n) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + pos));
    const int mask = _mm_movemask_epi8(
        _mm_or_si128(_mm_cmpeq_epi8(bytes, backslash), _mm_cmpeq_epi8(bytes, closer)));
    if (mask != 0)
      return pos + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    pos += 16;
  }
#endif
  while (pos < n && data[pos] != '\\' && data[pos] != quote) ++pos;
  return pos;
}

// Inside a long string or comment: the position just past its closer ("]",
// level '=', "]", of exactly that level), or n when it is not closed.
inline std::size_t skipLongBracketBody(std::string_view text, std::size_t pos,
                                       std::size_t closerLength, bool& closed) {
  const char* data = text.data();
  const std::size_t n = text.size();
  for (;;) {
    const void* hit = std::memchr(data + pos, ']', n - pos);
    if (hit == nullptr) return n;
    pos = static_cast<std::size_t>(static_cast<const char*>(hit) - data);
    if (pos + closerLength <= n && data[pos + closerLength - 1] == ']' &&
        equalsRun(text, pos + 1) >= closerLength - 2) {
      closed = true;
      return pos + closerLength;
    }
    ++pos;
  }
}

// Inside a quoted string: the position just past its closing quote, or n
// when it is not closed. An escaped byte is skipped unexamined.
inline std::size_t skipQuotedBody(const char* data, std::size_t pos, std::size_t n, char quote,
                                  bool& closed) {
  while (pos < n) {
    pos = nextStringStop(data, pos, n, quote);
    if (pos >= n) return n;
    if (data[pos] == '\\') {
      pos += 2;
      continue;
    }
    closed = true;
    return pos + 1;
  }
  return pos;
}

// Just past the line feed that ends a line comment, or n.
inline std::size_t skipLineComment(const char* data, std::size_t pos, std::size_t n) {
  const void* lf = std::memchr(data + pos, '\n', n - pos);
  return lf == nullptr ? n : static_cast<std::size_t>(static_cast<const char*>(lf) - data) + 1;
}

}  // namespace

std::optional<std::string> checkLuaBalance(std::string_view text) {
  const std::size_t n = text.size();
  const char* data = text.data();
  std::int64_t paren = 0, brace = 0, bracket = 0;
  std::size_t pos = 0;

  // Code, a block of 64 bytes at a time. Strings and comments are skipped
  // where they start; they end in code, or at the end of the text.
  while (pos < n) {
    const std::size_t base = pos;
    std::uint64_t mask = interestingBlock(data, base, n);
    pos = std::min(base + kBlock, n);
    while (mask != 0) {
      const std::size_t at = base + static_cast<std::size_t>(__builtin_ctzll(mask));
      mask &= mask - 1;
      const auto c = static_cast<unsigned char>(data[at]);
      if (kClasses.counted[c]) {
        paren += kClasses.paren[c];
        brace += kClasses.brace[c];
        bracket += kClasses.bracket[c];
        if ((paren | brace | bracket) < 0)
          return unbalancedCloser(static_cast<char>(c), lineAt(text, at));
        continue;
      }
      std::size_t next = at + 1;
      bool closed = true;
      if (c == '"' || c == '\'') {
        closed = false;
        next = skipQuotedBody(data, at + 1, n, static_cast<char>(c), closed);
        if (!closed) return endOfText(static_cast<char>(c), false, false, paren, brace, bracket);
      } else if (c == '[') {
        const int level = longBracketLevel(text, at);
        if (level < 0) {
          ++bracket;
          continue;
        }
        const std::size_t closerLength = static_cast<std::size_t>(level) + 2;
        closed = false;
        next = skipLongBracketBody(text, at + closerLength, closerLength, closed);
        if (!closed) return endOfText(0, true, false, paren, brace, bracket);
      } else {  // '-'
        if (at + 1 >= n || data[at + 1] != '-') continue;
        if (const int level = longBracketLevel(text, at + 2); level >= 0) {
          const std::size_t closerLength = static_cast<std::size_t>(level) + 2;
          closed = false;
          next = skipLongBracketBody(text, at + 2 + closerLength, closerLength, closed);
          if (!closed) return endOfText(0, false, true, paren, brace, bracket);
        } else {
          next = skipLineComment(data, at + 2, n);
        }
      }
      // Code again from `next`: within this block, what lies before it is
      // no longer looked at; past it, the next block starts there.
      if (next >= base + kBlock) {
        pos = next;
        break;
      }
      mask &= ~std::uint64_t{0} << (next - base);
    }
  }
  return endOfText(0, false, false, paren, brace, bracket);
}

}  // namespace qorvex
