#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace qorvex {

enum class AnchorEnd { Start, End };

struct AnchorSearch {
  enum Kind { NotFound, Unique, Ambiguous } kind = NotFound;
  std::size_t offset = 0;  // Unique: the start or end of the match
  std::size_t count = 0;   // number of matches
};

// Whitespace- and line-end-tolerant search: anchor and text are compared as
// sequences of words, blank runs and line ends; a match starts only where a
// token of the text starts, and the anchor's last word may end inside a word.
AnchorSearch findAnchor(std::string_view text, std::string_view anchor, AnchorEnd at);

// Where every match starts (at most `limit` of them, in text order).
std::vector<std::size_t> findAnchorStarts(std::string_view text, std::string_view anchor,
                                          std::size_t limit);

// The tokens the matcher compares: words, blank runs (spaces and tabs) and
// line ends (CR LF, LF or a lone CR).
enum class TokenKind : unsigned char { Word, Blank, LineBreak };
struct Token {
  TokenKind kind;
  std::size_t start;
  std::size_t end;
};
// The token that starts at pos (pos < text.size()).
Token tokenAt(std::string_view text, std::size_t pos);
std::vector<Token> tokenize(std::string_view text);
// 1 + the number of line ends before `offset`, counted as the matcher counts
// them.
std::size_t lineOfOffset(std::string_view text, std::size_t offset);

// Where a text's CRs stand: none, each before an LF, or some alone.
enum class CrLayout { None, BeforeLf, Lone };
CrLayout crLayoutOf(std::string_view text);

// True when needle, with every CR removed, occurs in text with every CR
// removed. No copy of the text is made. `layout` must be the text's layout
// or a later one in the list (Lone is always right, only slower).
bool containsIgnoringCr(std::string_view text, std::string_view needle);
bool containsIgnoringCr(std::string_view text, std::string_view needle, CrLayout layout);

// Equal when the byte sequences agree after every CR is removed from both.
bool equalIgnoringCr(std::string_view a, std::string_view b);

}  // namespace qorvex
