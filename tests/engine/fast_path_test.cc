// The fast scans against straightforward versions of the same rules, on
// random input shaped to reach their special paths: 64-byte blocks for the
// balance scanner, the work budget of the anchor prefilter, line-by-line
// copying of block bodies.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "anchor_match.h"
#include "lua_balance.h"
#include "patch_block.h"
#include "reference_text.h"
#include "working_copy.h"

namespace qorvex {
namespace {

std::string randomFrom(std::mt19937& random, std::string_view alphabet, std::size_t length) {
  std::string text;
  text.reserve(length);
  for (std::size_t i = 0; i < length; ++i) text.push_back(alphabet[random() % alphabet.size()]);
  return text;
}

// The body rule spelled out byte by byte: CR LF first becomes LF, then every
// LF becomes CR LF; a final CR LF is ensured for a non-empty result.
std::string normalizeBlockBodyByteByByte(std::string_view text) {
  std::string lf;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    lf.push_back(text[i]);
  }
  std::string body;
  for (char c : lf) {
    if (c == '\n') body.push_back('\r');
    body.push_back(c);
  }
  if (!body.empty() && !body.ends_with("\r\n")) body.append("\r\n");
  return body;
}

TEST(FastPath, NormalizedBodyFollowsTheRuleOnRandomText) {
  std::mt19937 random(5);
  for (const std::string text :
       {"", "\r", "\n", "\r\n", "\r\r\n", "\n\r", "a\r", "a\rb", "\r\n\r\n"}) {
    EXPECT_EQ(normalizeBlockBody(text), normalizeBlockBodyByteByByte(text)) << text;
  }
  for (int i = 0; i < 20000; ++i) {
    const std::string text = randomFrom(random, "ab\r\n\r\n", random() % 40);
    ASSERT_EQ(normalizeBlockBody(text), normalizeBlockBodyByteByByte(text)) << text;
  }
}

// Every interesting byte at every place of a 64-byte block, across the
// boundary between two blocks and in the short block at the end, in code and
// inside strings and comments that began in an earlier block.
TEST(FastPath, BalanceScannerAgreesAtEveryPlaceOfItsBlocks) {
  const std::string symbols = "\"'(){}[]-\\\n=";
  std::vector<std::size_t> lengths;
  for (std::size_t length = 1; length <= 72; ++length) lengths.push_back(length);
  for (std::size_t length = 120; length <= 136; ++length) lengths.push_back(length);
  for (std::size_t length : lengths) {
    for (std::size_t at = 0; at < length; ++at) {
      for (char symbol : symbols) {
        for (std::string_view frame : {"", "x = '", "x = \"", "f(", "--[["}) {
          std::string text(frame);
          text.append(length, 'a');
          text[frame.size() + at] = symbol;
          ASSERT_EQ(checkLuaBalance(text), checkLuaBalanceReference(text))
              << "length " << length << " at " << at << " symbol " << symbol << " frame " << frame;
          text.append("')\"]}");
          ASSERT_EQ(checkLuaBalance(text), checkLuaBalanceReference(text)) << text;
        }
      }
    }
  }
}

TEST(FastPath, BalanceScannerAgreesOnRandomLuaLikeText) {
  std::mt19937 random(17);
  for (int i = 0; i < 3000; ++i) {
    // Long stretches of plain bytes, so the 16-byte steps run, with symbols
    // between them.
    std::string text;
    while (text.size() < 600) {
      text += randomFrom(random, "abc   \t\n", random() % 40);
      text += randomFrom(random, "\"'(){}[]-=\\\n", 1 + random() % 3);
    }
    ASSERT_EQ(checkLuaBalance(text), checkLuaBalanceReference(text)) << text;
  }
}

// Long needles are looked for by their last bytes first; near misses of every
// kind must still give the first occurrence that a plain search gives.
TEST(FastPath, LongNeedleSearchGivesTheFirstOccurrence) {
  std::mt19937 random(31);
  for (int i = 0; i < 3000; ++i) {
    const std::size_t needleLength = 200 + random() % 500;
    std::string needle = randomFrom(random, "ab", needleLength);
    std::string text;
    while (text.size() < 4000 + random() % 4000) {
      std::string piece = needle;
      // A copy that differs in one byte, or is cut short, or is whole.
      switch (random() % 4) {
        case 0: piece[random() % piece.size()] ^= 1; break;
        case 1: piece.resize(random() % piece.size()); break;
        case 2: break;
        default: piece = randomFrom(random, "abc", 1 + random() % 50);
      }
      text += piece;
    }
    const std::size_t from = random() % 100;
    ASSERT_EQ(findBytes(text, needle, from), std::string_view(text).find(needle, from))
        << "needle of " << needle.size() << " bytes from " << from;
  }
  // Every byte the same but the last: the probe's near misses use up the
  // budget and the linear search takes over.
  const std::string text(300000, 'a');
  const std::string run(5000, 'a');
  const std::string endsInB = std::string(run).append("b");
  const std::string startsWithB = std::string("b").append(run);
  const std::string startsWithX = std::string("x").append(run);
  EXPECT_EQ(findBytes(text, endsInB), std::string::npos);
  EXPECT_EQ(findBytes(std::string(text).append("b"), endsInB), text.size() - 5000);
  EXPECT_EQ(findBytes(text, startsWithB), std::string::npos);
  EXPECT_EQ(findBytes(std::string("x").append(text), startsWithX), 0u);
  EXPECT_EQ(findBytes(text, std::string(5000, 'a'), 7), 7u);
  EXPECT_EQ(findBytes(text, std::string(5000, 'a'), text.size() - 4999), std::string::npos);
  EXPECT_EQ(findBytes(text, std::string(5000, 'a'), text.size() + 1), std::string::npos);
}

// Anchors whose words hit often enough to run out of the prefilter's budget
// part way through, so both the prefilter and the token stream give answers.
TEST(FastPath, AnchorSearchAgreesAcrossTheWorkBudget) {
  std::mt19937 random(23);
  for (int i = 0; i < 400; ++i) {
    const std::string text = randomFrom(random, "ab  \t\n\r", 2000 + random() % 6000);
    std::string anchor = randomFrom(random, "ab  \t\n", 1 + random() % 12);
    if (random() % 4 == 0) anchor = text.substr(random() % 1000, 1 + random() % 200);
    for (AnchorEnd at : {AnchorEnd::Start, AnchorEnd::End}) {
      const AnchorSearch fast = findAnchor(text, anchor, at);
      const AnchorSearch slow = findAnchorReference(text, anchor, at);
      ASSERT_EQ(fast.kind, slow.kind) << "anchor [" << anchor << "]";
      if (fast.kind == AnchorSearch::Unique) {
        ASSERT_EQ(fast.offset, slow.offset);
      } else if (fast.kind == AnchorSearch::Ambiguous) {
        ASSERT_EQ(fast.count, slow.count);
      }
    }
  }
}

// Pieces that texts and needles are made of: CR LF pairs keep a text on the
// path for texts without lone CRs, a bare CR sends it to the windowed one.
std::string randomPieces(std::mt19937& random, const std::vector<std::string>& pieces,
                         std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) text += pieces[random() % pieces.size()];
  return text;
}

TEST(FastPath, CrBlindSearchAgreesOnEveryPath) {
  std::mt19937 random(31);
  const std::vector<std::string> paired = {"a", "b", "ab", "\n", "\r\n"};
  const std::vector<std::string> lone = {"a", "b", "\n", "\r\n", "\r"};
  for (int i = 0; i < 20000; ++i) {
    const bool withLoneCr = i % 2 == 1;
    const std::string text = randomPieces(random, withLoneCr ? lone : paired, random() % 30);
    const std::string needle = randomPieces(random, lone, 1 + random() % 6);
    const bool expected = containsIgnoringCrReference(text, needle);
    bool hasLoneCr = false;
    for (std::size_t k = 0; k < text.size(); ++k) {
      hasLoneCr |= text[k] == '\r' && (k + 1 == text.size() || text[k + 1] != '\n');
    }
    ASSERT_EQ(crLayoutOf(text) == CrLayout::Lone, hasLoneCr) << "[" << text << "]";
    ASSERT_EQ(containsIgnoringCr(text, needle), expected) << "[" << text << "] [" << needle << "]";
    // A later layout than the text's own is always allowed.
    ASSERT_EQ(containsIgnoringCr(text, needle, CrLayout::Lone), expected);
  }

  // The windowed path, with the needle across the edge of a window.
  std::string big;
  while (big.size() < 200000) big += "line of code\r";
  const std::string needle = "qv\nneedle\r\nacross";
  for (std::size_t at :
       {std::size_t{65530}, std::size_t{65536}, std::size_t{65540}, std::size_t{131070}}) {
    std::string text = big;
    text.insert(at, "qv\r\nneedle\nacross");
    EXPECT_TRUE(containsIgnoringCr(text, needle)) << at;
    text[at + 5] = 'N';
    EXPECT_FALSE(containsIgnoringCr(text, needle)) << at;
  }

  // Lines of the needle met over and over, so that growing them uses up the
  // budget and the windowed search answers.
  std::string repeated;
  for (int i = 0; i < 60000; ++i) repeated += "ab\r\n";
  std::string almost;
  for (int i = 0; i < 500; ++i) almost += "ab\n";
  EXPECT_FALSE(containsIgnoringCr(repeated, almost + "ac"));
  EXPECT_TRUE(containsIgnoringCr(repeated + "ac", almost + "ac"));
}

// A working copy answers as a search of its whole text would, whatever the
// blocks put in: CRs at a block's edge may leave a CR without its LF.
TEST(FastPath, WorkingCopyAnswersAsTheWholeTextWould) {
  std::mt19937 random(37);
  const std::vector<std::string> pieces = {"a",    "b",  "\n",
                                           "\r\n", "\r", "-- QORVEX_PATCH_BEGIN[m]"};
  const std::vector<std::string> paired = {"a", "b", "\n", "\r\n"};
  for (int i = 0; i < 3000; ++i) {
    const std::string start = randomPieces(random, i % 3 == 0 ? pieces : paired, random() % 20);
    WorkingCopy working(start, 64);
    for (int step = 0; step < 4; ++step) {
      const std::string block =
          randomPieces(random, i % 2 == 0 ? pieces : paired, 1 + random() % 5);
      working.insert(random() % (working.text().size() + 1), block);
      for (int probe = 0; probe < 4; ++probe) {
        const std::string needle = randomPieces(random, paired, 1 + random() % 4);
        ASSERT_EQ(working.containsIgnoringCr(needle),
                  containsIgnoringCrReference(working.text(), needle))
            << "[" << working.text() << "] [" << needle << "]";
      }
      ASSERT_EQ(working.hasBeginLine("m"),
                working.text().find("-- QORVEX_PATCH_BEGIN[m]") != std::string::npos);
    }
  }
}

}  // namespace
}  // namespace qorvex
