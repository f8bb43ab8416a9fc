#include "anchor_match.h"
#include "reference_text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace qorvex {
namespace {

std::string describe(const AnchorSearch& s) {
  switch (s.kind) {
    case AnchorSearch::NotFound: return "notFound";
    case AnchorSearch::Unique: return "unique@" + std::to_string(s.offset);
    case AnchorSearch::Ambiguous: return "ambiguous x" + std::to_string(s.count);
  }
  return "?";
}

struct Case {
  std::string text;
  std::string anchor;
  std::string end;    // result asking for the end offset
  std::string start;  // result asking for the start offset
};

TEST(FindAnchor, TokenRules) {
  const Case cases[] = {
      {"local a = 1\n", "", "notFound", "notFound"},
      {"foobar", "bar", "notFound", "notFound"},
      {"foo bar", "bar", "unique@7", "unique@4"},
      // The last word may end inside a longer word.
      {"x = foobar", "x = foo", "unique@7", "unique@0"},
      // A word in the middle must be whole.
      {"foox bar", "foo bar", "notFound", "notFound"},
      // Any blank run matches any blank; any line end matches any line end.
      {"if a then\r\n  b()\r\nend", "if a then\n\tb()\nend", "unique@21", "unique@0"},
      {"a\t \tb", "a b", "unique@5", "unique@0"},
      {"a\rb", "a\nb", "unique@3", "unique@0"},
      // An extra empty line or missing whitespace does not match.
      {"a\n\nb", "a\nb", "notFound", "notFound"},
      {"ab", "a b", "notFound", "notFound"},
      // A leading blank matches the whole indentation, from its first byte.
      {"x\n\t\t[\"pMap\"] = {", "\t[\"pMap\"] = {", "unique@16", "unique@2"},
      {"end\nend\n", "end", "ambiguous x2", "ambiguous x2"},
      // Overlapping matches count once per start.
      {"a a a", "a a", "ambiguous x2", "ambiguous x2"},
      // Control bytes are word bytes.
      {"a\x0b b", "a b", "notFound", "notFound"},
      {"a\x0b b", "a\x0b b", "unique@4", "unique@0"},
      // CR LF is one line end, a lone CR is another.
      {"a\r\n\rb", "a\n\nb", "unique@5", "unique@0"},
      {"a\r\nb", "a\n\nb", "notFound", "notFound"},
      {"   \n", " \n", "unique@4", "unique@0"},
      {"\n\n\n", "\n\n", "ambiguous x2", "ambiguous x2"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(describe(findAnchor(c.text, c.anchor, AnchorEnd::End)), c.end)
        << "text: " << c.text << " anchor: " << c.anchor;
    EXPECT_EQ(describe(findAnchor(c.text, c.anchor, AnchorEnd::Start)), c.start)
        << "text: " << c.text << " anchor: " << c.anchor;
    EXPECT_EQ(describe(findAnchorReference(c.text, c.anchor, AnchorEnd::End)), c.end)
        << "reference, text: " << c.text << " anchor: " << c.anchor;
  }
}

std::string randomText(std::mt19937& random, const char* alphabet, std::size_t alphabetSize,
                       int maxLength) {
  std::string text;
  const int length = static_cast<int>(random() % static_cast<unsigned>(maxLength + 1));
  for (int i = 0; i < length; ++i) text.push_back(alphabet[random() % alphabetSize]);
  return text;
}

// findAnchor takes shortcuts (a longest-word prefilter, a token stream matcher);
// on any input it must agree with the plain search from every token start.
TEST(FindAnchor, FastPathsAgreeWithReferenceOnRandomInput) {
  const char alphabet[] = "ab \t\r\n";
  std::mt19937 random(7);
  for (int round = 0; round < 30000; ++round) {
    std::string text = randomText(random, alphabet, sizeof alphabet - 1, 30);
    std::string anchor = randomText(random, alphabet, sizeof alphabet - 1, 6);
    if (round % 3 == 0 && text.size() > 4) {
      std::size_t from = random() % (text.size() - 2);
      anchor = text.substr(from, 1 + random() % (text.size() - from - 1));
    }
    for (AnchorEnd at : {AnchorEnd::Start, AnchorEnd::End}) {
      AnchorSearch fast = findAnchor(text, anchor, at);
      AnchorSearch slow = findAnchorReference(text, anchor, at);
      ASSERT_EQ(describe(fast), describe(slow))
          << "text: [" << text << "] anchor: [" << anchor << "]";
      ASSERT_EQ(fast.count, slow.count);
    }
  }
}

TEST(FindAnchor, ManyHitsOfTheLongestWordStillGiveTheRightCount) {
  // Every "a" is a hit of the anchor's longest word; the prefilter gives up and
  // the token stream finishes the count.
  std::string text;
  for (int i = 0; i < 200000; ++i) text += "a ";
  EXPECT_EQ(describe(findAnchor(text, "a a a", AnchorEnd::End)), "ambiguous x199998");
  text += "b";
  EXPECT_EQ(describe(findAnchor(text, "a a b", AnchorEnd::Start)),
            "unique@" + std::to_string(text.size() - 5));
}

TEST(ContainsIgnoringCr, CrIsInvisibleOnBothSides) {
  struct C {
    std::string text, needle;
    bool expected;
  };
  const C cases[] = {
      {"a\r\nb", "a\nb", true},   {"a\nb", "a\r\nb", true}, {"a\r\r\nb", "ab", false},
      {"a\r\r\nb", "a\nb", true}, {"abc", "\r\r", true},    {"ab", "abc", false},
      {"x\rabc", "xa", true},     {"", "a", false},
  };
  for (const C& c : cases) {
    EXPECT_EQ(containsIgnoringCr(c.text, c.needle), c.expected) << c.text << " / " << c.needle;
    EXPECT_EQ(containsIgnoringCrReference(c.text, c.needle), c.expected)
        << c.text << " / " << c.needle;
  }
  std::mt19937 random(11);
  const char alphabet[] = "ab\r\n";
  for (int round = 0; round < 20000; ++round) {
    std::string text = randomText(random, alphabet, sizeof alphabet - 1, 20);
    std::string needle = randomText(random, alphabet, sizeof alphabet - 1, 5);
    if (needle.empty()) continue;
    ASSERT_EQ(containsIgnoringCr(text, needle), containsIgnoringCrReference(text, needle))
        << text << " / " << needle;
  }
}

TEST(EqualIgnoringCr, LineEndsDoNotMatter) {
  EXPECT_TRUE(equalIgnoringCr("a\nb\n", "a\r\nb\r\n"));
  EXPECT_TRUE(equalIgnoringCr("", "\r\r"));
  EXPECT_FALSE(equalIgnoringCr("a\nb", "a\nc"));
  EXPECT_FALSE(equalIgnoringCr("a\nb", "a\nb\n"));
}

}  // namespace
}  // namespace qorvex
