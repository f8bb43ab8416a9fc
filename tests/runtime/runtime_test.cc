// The allocator and byte functions that the musl build of qorvex-patch puts
// in place of the C library's, checked here against glibc's.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "runtime.h"

namespace rt = qorvex::runtime;

namespace {

std::size_t offsetOf(const void* hit, const std::string& text) {
  return hit == nullptr ? std::string::npos
                        : static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
}

TEST(MuslRuntime, SearchesAgreeWithTheStringLibrary) {
  std::mt19937 random(7);
  // Small alphabets make near misses; the needle is cut from the text or made
  // up, and each search starts at every offset around a 16-byte step.
  for (const std::string alphabet : {"ab", "ab \n", "-- QORVEX_BEGIN()\t", "xyz\x80\xff"}) {
    for (int round = 0; round < 300; ++round) {
      std::string text(random() % 300, ' ');
      for (char& c : text) c = alphabet[random() % alphabet.size()];
      std::string needle(1 + random() % 24, ' ');
      for (char& c : needle) c = alphabet[random() % alphabet.size()];
      if (round % 2 == 0 && text.size() > needle.size()) {
        needle = text.substr(random() % (text.size() - needle.size()), needle.size());
      }
      for (std::size_t from = 0; from <= std::min<std::size_t>(text.size(), 40); ++from) {
        const std::string_view rest(text.data() + from, text.size() - from);
        const std::size_t want = std::string_view(text).find(needle, from);
        ASSERT_EQ(
            offsetOf(rt::findBytes(rest.data(), rest.size(), needle.data(), needle.size()), text),
            want)
            << "text '" << text << "' needle '" << needle << "' from " << from;
        ASSERT_EQ(offsetOf(rt::findByte(rest.data(), needle[0], rest.size()), text),
                  std::string_view(text).find(needle[0], from));
      }
    }
  }
}

TEST(MuslRuntime, SearchStaysRightWhenNearMissesHandItToBoyerMoore) {
  // Every place is a candidate of the 16-byte filter and fails late.
  const std::string text = std::string(200000, 'a') + "b" + std::string(50, 'a');
  const std::string needle = std::string(300, 'a') + "b";
  EXPECT_EQ(offsetOf(rt::findBytes(text.data(), text.size(), needle.data(), needle.size()), text),
            200000u - 300u);
  const std::string absent = std::string(300, 'a') + "c";
  EXPECT_EQ(rt::findBytes(text.data(), text.size(), absent.data(), absent.size()), nullptr);
}

TEST(MuslRuntime, CopiesBytesLikeMemcpy) {
  std::vector<unsigned char> source(400);
  for (std::size_t i = 0; i < source.size(); ++i)
    source[i] = static_cast<unsigned char>(i * 13 + 5);
  for (std::size_t length = 0; length <= 150; ++length) {
    for (std::size_t offset = 0; offset < 17; ++offset) {
      std::vector<unsigned char> ours(200, 0xEE), theirs(200, 0xEE);
      rt::copyBytes(ours.data() + offset, source.data() + offset * 3, length);
      std::memcpy(theirs.data() + offset, source.data() + offset * 3, length);
      ASSERT_EQ(ours, theirs) << "length " << length << " offset " << offset;
    }
  }
}

TEST(MuslRuntime, MovesOverlappingBytesLikeMemmove) {
  for (std::size_t length = 0; length <= 70; ++length) {
    for (int shift = -20; shift <= 20; ++shift) {
      std::vector<unsigned char> ours(120), theirs(120);
      for (std::size_t i = 0; i < ours.size(); ++i)
        ours[i] = theirs[i] = static_cast<unsigned char>(i * 7 + 1);
      const std::size_t from = 30, to = static_cast<std::size_t>(30 + shift);
      rt::moveBytes(ours.data() + to, ours.data() + from, length);
      std::memmove(theirs.data() + to, theirs.data() + from, length);
      ASSERT_EQ(ours, theirs) << "length " << length << " shift " << shift;
    }
  }
}

TEST(MuslRuntime, AllocatorKeepsBlocksApartAndReusesFreedOnes) {
  std::mt19937 random(11);
  struct Block {
    unsigned char* p;
    std::size_t size;
    unsigned char fill;
  };
  std::vector<Block> live;
  const std::size_t sizes[] = {0, 1, 15, 16, 17, 100, 4096, 70000, 262144, 262145, 3 << 20};
  for (int step = 0; step < 3000; ++step) {
    if (!live.empty() && random() % 3 == 0) {
      const std::size_t i = random() % live.size();
      for (std::size_t k = 0; k < live[i].size; ++k)
        ASSERT_EQ(live[i].p[k], live[i].fill) << "block overwritten";
      rt::release(live[i].p);
      live.erase(live.begin() + static_cast<long>(i));
      continue;
    }
    const std::size_t size = sizes[random() % std::size(sizes)];
    auto* p = static_cast<unsigned char*>(rt::allocate(size));
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(reinterpret_cast<std::uintptr_t>(p) % 16, 0u);
    ASSERT_GE(rt::usableSize(p), size);
    const auto fill = static_cast<unsigned char>(step);
    std::memset(p, fill, size);
    live.push_back({p, size, fill});
  }
  for (const Block& b : live) {
    for (std::size_t k = 0; k < b.size; ++k) ASSERT_EQ(b.p[k], b.fill);
    rt::release(b.p);
  }
  // A freed block is handed out again for its class.
  void* first = rt::allocate(40);
  rt::release(first);
  EXPECT_EQ(rt::allocate(33), first);
}

TEST(MuslRuntime, AlignedZeroedAndResizedBlocks) {
  for (std::size_t alignment : {1, 8, 16, 32, 64, 4096, 65536}) {
    void* p = rt::allocateAligned(alignment, 1000);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % alignment, 0u) << alignment;
    EXPECT_GE(rt::usableSize(p), 1000u);
    std::memset(p, 0xAB, 1000);
    rt::release(p);
  }
  EXPECT_EQ(rt::allocateAligned(48, 10), nullptr);  // not a power of two

  auto* zeroed = static_cast<unsigned char*>(rt::allocate(5000));
  std::memset(zeroed, 0xFF, 5000);
  rt::release(zeroed);
  zeroed = static_cast<unsigned char*>(rt::allocateZeroed(1000, 5));
  ASSERT_NE(zeroed, nullptr);
  for (int i = 0; i < 5000; ++i) ASSERT_EQ(zeroed[i], 0) << i;
  rt::release(zeroed);
  EXPECT_EQ(rt::allocateZeroed(SIZE_MAX / 2, 3), nullptr);

  // Growing keeps the bytes, from small to large and large to larger.
  std::string expected = "0123456789";
  auto* grown = static_cast<char*>(rt::allocate(expected.size()));
  std::memcpy(grown, expected.data(), expected.size());
  for (std::size_t size : {100, 300000, 5 << 20, 12 << 20}) {
    grown = static_cast<char*>(rt::resize(grown, size));
    ASSERT_NE(grown, nullptr);
    ASSERT_EQ(std::string_view(grown, expected.size()), expected) << size;
    while (expected.size() < size)
      expected.push_back(static_cast<char>('a' + expected.size() % 26));
    std::memcpy(grown, expected.data(), size);
  }
  rt::release(grown);
}

}  // namespace
