// The place in a file that an anchor fits best, for the people who keep the
// manifest: when a game update moves or edits an anchor's text, this finds
// where it went and what changed, token by token.
//
// The place is found on words, as a person would find it: a local alignment
// (Smith-Waterman) of the anchor's words against the file's words, each
// matched word scoring, each changed, missing or extra word costing. Blanks
// and line ends, which drift most and say least about where text went, are
// left to the second step: the alignment of every anchor token, blanks and
// line ends included, against the lines of that place, which makes the diff.
// The search is linear in the file: a column of the anchor's length per file
// word, skipped outright while nothing is aligned and the word is not one of
// the anchor's.
#include "nearest_text.h"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

#include "anchor_match.h"

namespace qorvex {
namespace {

constexpr int kOther = -1;  // a file word that equals no anchor word
// A matched word outweighs a changed one by more than a missing or extra
// word: an anchor whose words are all there with a line inserted beats a
// place where two of its words differ.
constexpr int kMatch = 3;
constexpr int kChange = -2;
constexpr int kGap = -1;

std::string_view textOf(std::string_view text, const Token& token) {
  return text.substr(token.start, token.end - token.start);
}

// The anchor's tokens, its words numbered (equal words share a number). The
// last token, when it is a word, may end inside a longer word of the file,
// as it may for the matcher.
class AnchorWords {
 public:
  explicit AnchorWords(std::string_view anchor) : anchor_(anchor), tokens_(tokenize(anchor)) {
    for (std::size_t t = 0; t < tokens_.size(); ++t) {
      if (tokens_[t].kind != TokenKind::Word) continue;
      auto [it, added] =
          ids_.try_emplace(textOf(anchor, tokens_[t]), static_cast<int>(ids_.size()));
      words_.push_back(it->second);
      wordTokens_.push_back(t);
    }
    if (!tokens_.empty() && tokens_.back().kind == TokenKind::Word) {
      lastWord_ = textOf(anchor, tokens_.back());
    }
  }

  int idOf(std::string_view word) const {
    auto it = ids_.find(word);
    return it == ids_.end() ? kOther : it->second;
  }
  // True when the anchor's word `i` (among its words) matches a file word.
  bool wordMatches(std::size_t i, int id, bool endsInside) const {
    return words_[i] == id || (endsInside && i + 1 == words_.size());
  }
  // True when the file word ends the anchor's last word inside it.
  bool endsInside(std::string_view word) const {
    return !lastWord_.empty() && word.size() > lastWord_.size() && word.starts_with(lastWord_);
  }
  bool sameToken(std::size_t a, std::string_view text, const Token& token) const {
    if (tokens_[a].kind != token.kind) return false;
    if (token.kind != TokenKind::Word) return true;
    const std::string_view word = textOf(text, token);
    return word == textOf(anchor_, tokens_[a]) || (a + 1 == tokens_.size() && endsInside(word));
  }

  const std::vector<Token>& tokens() const { return tokens_; }
  const std::vector<int>& words() const { return words_; }
  // The token index of the anchor's word `i`.
  std::size_t tokenOfWord(std::size_t i) const { return wordTokens_[i]; }

 private:
  std::string_view anchor_;
  std::vector<Token> tokens_;
  std::vector<int> words_;  // ids of the anchor's words, in order
  std::vector<std::size_t> wordTokens_;
  std::unordered_map<std::string_view, int> ids_;  // views into the anchor, which outlives this
  std::string_view lastWord_;
};

struct FileWord {
  int id;
  bool endsInside;
  Token token;
};

FileWord fileWord(std::string_view text, const Token& token, const AnchorWords& anchor) {
  const std::string_view word = textOf(text, token);
  return {anchor.idOf(word), anchor.endsInside(word), token};
}

// One column of the alignment: the scores of the anchor's words against the
// file up to one word. Returns the row of the column's best score.
int nextColumn(const AnchorWords& anchor, const FileWord& word, const std::vector<int>& previous,
               std::vector<int>& column, std::size_t& bestRow) {
  const std::size_t m = anchor.words().size();
  column[0] = 0;
  int best = 0;
  for (std::size_t i = 1; i <= m; ++i) {
    const int diagonal =
        previous[i - 1] + (anchor.wordMatches(i - 1, word.id, word.endsInside) ? kMatch : kChange);
    const int score = std::max({0, diagonal, column[i - 1] + kGap, previous[i] + kGap});
    column[i] = score;
    if (score > best) {
      best = score;
      bestRow = i;
    }
  }
  return best;
}

struct BestEnd {
  int score = 0;
  std::size_t word = 0;  // index of the file word where the best alignment ends
};

BestEnd searchWords(std::string_view text, const AnchorWords& anchor) {
  const std::size_t m = anchor.words().size();
  std::vector<int> previous(m + 1, 0);
  std::vector<int> column(m + 1, 0);
  bool idle = true;  // every score of `previous` is 0
  BestEnd best;
  std::size_t index = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    const Token token = tokenAt(text, pos);
    pos = token.end;
    if (token.kind != TokenKind::Word) continue;
    const FileWord word = fileWord(text, token, anchor);
    // Nothing aligned and a word the anchor lacks: the column stays 0.
    if (idle && word.id == kOther && !word.endsInside) {
      ++index;
      continue;
    }
    std::size_t row = 0;
    const int score = nextColumn(anchor, word, previous, column, row);
    if (score > best.score) best = {score, index};  // ties go to the first place
    idle = score == 0;
    previous.swap(column);
    ++index;
  }
  return best;
}

// The file words [first, last] by index, with their tokens.
std::vector<FileWord> wordsBetween(std::string_view text, const AnchorWords& anchor,
                                   std::size_t first, std::size_t last) {
  std::vector<FileWord> words;
  std::size_t index = 0;
  for (std::size_t pos = 0; pos < text.size() && index <= last;) {
    const Token token = tokenAt(text, pos);
    pos = token.end;
    if (token.kind != TokenKind::Word) continue;
    if (index >= first) words.push_back(fileWord(text, token, anchor));
    ++index;
  }
  return words;
}

// A word of the anchor paired with a word of the file, the same or changed.
struct WordPair {
  std::size_t anchorWord;
  std::size_t fileWord;  // index into the words given to alignWords
};

// The pairs of the best local alignment that ends with words.back().
std::vector<WordPair> alignWords(const AnchorWords& anchor, const std::vector<FileWord>& words) {
  const std::size_t m = anchor.words().size();
  const std::size_t w = words.size();
  std::vector<int> score((m + 1) * (w + 1), 0);
  auto at = [&](std::size_t i, std::size_t k) -> int& { return score[i * (w + 1) + k]; };
  auto pairScore = [&](std::size_t i, std::size_t k) {
    return anchor.wordMatches(i - 1, words[k - 1].id, words[k - 1].endsInside) ? kMatch : kChange;
  };
  for (std::size_t k = 1; k <= w; ++k) {
    for (std::size_t i = 1; i <= m; ++i) {
      at(i, k) = std::max(
          {0, at(i - 1, k - 1) + pairScore(i, k), at(i, k - 1) + kGap, at(i - 1, k) + kGap});
    }
  }
  std::size_t i = 1;
  for (std::size_t r = 1; r <= m; ++r) {
    if (at(r, w) > at(i, w)) i = r;
  }
  std::vector<WordPair> pairs;
  for (std::size_t k = w; i > 0 && k > 0 && at(i, k) > 0;) {
    if (at(i, k) == at(i - 1, k - 1) + pairScore(i, k)) {
      pairs.push_back({--i, --k});
    } else if (at(i, k) == at(i, k - 1) + kGap) {
      --k;
    } else {
      --i;
    }
  }
  std::reverse(pairs.begin(), pairs.end());
  return pairs;
}

std::string visible(std::string_view text, const Token& token) {
  switch (token.kind) {
    case TokenKind::Word: return std::string(textOf(text, token));
    case TokenKind::LineBreak: return "\\n";
    case TokenKind::Blank: {
      std::string out;
      for (std::size_t i = token.start; i < token.end; ++i)
        out += text[i] == '\t' ? "\\t" : "\xC2\xB7";
      return out;
    }
  }
  return {};
}

enum class Step { Match, Change, Delete, Insert };

struct Steps {
  std::vector<Step> kind;
  std::vector<std::size_t> anchorToken;
  std::vector<std::size_t> fileToken;
  void add(Step step, std::size_t a, std::size_t f) {
    kind.push_back(step);
    anchorToken.push_back(a);
    fileToken.push_back(f);
  }
};

// Aligns anchor tokens [a0, a1) with window tokens [f0, f1) by fewest tokens
// inserted, deleted or changed. With `freeStart` the alignment may begin
// anywhere in the window's range, with `freeEnd` end anywhere: file tokens
// skipped there lie outside the place and are no part of the diff.
void alignSegment(const AnchorWords& anchor, std::string_view text,
                  const std::vector<Token>& window, std::size_t a0, std::size_t a1, std::size_t f0,
                  std::size_t f1, bool freeStart, bool freeEnd, Steps& steps) {
  const std::size_t m = a1 - a0;
  const std::size_t w = f1 - f0;
  std::vector<std::size_t> cost((m + 1) * (w + 1));
  auto at = [&](std::size_t i, std::size_t k) -> std::size_t& { return cost[i * (w + 1) + k]; };
  auto same = [&](std::size_t i, std::size_t k) {
    return anchor.sameToken(a0 + i - 1, text, window[f0 + k - 1]);
  };
  for (std::size_t k = 0; k <= w; ++k) at(0, k) = freeStart ? 0 : k;
  for (std::size_t i = 1; i <= m; ++i) {
    at(i, 0) = i;
    for (std::size_t k = 1; k <= w; ++k) {
      at(i, k) =
          std::min({at(i - 1, k - 1) + (same(i, k) ? 0 : 1), at(i - 1, k) + 1, at(i, k - 1) + 1});
    }
  }
  std::size_t k = w;
  if (freeEnd) {
    // Among equally good ends the latest: a changed last token shows as
    // changed rather than missing.
    k = 0;
    for (std::size_t c = 1; c <= w; ++c) {
      if (at(m, c) <= at(m, k)) k = c;
    }
  }
  Steps backwards;
  std::size_t i = m;
  // Back from the end, preferring matches.
  while (i > 0 || (k > 0 && !freeStart)) {
    if (i > 0 && k > 0 && at(i, k) == at(i - 1, k - 1) + (same(i, k) ? 0 : 1)) {
      backwards.add(same(i, k) ? Step::Match : Step::Change, a0 + i - 1, f0 + k - 1);
      --i;
      --k;
    } else if (i > 0 && at(i, k) == at(i - 1, k) + 1) {
      backwards.add(Step::Delete, a0 + i - 1, f0 + k);
      --i;
    } else {
      backwards.add(Step::Insert, a0 + i, f0 + k - 1);
      --k;
    }
  }
  for (std::size_t s = backwards.kind.size(); s-- > 0;) {
    steps.add(backwards.kind[s], backwards.anchorToken[s], backwards.fileToken[s]);
  }
}

// The tokens of the whole lines from `linesBefore` lines above the one
// holding byte `from` to `linesAfter` lines below the one holding byte `to`,
// with the line end of the last.
std::vector<Token> lineTokens(std::string_view text, std::size_t from, std::size_t to,
                              std::size_t linesBefore, std::size_t linesAfter) {
  std::size_t begin = from;
  for (std::size_t lines = 0;; ++lines) {
    while (begin > 0 && text[begin - 1] != '\n' && text[begin - 1] != '\r') --begin;
    if (lines == linesBefore || begin == 0) break;
    --begin;
    if (begin > 0 && text[begin] == '\n' && text[begin - 1] == '\r') --begin;
  }
  std::vector<Token> tokens;
  std::size_t after = 0;
  for (std::size_t pos = begin; pos < text.size();) {
    const Token token = tokenAt(text, pos);
    pos = token.end;
    tokens.push_back(token);
    if (token.kind == TokenKind::LineBreak && token.start >= to && after++ == linesAfter) break;
  }
  return tokens;
}

// The line ends among the anchor's tokens [first, last).
std::size_t lineEndsBetween(const std::vector<Token>& tokens, std::size_t first, std::size_t last) {
  return static_cast<std::size_t>(
      std::count_if(tokens.begin() + static_cast<std::ptrdiff_t>(first),
                    tokens.begin() + static_cast<std::ptrdiff_t>(last),
                    [](const Token& t) { return t.kind == TokenKind::LineBreak; }));
}

// The place: the lines of the best alignment of the anchor's words (`pairs`
// holds the word pairs of that alignment, `around` the file's words they
// index), or the first lines of the file when no word of the anchor is
// anywhere in it.
std::vector<Token> nearestLines(std::string_view text, const AnchorWords& words,
                                std::vector<WordPair>& pairs, std::vector<FileWord>& around) {
  const std::vector<Token>& anchorTokens = words.tokens();
  const std::size_t m = anchorTokens.size();
  const BestEnd best = words.words().empty() ? BestEnd{} : searchWords(text, words);
  if (best.score > 0) {
    // A positive alignment spans at most kMatch + 1 file words per anchor word.
    const std::size_t reach = (kMatch + 1) * words.words().size();
    around = wordsBetween(text, words, best.word >= reach ? best.word - reach : 0, best.word);
    pairs = alignWords(words, around);
  }
  if (pairs.empty()) return lineTokens(text, 0, 0, 0, lineEndsBetween(anchorTokens, 0, m));
  // With room for the anchor's lines before its first paired word and after
  // its last, which may have changed beyond recognition.
  const std::size_t firstToken = words.tokenOfWord(pairs.front().anchorWord);
  const std::size_t lastToken = words.tokenOfWord(pairs.back().anchorWord);
  return lineTokens(
      text, around[pairs.front().fileWord].token.start, around[pairs.back().fileWord].token.start,
      lineEndsBetween(anchorTokens, 0, firstToken), lineEndsBetween(anchorTokens, lastToken, m));
}

// Every anchor token against those lines: the word pairs are fixed, and the
// tokens between them are aligned by fewest tokens inserted, deleted or
// changed.
Steps alignTokens(std::string_view text, const AnchorWords& words, const std::vector<Token>& window,
                  const std::vector<WordPair>& pairs, const std::vector<FileWord>& around) {
  auto windowIndexOf = [&](const Token& token) {
    return static_cast<std::size_t>(
        std::find_if(window.begin(), window.end(),
                     [&](const Token& t) { return t.start == token.start; }) -
        window.begin());
  };
  Steps steps;
  std::size_t a = 0;
  std::size_t f = 0;
  for (const WordPair& pair : pairs) {
    const std::size_t anchorToken = words.tokenOfWord(pair.anchorWord);
    const std::size_t fileToken = windowIndexOf(around[pair.fileWord].token);
    alignSegment(words, text, window, a, anchorToken, f, fileToken, &pair == &pairs.front(), false,
                 steps);
    steps.add(words.sameToken(anchorToken, text, window[fileToken]) ? Step::Match : Step::Change,
              anchorToken, fileToken);
    a = anchorToken + 1;
    f = fileToken + 1;
  }
  alignSegment(words, text, window, a, words.tokens().size(), f, window.size(), pairs.empty(), true,
               steps);
  return steps;
}

// The diff: unchanged tokens as they are, with at most three of them on each
// side of a change; [-anchor-] for what the file lacks, {+file+} for what it
// has instead or in addition, a whole stretch of changes at once.
std::string diffText(std::string_view text, std::string_view anchor,
                     const std::vector<Token>& anchorTokens, const std::vector<Token>& window,
                     const Steps& steps) {
  std::vector<std::string> pieces;
  std::vector<bool> changed;
  for (std::size_t s = 0; s < steps.kind.size();) {
    if (steps.kind[s] == Step::Match) {
      pieces.push_back(visible(anchor, anchorTokens[steps.anchorToken[s]]));
      changed.push_back(false);
      ++s;
      continue;
    }
    std::string mine;
    std::string theirs;
    for (; s < steps.kind.size() && steps.kind[s] != Step::Match; ++s) {
      if (steps.kind[s] != Step::Insert)
        mine += visible(anchor, anchorTokens[steps.anchorToken[s]]);
      if (steps.kind[s] != Step::Delete) theirs += visible(text, window[steps.fileToken[s]]);
    }
    pieces.push_back((mine.empty() ? "" : "[-" + mine + "-]") +
                     (theirs.empty() ? "" : "{+" + theirs + "+}"));
    changed.push_back(true);
  }
  constexpr std::size_t kContext = 3;
  std::string diff;
  std::size_t lastShown = 0;
  bool anyShown = false;
  for (std::size_t s = 0; s < pieces.size(); ++s) {
    bool near = false;
    for (std::size_t t = s >= kContext ? s - kContext : 0;
         t <= std::min(pieces.size() - 1, s + kContext); ++t) {
      near = near || changed[t];
    }
    if (!near) continue;
    if (anyShown ? s > lastShown + 1 : s > 0) diff += "\xE2\x80\xA6";
    diff += pieces[s];
    lastShown = s;
    anyShown = true;
  }
  if (anyShown && lastShown + 1 < pieces.size()) diff += "\xE2\x80\xA6";
  return diff;
}

}  // namespace

std::optional<NearestText> findNearestText(std::string_view text, std::string_view anchor) {
  const AnchorWords words(anchor);
  const std::vector<Token>& anchorTokens = words.tokens();
  if (anchorTokens.empty() || text.empty()) return std::nullopt;

  std::vector<WordPair> pairs;
  std::vector<FileWord> around;
  const std::vector<Token> window = nearestLines(text, words, pairs, around);
  const Steps steps = alignTokens(text, words, window, pairs, around);

  NearestText nearest;
  nearest.anchorTokens = anchorTokens.size();
  std::size_t startOffset = window.empty() ? 0 : window[0].start;
  bool started = false;
  for (std::size_t s = 0; s < steps.kind.size(); ++s) {
    if (steps.kind[s] == Step::Match) ++nearest.matchedTokens;
    if (steps.kind[s] != Step::Delete && !started) {
      startOffset = window[steps.fileToken[s]].start;
      started = true;
    }
  }
  nearest.line = lineOfOffset(text, startOffset);
  nearest.diff = diffText(text, anchor, anchorTokens, window, steps);
  return nearest;
}

}  // namespace qorvex
