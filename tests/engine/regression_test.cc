// Inputs that the fuzzers and the benchmarks turned up, kept so that the fault
// they found stays fixed.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "anchor_match.h"
#include "lua_balance.h"
#include "patch_block.h"
#include "reference_text.h"

namespace qorvex {
namespace {

std::string describe(const AnchorSearch& search) {
  switch (search.kind) {
    case AnchorSearch::NotFound: return "notFound";
    case AnchorSearch::Unique: return "unique@" + std::to_string(search.offset);
    case AnchorSearch::Ambiguous: return "ambiguous x" + std::to_string(search.count);
  }
  return "?";
}

void expectSameAsReference(std::string_view text, std::string_view anchor) {
  for (AnchorEnd at : {AnchorEnd::Start, AnchorEnd::End}) {
    EXPECT_EQ(describe(findAnchor(text, anchor, at)),
              describe(findAnchorReference(text, anchor, at)))
        << "anchor of " << anchor.size() << " bytes in " << text.size() << " bytes";
  }
}

// anchor_match_fuzz: an empty text given as a view without storage made
// containsIgnoringCr hand a null pointer to memchr (undefined behaviour,
// reported by UBSan's nonnull-attribute check).
TEST(Regression, ContainsIgnoringCrOnAnEmptyViewWithoutStorage) {
  const std::string_view nothing;
  ASSERT_EQ(nothing.data(), nullptr);
  EXPECT_FALSE(containsIgnoringCr(nothing, "x"));
  EXPECT_FALSE(containsIgnoringCr(nothing, "\rx\r"));
  EXPECT_TRUE(containsIgnoringCr(nothing, "\r\r"));
  EXPECT_TRUE(containsIgnoringCr(nothing, nothing));
  EXPECT_TRUE(containsIgnoringCr("a\rb", nothing));
  EXPECT_EQ(containsIgnoringCr(nothing, "x"), containsIgnoringCrReference(nothing, "x"));
  EXPECT_EQ(checkLuaBalance(nothing), std::nullopt);
  std::uint32_t removed = 0;
  EXPECT_EQ(removeFirstPatchBlock(nothing, "M", removed), "");
  EXPECT_EQ(removed, 0u);
  EXPECT_FALSE(findPatchBlock(nothing, "M"));
  expectSameAsReference(nothing, "x");
  expectSameAsReference("x", nothing);
}

// engine_bench FindAnchor_SparseWords: the anchor's words far apart in long
// blank runs made every hit walk thousands of blanks, so the time grew with
// the square of the size. Hits now pay for the bytes they read and hand over
// to the token stream when that passes the size of the text; the answer must
// not change on either side of that switch.
TEST(Regression, SparseWordsInLongBlankRunsGiveTheReferenceAnswer) {
  for (std::size_t gap : {1u, 7u, 300u, 4096u}) {
    for (std::size_t words : {1u, 2u, 5u, 40u}) {
      std::string text;
      while (text.size() < 64 * 1024) text.append("x").append(gap, ' ');
      std::string anchor;
      for (std::size_t i = 0; i < words; ++i) anchor += "x ";
      expectSameAsReference(text, anchor + "y");  // fails at its last word everywhere
      expectSameAsReference(text, anchor + "x");  // matches at almost every word
      text += "y";
      expectSameAsReference(text, anchor + "y");  // one match at the very end
    }
  }
}

// The longest word of the anchor at every byte of the text, inside longer
// words, with a few real token starts among them.
TEST(Regression, LongestWordInsideLongerWordsGivesTheReferenceAnswer) {
  std::string text(20000, 'a');
  text[5000] = ' ';
  text[12000] = '\n';
  text[12001] = '\t';
  for (std::string anchor : {"aaaa", "aaaa a", "a aaaa", "\taaa", "x aaaa", "aaaa\n\taa"}) {
    expectSameAsReference(text, anchor);
  }
}

// A long anchor whose words hit everywhere goes over the work budget after a
// few hits; the token stream then counts every overlapping match.
TEST(Regression, OverlappingMatchesAfterTheBudgetRunsOut) {
  std::string text;
  for (int i = 0; i < 30000; ++i) text += "ab ab\n";
  std::string anchor;
  for (int i = 0; i < 300; ++i) anchor += "ab ab\n";
  expectSameAsReference(text, anchor + "ab");
  expectSameAsReference(text, anchor + "ab ab\nabc");
}

}  // namespace
}  // namespace qorvex
