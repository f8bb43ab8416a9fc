#include "text_convert.h"

#include <gtest/gtest.h>

#include <string>

namespace qorvex::wizard {
namespace {

TextResult<std::string> toUtf8(std::u16string_view units, std::size_t capacity = 780) {
  std::string out(capacity, '\0');
  TextResult<std::size_t> n = utf16ToUtf8(units, out.data(), capacity);
  if (!n) return std::unexpected(n.error());
  out.resize(*n);
  return out;
}

TEST(Utf16ToUtf8, EncodesEveryLength) {
  EXPECT_EQ(toUtf8(u""), std::string());
  EXPECT_EQ(toUtf8(u"C:\\DCS"), "C:\\DCS");
  EXPECT_EQ(toUtf8(u"\u007f\u0080\u07ff\u0800\uffff"),
            "\x7f\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF");
  EXPECT_EQ(toUtf8(u"\u2013"), "\xE2\x80\x93");
  EXPECT_EQ(toUtf8(u"\U00010000\U0010FFFF"), "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF");
}

TEST(Utf16ToUtf8, RefusesBrokenSurrogates) {
  const char16_t high = 0xD83D;
  const char16_t low = 0xDE00;
  EXPECT_EQ(toUtf8(std::u16string{high, u'a'}),
            std::unexpected(TextError::ExpectedSecondSurrogateHalf));
  EXPECT_EQ(toUtf8(std::u16string{high, high, low}),
            std::unexpected(TextError::ExpectedSecondSurrogateHalf));
  EXPECT_EQ(toUtf8(std::u16string{u'a', high}), std::unexpected(TextError::DanglingSurrogateHalf));
  EXPECT_EQ(toUtf8(std::u16string{low}), std::unexpected(TextError::UnexpectedSecondSurrogateHalf));
  EXPECT_EQ(toUtf8(std::u16string{high, low, low}),
            std::unexpected(TextError::UnexpectedSecondSurrogateHalf));
  EXPECT_EQ(toUtf8(std::u16string{high, low}), "\xF0\x9F\x98\x80");
}

TEST(Utf16ToUtf8, FillsTheBufferExactlyAndNoFurther) {
  const std::u16string fits(260, u'\u0800');
  TextResult<std::string> full = toUtf8(fits, 780);
  ASSERT_TRUE(full.has_value());
  EXPECT_EQ(full->size(), 780u);
  EXPECT_EQ(toUtf8(fits + u"a", 780), std::unexpected(TextError::NoSpaceLeft));
  // A sequence is never split at the end of the buffer.
  EXPECT_EQ(toUtf8(u"ab\u00e9", 3), std::unexpected(TextError::NoSpaceLeft));
}

TEST(Utf8ToUtf16, DecodesValidText) {
  EXPECT_EQ(utf8ToUtf16(""), std::u16string());
  EXPECT_EQ(utf8ToUtf16("Tindrelle \xE2\x80\x93 DCS"), u"Tindrelle \u2013 DCS");
  EXPECT_EQ(utf8ToUtf16("\xF0\x9F\x98\x80\xC3\xBC\r\n"), u"\U0001F600\u00fc\r\n");
  EXPECT_EQ(utf8ToUtf16(std::string_view("a\0b", 3)), std::u16string(u"a\0b", 3));
}

TEST(Utf8ToUtf16, RefusesEveryIllFormedSequence) {
  for (std::string_view bad : {
           std::string_view("\x80"),              // stray continuation
           std::string_view("\xC0\xAF"),          // overlong '/'
           std::string_view("\xC1\xBF"),          // overlong
           std::string_view("\xE0\x80\xAF"),      // overlong three-byte
           std::string_view("\xF0\x80\x80\xAF"),  // overlong four-byte
           std::string_view("\xED\xA0\x80"),      // encoded surrogate
           std::string_view("\xF4\x90\x80\x80"),  // above U+10FFFF
           std::string_view("\xF5\x80\x80\x80"), std::string_view("\xFF"),
           std::string_view("\xE2\x80"),  // truncated
           std::string_view("a\xC3"),
           std::string_view("\xC3\x28"),  // bad continuation
       }) {
    EXPECT_EQ(utf8ToUtf16(bad), std::unexpected(TextError::InvalidUtf8))
        << "for " << testing::PrintToString(std::string(bad));
  }
}

TEST(TextError, Names) {
  EXPECT_EQ(textErrorName(TextError::OutOfMemory), "OutOfMemory");
  EXPECT_EQ(textErrorName(TextError::ExpectedSecondSurrogateHalf), "ExpectedSecondSurrogateHalf");
  EXPECT_EQ(textErrorName(TextError::DanglingSurrogateHalf), "DanglingSurrogateHalf");
  EXPECT_EQ(textErrorName(TextError::UnexpectedSecondSurrogateHalf),
            "UnexpectedSecondSurrogateHalf");
  EXPECT_EQ(textErrorName(TextError::NoSpaceLeft), "NoSpaceLeft");
  EXPECT_EQ(textErrorName(TextError::InvalidUtf8), "InvalidUtf8");
}

}  // namespace
}  // namespace qorvex::wizard
