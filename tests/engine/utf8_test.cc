// The one codec: strict in both directions, and each direction undoes the other.
#include <gtest/gtest.h>

#include <string>

#include "utf8.h"

namespace qorvex {
namespace {

TEST(Utf8, RefusesWhatIsNotUtf8) {
  struct Case {
    std::string bytes;
    bool valid;
  };
  const Case cases[] = {
      {"", true},
      {"plain ASCII", true},
      {"\xC3\xA9", true},               // é
      {"\xE2\x80\x93", true},           // en dash
      {"\xF0\x9F\x98\x80", true},       // U+1F600
      {"\xF4\x8F\xBF\xBF", true},       // U+10FFFF, the last
      {"\xC0\xAF", false},              // overlong '/'
      {"\xE0\x80\xAF", false},          // overlong, three bytes
      {"\xF0\x80\x80\xAF", false},      // overlong, four bytes
      {"\xED\xA0\x80", false},          // a surrogate half
      {"\xF4\x90\x80\x80", false},      // past U+10FFFF
      {"\xF8\x88\x80\x80\x80", false},  // five-byte form
      {"\xC3", false},                  // truncated
      {"a\xE2\x80", false},             // truncated at the end
      {"\x80", false},                  // a continuation byte alone
      {"\xC3\x28", false},              // no continuation
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    EXPECT_EQ(isValidUtf8(c.bytes), c.valid);
    const auto units = utf8ToUtf16(c.bytes);
    EXPECT_EQ(units.has_value(), c.valid);
    if (units) {
      EXPECT_EQ(utf16ToUtf8(*units), c.bytes);  // and back, byte for byte
    }
  }
}

TEST(Utf16, RefusesUnpairedHalves) {
  struct Case {
    std::u16string units;
    std::optional<Utf16Fault> fault;  // at the first unit that fails
    std::string utf8;
  };
  const Case cases[] = {
      {u"", std::nullopt, ""},
      {u"\u00E9t\u00E9", std::nullopt, "\xC3\xA9t\xC3\xA9"},
      {std::u16string{0xD83D, 0xDE00}, std::nullopt, "\xF0\x9F\x98\x80"},
      {std::u16string{0xD83D}, Utf16Fault::DanglingSurrogateHalf, ""},
      {std::u16string{0xD83D, u'a'}, Utf16Fault::ExpectedSecondSurrogateHalf, ""},
      {std::u16string{u'a', 0xDE00}, Utf16Fault::UnexpectedSecondSurrogateHalf, ""},
  };
  for (const Case& c : cases) {
    const auto utf8 = utf16ToUtf8(c.units);
    EXPECT_EQ(utf8.has_value(), !c.fault);
    if (utf8) {
      EXPECT_EQ(*utf8, c.utf8);
    }
    if (!c.fault) continue;
    std::size_t at = 0;
    DecodedUtf16 decoded = decodeUtf16(c.units, at);
    while (decoded.codePoint) decoded = decodeUtf16(c.units, at += decoded.codePoint->length);
    EXPECT_EQ(decoded.fault, *c.fault);
  }
}

}  // namespace
}  // namespace qorvex
