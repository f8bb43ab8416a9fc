#include "reference_text.h"

#include <cstdint>
#include <vector>

namespace qorvex {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// One anchor token at `cursor`: a word byte for byte (it may run on into
// more word bytes), a blank run as one or more blanks, a line end as CR LF, LF
// or CR.
bool matchToken(std::string_view text, std::string_view anchor, const Token& token,
                std::size_t& cursor) {
  switch (token.kind) {
    case TokenKind::Word: {
      const std::string_view word = anchor.substr(token.start, token.end - token.start);
      if (text.substr(cursor, word.size()) != word) return false;
      cursor += word.size();
      return true;
    }
    case TokenKind::Blank:
      if (cursor >= text.size() || !isBlank(text[cursor])) return false;
      while (cursor < text.size() && isBlank(text[cursor])) ++cursor;
      return true;
    case TokenKind::LineBreak:
      if (text.substr(cursor, 2) == "\r\n") {
        cursor += 2;
        return true;
      }
      if (cursor < text.size() && (text[cursor] == '\r' || text[cursor] == '\n')) {
        ++cursor;
        return true;
      }
      return false;
  }
  return false;
}

constexpr std::size_t kMaxLongBracketLevel = 16;

std::optional<std::string> unbalancedCloser(char closer, std::uint64_t line) {
  return std::string("Unbalanced '") + closer + "' at line " + std::to_string(line);
}

std::optional<std::string> endOfText(char quote, bool inLongString, bool inLongComment,
                                     std::int64_t paren, std::int64_t brace, std::int64_t bracket) {
  if (quote != 0) return std::string("Unterminated string literal (started with ") + quote + ")";
  if (inLongString) return std::string("Unterminated long string literal ([[...]])");
  if (inLongComment) return std::string("Unterminated long comment (--[[...]])");
  if (paren != 0) return "Unbalanced parentheses: net count " + std::to_string(paren);
  if (brace != 0) return "Unbalanced braces: net count " + std::to_string(brace);
  if (bracket != 0) return "Unbalanced brackets: net count " + std::to_string(bracket);
  return std::nullopt;
}

}  // namespace

AnchorSearch findAnchorReference(std::string_view text, std::string_view anchor, AnchorEnd at) {
  const std::vector<Token> anchorTokens = tokenize(anchor);
  AnchorSearch search;
  if (anchorTokens.empty()) return search;
  for (const Token& candidate : tokenize(text)) {
    std::size_t cursor = candidate.start;
    bool matched = true;
    for (const Token& token : anchorTokens) {
      if (!matchToken(text, anchor, token, cursor)) {
        matched = false;
        break;
      }
    }
    if (!matched) continue;
    if (++search.count == 1) search.offset = at == AnchorEnd::Start ? candidate.start : cursor;
  }
  if (search.count == 1) search.kind = AnchorSearch::Unique;
  if (search.count > 1) {
    search.kind = AnchorSearch::Ambiguous;
    search.offset = 0;
  }
  return search;
}

bool containsIgnoringCrReference(std::string_view text, std::string_view needle) {
  for (std::size_t start = 0; start <= text.size(); ++start) {
    std::size_t i = start, j = 0;
    for (;;) {
      while (j < needle.size() && needle[j] == '\r') ++j;
      if (j == needle.size()) return true;
      while (i < text.size() && text[i] == '\r') ++i;
      if (i == text.size() || text[i] != needle[j]) break;
      ++i;
      ++j;
    }
  }
  return false;
}

std::optional<std::string> checkLuaBalanceReference(std::string_view text) {
  static const std::string kClosers[kMaxLongBracketLevel + 1] = {"]]",
                                                                 "]=]",
                                                                 "]==]",
                                                                 "]===]",
                                                                 "]====]",
                                                                 "]=====]",
                                                                 "]======]",
                                                                 "]=======]",
                                                                 "]========]",
                                                                 "]=========]",
                                                                 "]==========]",
                                                                 "]===========]",
                                                                 "]============]",
                                                                 "]=============]",
                                                                 "]==============]",
                                                                 "]===============]",
                                                                 "]================]"};
  const std::size_t n = text.size();
  std::uint64_t line = 1;
  std::int64_t paren = 0, brace = 0, bracket = 0;
  char quote = 0;
  bool inLineComment = false, inLongString = false, inLongComment = false;
  const std::string* closer = nullptr;
  std::size_t pos = 0;
  while (pos < n) {
    char c = text[pos];
    if (c == '\n') ++line;
    if (inLineComment) {
      ++pos;
      if (c == '\n') inLineComment = false;
    } else if (inLongString || inLongComment) {
      if (c == ']' && pos + closer->size() <= n && text.substr(pos, closer->size()) == *closer) {
        pos += closer->size();
        inLongString = inLongComment = false;
        closer = nullptr;
      } else {
        ++pos;
      }
    } else if (quote != 0) {
      if (c == '\\') {
        if (pos + 1 < n && text[pos + 1] == '\n') ++line;
        pos += 2;
      } else {
        ++pos;
        if (c == quote) quote = 0;
      }
    } else if (c == '"' || c == '\'') {
      quote = c;
      ++pos;
    } else if (c == '(' || c == '{') {
      (c == '(' ? paren : brace) += 1;
      ++pos;
    } else if (c == ')' || c == '}' || c == ']') {
      std::int64_t& depth = c == ')' ? paren : c == '}' ? brace : bracket;
      if (--depth < 0) return unbalancedCloser(c, line);
      ++pos;
    } else if (c == '[') {
      std::size_t k = 0;
      while (pos + 1 + k < n && text[pos + 1 + k] == '=') ++k;
      if (pos + 1 + k < n && text[pos + 1 + k] == '[' && k <= kMaxLongBracketLevel) {
        inLongString = true;
        closer = &kClosers[k];
        pos += k + 2;
      } else {
        ++bracket;
        ++pos;
      }
    } else if (c == '-' && pos + 1 < n && text[pos + 1] == '-') {
      std::size_t k = 0;
      bool longComment = false;
      if (pos + 3 < n && text[pos + 2] == '[') {
        while (pos + 3 + k < n && text[pos + 3 + k] == '=') ++k;
        longComment = pos + 3 + k < n && text[pos + 3 + k] == '[' && k <= kMaxLongBracketLevel;
      }
      if (longComment) {
        inLongComment = true;
        closer = &kClosers[k];
        pos += k + 4;
      } else {
        inLineComment = true;
        pos += 2;
      }
    } else {
      ++pos;
    }
  }
  return endOfText(quote, inLongString, inLongComment, paren, brace, bracket);
}

}  // namespace qorvex
