#include "anchor_match.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "patch_block.h"

namespace qorvex {
namespace {

inline bool isBlankByte(char c) { return c == ' ' || c == '\t'; }
inline bool isSeparator(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

struct SeparatorTable {
  bool table[256] = {};
  constexpr SeparatorTable() {
    table[static_cast<unsigned char>(' ')] = true;
    table[static_cast<unsigned char>('\t')] = true;
    table[static_cast<unsigned char>('\n')] = true;
    table[static_cast<unsigned char>('\r')] = true;
  }
};
constexpr SeparatorTable kSeparators;

}  // namespace

Token tokenAt(std::string_view text, std::size_t pos) {
  const std::size_t n = text.size();
  const char c = text[pos];
  std::size_t end = pos + 1;
  if (isBlankByte(c)) {
    while (end < n && isBlankByte(text[end])) ++end;
    return {TokenKind::Blank, pos, end};
  }
  if (c == '\r') {
    if (end < n && text[end] == '\n') ++end;
    return {TokenKind::LineBreak, pos, end};
  }
  if (c == '\n') return {TokenKind::LineBreak, pos, end};
  while (end < n && !kSeparators.table[static_cast<unsigned char>(text[end])]) ++end;
  return {TokenKind::Word, pos, end};
}

std::vector<Token> tokenize(std::string_view text) {
  std::vector<Token> tokens;
  for (std::size_t pos = 0; pos < text.size();) {
    tokens.push_back(tokenAt(text, pos));
    pos = tokens.back().end;
  }
  return tokens;
}

std::size_t lineOfOffset(std::string_view text, std::size_t offset) {
  std::size_t line = 1;
  for (std::size_t i = 0; i < offset && i < text.size(); ++i) {
    if (text[i] == '\n' || (text[i] == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n')))
      ++line;
  }
  return line;
}

namespace {

// Matches one anchor token at `cursor`; moves the cursor past what it covered.
// A word must be there byte for byte and may be followed by more word bytes.
bool matchForward(std::string_view text, std::string_view anchor, const Token& token,
                  std::size_t& cursor) {
  const std::size_t n = text.size();
  switch (token.kind) {
    case TokenKind::Word: {
      const std::size_t length = token.end - token.start;
      if (n - cursor < length ||
          std::memcmp(text.data() + cursor, anchor.data() + token.start, length) != 0) {
        return false;
      }
      cursor += length;
      return true;
    }
    case TokenKind::Blank:
      if (cursor >= n || !isBlankByte(text[cursor])) return false;
      while (cursor < n && isBlankByte(text[cursor])) ++cursor;
      return true;
    case TokenKind::LineBreak:
      if (cursor >= n) return false;
      if (text[cursor] == '\r') {
        cursor += (cursor + 1 < n && text[cursor + 1] == '\n') ? 2 : 1;
        return true;
      }
      if (text[cursor] == '\n') {
        ++cursor;
        return true;
      }
      return false;
  }
  return false;
}

// The same token, matched as a whole token of the text that ends at `cursor`.
bool matchBackward(std::string_view text, std::string_view anchor, const Token& token,
                   std::size_t& cursor) {
  switch (token.kind) {
    case TokenKind::Word: {
      const std::size_t length = token.end - token.start;
      if (cursor < length) return false;
      const std::size_t start = cursor - length;
      if (std::memcmp(text.data() + start, anchor.data() + token.start, length) != 0) return false;
      if (start > 0 && !isSeparator(text[start - 1])) return false;
      cursor = start;
      return true;
    }
    case TokenKind::Blank:
      if (cursor == 0 || !isBlankByte(text[cursor - 1])) return false;
      while (cursor > 0 && isBlankByte(text[cursor - 1])) --cursor;
      return true;
    case TokenKind::LineBreak:
      if (cursor == 0) return false;
      if (text[cursor - 1] == '\n') {
        cursor -= (cursor >= 2 && text[cursor - 2] == '\r') ? 2 : 1;
        return true;
      }
      if (text[cursor - 1] == '\r') {
        --cursor;
        return true;
      }
      return false;
  }
  return false;
}

struct MatchTally {
  std::size_t count = 0;
  std::size_t start = 0;
  std::size_t end = 0;
  // When set, the starts of the first `limit` matches are kept too.
  std::vector<std::size_t>* starts = nullptr;
  std::size_t limit = 0;

  void add(std::size_t matchStart, std::size_t matchEnd) {
    if (++count == 1) {
      start = matchStart;
      end = matchEnd;
    }
    if (starts != nullptr && starts->size() < limit) starts->push_back(matchStart);
  }

  AnchorSearch result(AnchorEnd at) const {
    AnchorSearch search;
    search.count = count;
    if (count == 0) return search;
    if (count > 1) {
      search.kind = AnchorSearch::Ambiguous;
      return search;
    }
    search.kind = AnchorSearch::Unique;
    search.offset = at == AnchorEnd::Start ? start : end;
    return search;
  }
};

bool sameToken(std::string_view text, const Token& t, std::string_view anchor, const Token& a) {
  if (t.kind != a.kind) return false;
  if (t.kind != TokenKind::Word) return true;
  const std::size_t length = a.end - a.start;
  return t.end - t.start == length &&
         std::memcmp(text.data() + t.start, anchor.data() + a.start, length) == 0;
}

// The anchor's last token: a word may end inside a longer word of the text.
bool lastTokenMatches(std::string_view text, const Token& t, std::string_view anchor,
                      const Token& a, std::size_t& matchEnd) {
  if (t.kind != a.kind) return false;
  if (t.kind != TokenKind::Word) {
    matchEnd = t.end;
    return true;
  }
  const std::size_t length = a.end - a.start;
  if (t.end - t.start < length ||
      std::memcmp(text.data() + t.start, anchor.data() + a.start, length) != 0) {
    return false;
  }
  matchEnd = t.start + length;
  return true;
}

// Knuth-Morris-Pratt over the token stream: every anchor token but the last must
// equal a text token, the last is checked on the token after. Linear in the
// text whatever the anchor.
MatchTally findByTokenStream(std::string_view text, std::string_view anchor,
                             const std::vector<Token>& tokens, MatchTally tally = {}) {
  const std::size_t m = tokens.size();
  const Token& last = tokens.back();
  const std::size_t prefix = m - 1;
  std::vector<std::size_t> failure(prefix, 0);
  for (std::size_t i = 1, k = 0; i < prefix; ++i) {
    while (k > 0 && !sameToken(anchor, tokens[i], anchor, tokens[k])) k = failure[k - 1];
    if (sameToken(anchor, tokens[i], anchor, tokens[k])) ++k;
    failure[i] = k;
  }
  std::vector<std::size_t> starts(m, 0);  // ring of the last m token starts
  std::size_t q = 0;
  bool pending = false;
  std::size_t index = 0;
  std::size_t matchEnd = 0;
  for (std::size_t pos = 0; pos < text.size(); ++index) {
    const Token t = tokenAt(text, pos);
    pos = t.end;
    starts[index % m] = t.start;
    if (prefix == 0) {
      if (lastTokenMatches(text, t, anchor, last, matchEnd)) tally.add(t.start, matchEnd);
      continue;
    }
    if (pending) {
      pending = false;
      if (lastTokenMatches(text, t, anchor, last, matchEnd)) {
        tally.add(starts[(index - prefix) % m], matchEnd);
      }
    }
    while (q > 0 && !sameToken(text, t, anchor, tokens[q])) q = failure[q - 1];
    if (sameToken(text, t, anchor, tokens[q])) ++q;
    if (q == prefix) {
      pending = true;
      q = failure[q - 1];
    }
  }
  return tally;
}

// Finds the anchor's longest word with memmem and grows each hit into a match
// backwards and forwards. Fast on real files; gives up (returns false) as soon
// as the hits have cost more than a linear amount of work, leaving it to the
// token stream. The work of a hit is what it reads: the text it walked over in
// both directions, one step per anchor token, and a word compare that can fail
// after as many bytes as the longest word has.
bool findByLongestWord(std::string_view text, std::string_view anchor,
                       const std::vector<Token>& tokens, MatchTally& tally) {
  std::size_t pivot = tokens.size();
  std::size_t pivotLength = 0;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    const std::size_t length = tokens[i].end - tokens[i].start;
    if (tokens[i].kind == TokenKind::Word && length > pivotLength) {
      pivot = i;
      pivotLength = length;
    }
  }
  if (pivot == tokens.size()) return false;
  const std::string_view word = anchor.substr(tokens[pivot].start, pivotLength);
  const bool pivotIsLast = pivot + 1 == tokens.size();
  const std::size_t budget = text.size() + 4096;
  std::size_t work = 0;

  for (std::size_t hit = findBytes(text, word); hit != std::string_view::npos;) {
    if (hit > 0 && !isSeparator(text[hit - 1])) {
      // Inside a word: no token starts before the next separator. These skips
      // only move forward, so together they read the text once at most.
      std::size_t next = hit;
      while (next < text.size() && !kSeparators.table[static_cast<unsigned char>(text[next])])
        ++next;
      hit = findBytes(text, word, next);
      continue;
    }
    const std::size_t after = hit + pivotLength;
    if (!pivotIsLast && after < text.size() && !isSeparator(text[after])) {
      hit = findBytes(text, word, after);
      continue;
    }

    std::size_t begin = hit;
    bool matched = true;
    for (std::size_t i = pivot; i-- > 0;) {
      if (!matchBackward(text, anchor, tokens[i], begin)) {
        matched = false;
        break;
      }
    }
    std::size_t cursor = after;
    for (std::size_t i = pivot + 1; matched && i < tokens.size(); ++i) {
      matched = matchForward(text, anchor, tokens[i], cursor);
    }
    work += (hit - begin) + (cursor - after) + tokens.size() + pivotLength;
    if (work > budget) return false;
    if (matched) tally.add(begin, cursor);
    // The next token start lies past this word.
    hit = findBytes(text, word, after);
  }
  return true;
}

}  // namespace

AnchorSearch findAnchor(std::string_view text, std::string_view anchor, AnchorEnd at) {
  const std::vector<Token> tokens = tokenize(anchor);
  if (tokens.empty()) return {};
  MatchTally tally;
  if (!findByLongestWord(text, anchor, tokens, tally)) {
    tally = findByTokenStream(text, anchor, tokens);
  }
  return tally.result(at);
}

std::vector<std::size_t> findAnchorStarts(std::string_view text, std::string_view anchor,
                                          std::size_t limit) {
  std::vector<std::size_t> starts;
  const std::vector<Token> tokens = tokenize(anchor);
  if (tokens.empty()) return starts;
  // The token stream meets the matches in text order.
  MatchTally tally;
  tally.starts = &starts;
  tally.limit = limit;
  (void)findByTokenStream(text, anchor, tokens, tally);
  return starts;
}

CrLayout crLayoutOf(std::string_view text) {
  CrLayout layout = CrLayout::None;
  const char* end = text.data() + text.size();
  for (const char* p = text.data(); p < end;) {
    const void* cr = std::memchr(p, '\r', static_cast<std::size_t>(end - p));
    if (cr == nullptr) break;
    const char* at = static_cast<const char*>(cr);
    if (at + 1 == end || at[1] != '\n') return CrLayout::Lone;
    layout = CrLayout::BeforeLf;
    p = at + 2;
  }
  return layout;
}

namespace {

std::string withoutCr(std::string_view text) {
  std::string stripped;
  stripped.reserve(text.size());
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) {
    const void* cr = std::memchr(p, '\r', static_cast<std::size_t>(end - p));
    const char* stop = cr == nullptr ? end : static_cast<const char*>(cr);
    stripped.append(p, stop);
    p = cr == nullptr ? end : stop + 1;
  }
  return stripped;
}

// The text without its CRs, searched a window at a time, so that no copy of
// the whole text is made. Consecutive windows overlap by the needle's length
// less one, so that no occurrence falls between two of them.
bool containsInStrippedWindows(std::string_view text, std::string_view bareNeedle) {
  const std::size_t keep = bareNeedle.size() - 1;
  const std::size_t fresh = std::max<std::size_t>(std::size_t{1} << 16, 2 * bareNeedle.size());
  std::string window;
  window.reserve(keep + fresh);
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) {
    if (window.size() > keep) window.erase(0, window.size() - keep);
    const std::size_t limit = window.size() + fresh;
    while (p < end && window.size() < limit) {
      const std::size_t room = std::min(limit - window.size(), static_cast<std::size_t>(end - p));
      const void* cr = std::memchr(p, '\r', room);
      const char* stop = cr == nullptr ? p + room : static_cast<const char*>(cr);
      window.append(p, stop);
      p = cr == nullptr ? stop : stop + 1;
    }
    if (findBytes(window, bareNeedle) != std::string_view::npos) return true;
  }
  return false;
}

// For a text whose every CR stands before an LF: no CR falls inside a line of
// the needle, so the needle's longest line occurs in the text as it is. Each
// occurrence is grown into the whole needle, backwards and forwards, passing
// over the text's CRs. Returns nullopt once the growing has cost more than a
// linear amount of work.
std::optional<bool> containsAroundLongestLine(std::string_view text, std::string_view bareNeedle) {
  std::size_t pivotStart = 0, pivotLength = 0;
  for (std::size_t lineStart = 0; lineStart <= bareNeedle.size();) {
    std::size_t lineEnd = bareNeedle.find('\n', lineStart);
    if (lineEnd == std::string_view::npos) lineEnd = bareNeedle.size();
    if (lineEnd - lineStart > pivotLength) {
      pivotStart = lineStart;
      pivotLength = lineEnd - lineStart;
    }
    lineStart = lineEnd + 1;
  }
  if (pivotLength == 0) return std::nullopt;
  const std::string_view pivot = bareNeedle.substr(pivotStart, pivotLength);
  const std::size_t budget = text.size() + 4096;
  std::size_t work = 0;
  for (std::size_t hit = findBytes(text, pivot); hit != std::string_view::npos;
       hit = findBytes(text, pivot, hit + 1)) {
    std::size_t i = hit;
    std::size_t j = pivotStart;
    while (j > 0) {
      while (i > 0 && text[i - 1] == '\r') --i;
      if (i == 0 || text[i - 1] != bareNeedle[j - 1]) break;
      --i;
      --j;
    }
    bool matched = j == 0;
    std::size_t k = hit + pivotLength;
    for (j = pivotStart + pivotLength; matched && j < bareNeedle.size(); ++j, ++k) {
      while (k < text.size() && text[k] == '\r') ++k;
      matched = k < text.size() && text[k] == bareNeedle[j];
    }
    if (matched) return true;
    work += (hit - i) + (k - hit) + 1;
    if (work > budget) return std::nullopt;
  }
  return false;
}

}  // namespace

bool containsIgnoringCr(std::string_view text, std::string_view needle) {
  return containsIgnoringCr(text, needle, crLayoutOf(text));
}

bool containsIgnoringCr(std::string_view text, std::string_view needle, CrLayout layout) {
  const std::string bareNeedle = withoutCr(needle);
  if (bareNeedle.empty()) return true;
  if (text.empty()) return false;
  switch (layout) {
    case CrLayout::None: return findBytes(text, bareNeedle) != std::string_view::npos;
    case CrLayout::BeforeLf:
      if (std::optional<bool> found = containsAroundLongestLine(text, bareNeedle)) return *found;
      break;
    case CrLayout::Lone: break;
  }
  return containsInStrippedWindows(text, bareNeedle);
}

bool equalIgnoringCr(std::string_view a, std::string_view b) {
  std::size_t i = 0, j = 0;
  for (;;) {
    while (i < a.size() && a[i] == '\r') ++i;
    while (j < b.size() && b[j] == '\r') ++j;
    if (i == a.size() || j == b.size()) return i == a.size() && j == b.size();
    if (a[i] != b[j]) return false;
    ++i;
    ++j;
  }
}

}  // namespace qorvex
