#include "patch_block.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace qorvex {
namespace {

TEST(PatchBlock, LinesAndFraming) {
  EXPECT_EQ(formatBeginLine("QORVEX_PATCH:REQUIRE"), "-- QORVEX_PATCH_BEGIN[QORVEX_PATCH:REQUIRE]");
  EXPECT_EQ(formatEndLine("QORVEX_PATCH:REQUIRE"), "-- QORVEX_PATCH_END[QORVEX_PATCH:REQUIRE]");
  EXPECT_EQ(buildPatchBlock("M", ""), "\r\n-- QORVEX_PATCH_BEGIN[M]\r\n-- QORVEX_PATCH_END[M]\r\n");
  EXPECT_EQ(buildPatchBlock("M", "a\nb"),
            "\r\n-- QORVEX_PATCH_BEGIN[M]\r\na\r\nb\r\n-- QORVEX_PATCH_END[M]\r\n");
  EXPECT_EQ(normalizeBlockBody("a\r\nb\n"), "a\r\nb\r\n");
  EXPECT_EQ(normalizeBlockBody("a\rb"), "a\rb\r\n");
  EXPECT_EQ(normalizeBlockBody("a\r\r\n"), "a\r\r\n");
  EXPECT_EQ(normalizeBlockBody("\n"), "\r\n");
  EXPECT_EQ(normalizeBlockBody(""), "");
}

TEST(PatchBlock, DialogMarkerFromResourceName) {
  EXPECT_EQ(dialogBlockMarker("pQORVEX_block.txt"), "DLG_BLOCK:pQORVEX_block");
  EXPECT_EQ(dialogBlockMarker("dir\\sub/panel.block.txt"), "DLG_BLOCK:panel.block");
  EXPECT_EQ(dialogBlockMarker("noext"), "DLG_BLOCK:noext");
  EXPECT_EQ(dialogBlockMarker("dir\\.hidden"), "DLG_BLOCK:dir\\.hidden");
  EXPECT_EQ(dialogBlockMarker(""), "DLG_BLOCK:");
}

TEST(PatchBlock, RemovalEdgeCases) {
  std::uint32_t removed = 0;
  const std::string begin = "-- QORVEX_PATCH_BEGIN[M]", end = "-- QORVEX_PATCH_END[M]";
  // BEGIN without END: present, but nothing is removed.
  EXPECT_TRUE(findPatchBlock("x\n" + begin + "\ny", "M"));
  EXPECT_EQ(removeFirstPatchBlock("x\n" + begin + "\ny", "M", removed), "x\n" + begin + "\ny");
  // END only before BEGIN.
  EXPECT_EQ(removeFirstPatchBlock(end + "\n" + begin, "M", removed), end + "\n" + begin);
  EXPECT_EQ(removed, 0u);
  // Two blocks: one per call.
  std::string two = "a\n" + begin + "\n1\n" + end + "\nb\n" + begin + "\n2\n" + end + "\nc";
  std::string once = removeFirstPatchBlock(two, "M", removed);
  EXPECT_EQ(once, "ab\n" + begin + "\n2\n" + end + "\nc");
  EXPECT_EQ(removeFirstPatchBlock(once, "M", removed), "abc");
  EXPECT_EQ(removed, 2u);
  // A block of another marker inside goes with it; prefixes of markers never match.
  std::string nested = "x" + begin + "\n" + buildPatchBlock("M2", "y") + end + "z";
  EXPECT_EQ(removeFirstPatchBlock(nested, "M", removed), "xz");
  EXPECT_FALSE(
      findPatchBlock(buildPatchBlock("QORVEX_PATCH:RENAME_GROUP", ""), "QORVEX_PATCH:RENAME"));
  EXPECT_FALSE(
      findPatchBlock(buildPatchBlock("QORVEX_PATCH:RENAME", ""), "QORVEX_PATCH:RENAME_GROUP"));
  // At the very start and the very end.
  EXPECT_EQ(removeFirstPatchBlock(begin + "\r\n" + end, "M", removed), "");
  EXPECT_EQ(removeFirstPatchBlock("q\n" + begin + end + "\nr", "M", removed), "qr");
  EXPECT_EQ(removed, 5u);
}

// Inserting a built block anywhere and removing it gives the text back, byte
// for byte, whatever the line ends around it.
TEST(PatchBlock, RoundTripAtEveryPosition) {
  std::mt19937 random(3);
  const char alphabet[] = "ab\r\n -[]";
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    const int length = static_cast<int>(random() % 24);
    for (int i = 0; i < length; ++i) text.push_back(alphabet[random() % (sizeof alphabet - 1)]);
    std::string body;
    const int bodyLength = static_cast<int>(random() % 8);
    for (int i = 0; i < bodyLength; ++i) body.push_back(alphabet[random() % (sizeof alphabet - 1)]);
    for (std::size_t p = 0; p <= text.size(); ++p) {
      std::string patched =
          text.substr(0, p) + buildPatchBlock("QORVEX_PATCH:X", body) + text.substr(p);
      std::uint32_t removed = 0;
      ASSERT_EQ(removeFirstPatchBlock(patched, "QORVEX_PATCH:X", removed), text)
          << "text [" << text << "] at " << p << " body [" << body << "]";
      ASSERT_EQ(removed, 1u);
      ASSERT_TRUE(eraseFirstPatchBlock(patched, "QORVEX_PATCH:X"));
      ASSERT_EQ(patched, text);
      ASSERT_FALSE(eraseFirstPatchBlock(patched, "QORVEX_PATCH:X"));
    }
  }
}

}  // namespace
}  // namespace qorvex
