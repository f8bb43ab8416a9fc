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

std::string unbalancedCloser(char closer, std::uint64_t line) {
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

std::optional<std::string> endOfText(char quote, bool inLongString, bool inLongComment,
                                     std::int64_t paren, std::int64_t brace, std::int64_t bracket) {
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

struct Interesting {
  bool table[256] = {};
  constexpr Interesting() {
    for (unsigned char c : std::string_view("\"'(){}[]-")) table[c] = true;
  }
};
constexpr Interesting kInteresting;

// The next byte at or after pos that code gives a meaning to (a quote, a
// bracket or a dash), or n. Sixteen bytes at a time where SSE2 is there: most
// of a Lua file is names, numbers and blanks between such bytes.
inline std::size_t nextInterestingByte(const char* data, std::size_t pos, std::size_t n) {
  if (pos < n && kInteresting.table[static_cast<unsigned char>(data[pos])]) return pos;
#if defined(__SSE2__)
  const __m128i caseBit = _mm_set1_epi8(0x20);
  const __m128i lowBit = _mm_set1_epi8(static_cast<char>(0xFE));
  const __m128i openBrace = _mm_set1_epi8('{');    // '[' | 0x20 == '{'
  const __m128i closeBrace = _mm_set1_epi8('}');   // ']' | 0x20 == '}'
  const __m128i parenthesis = _mm_set1_epi8('(');  // ')' & 0xFE == '('
  const __m128i doubleQuote = _mm_set1_epi8('"');
  const __m128i singleQuote = _mm_set1_epi8('\'');
  const __m128i dash = _mm_set1_epi8('-');
  while (pos + 16 <= n) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + pos));
    const __m128i folded = _mm_or_si128(bytes, caseBit);
    __m128i hits =
        _mm_or_si128(_mm_cmpeq_epi8(folded, openBrace), _mm_cmpeq_epi8(folded, closeBrace));
    hits = _mm_or_si128(hits, _mm_cmpeq_epi8(_mm_and_si128(bytes, lowBit), parenthesis));
    hits = _mm_or_si128(hits, _mm_cmpeq_epi8(bytes, doubleQuote));
    hits = _mm_or_si128(hits, _mm_cmpeq_epi8(bytes, singleQuote));
    hits = _mm_or_si128(hits, _mm_cmpeq_epi8(bytes, dash));
    const int mask = _mm_movemask_epi8(hits);
    if (mask != 0)
      return pos + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    pos += 16;
  }
#endif
  while (pos < n && !kInteresting.table[static_cast<unsigned char>(data[pos])]) ++pos;
  return pos;
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
  char quote = 0;
  bool inLongString = false, inLongComment = false;
  std::size_t closerLength = 0;  // level + 2 of the open long bracket

  while (pos < n) {
    if (inLongString || inLongComment) {
      bool closed = false;
      pos = skipLongBracketBody(text, pos, closerLength, closed);
      if (closed) inLongString = inLongComment = false;
      continue;
    }
    if (quote != 0) {
      bool closed = false;
      pos = skipQuotedBody(data, pos, n, quote, closed);
      if (closed) quote = 0;
      continue;
    }
    // Code: skip the bytes that mean nothing.
    pos = nextInterestingByte(data, pos, n);
    if (pos >= n) break;
    const char c = data[pos];
    switch (c) {
      case '"':
      case '\'': quote = c; break;
      case '(': ++paren; break;
      case '{': ++brace; break;
      case ')':
        if (--paren < 0) return unbalancedCloser(')', lineAt(text, pos));
        break;
      case '}':
        if (--brace < 0) return unbalancedCloser('}', lineAt(text, pos));
        break;
      case ']':
        if (--bracket < 0) return unbalancedCloser(']', lineAt(text, pos));
        break;
      case '[':
        if (const int level = longBracketLevel(text, pos); level >= 0) {
          inLongString = true;
          closerLength = static_cast<std::size_t>(level) + 2;
          pos += closerLength;
          continue;
        }
        ++bracket;
        break;
      case '-':
        if (pos + 1 >= n || data[pos + 1] != '-') break;
        if (const int level = longBracketLevel(text, pos + 2); level >= 0) {
          inLongComment = true;
          closerLength = static_cast<std::size_t>(level) + 2;
          pos += closerLength + 2;
        } else {
          pos = skipLineComment(data, pos + 2, n);
        }
        continue;
    }
    ++pos;
  }
  return endOfText(quote, inLongString, inLongComment, paren, brace, bracket);
}

}  // namespace qorvex
