#pragma once

#include <cstddef>
#include <string_view>

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

// The straightforward token-by-token search from every token start; kept as
// the reference that tests compare findAnchor with.
AnchorSearch findAnchorReference(std::string_view text, std::string_view anchor, AnchorEnd at);

// True when needle, with every CR removed, occurs in text with every CR removed.
bool containsIgnoringCr(std::string_view text, std::string_view needle);
bool containsIgnoringCrReference(std::string_view text, std::string_view needle);

// Equal when the byte sequences agree after every CR is removed from both.
bool equalIgnoringCr(std::string_view a, std::string_view b);

}  // namespace qorvex
