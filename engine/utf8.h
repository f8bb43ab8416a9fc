#pragma once
// The one UTF-8 / UTF-16 codec of the program. Strict both ways: overlong
// forms, surrogates encoded in UTF-8, values above U+10FFFF, truncated
// sequences and unpaired surrogate halves are refused, never replaced.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qorvex {

struct DecodedCodePoint {
  char32_t value;
  std::size_t length;  // code units it took
};

// The code point that starts at `at`, or nothing for bytes that are not UTF-8.
std::optional<DecodedCodePoint> decodeUtf8(std::string_view bytes, std::size_t at);
// Appends the code point (at most U+10FFFF, no surrogate) in UTF-8.
void appendUtf8(std::string& out, char32_t codePoint);
bool isValidUtf8(std::string_view text);

// Why UTF-16 could not be decoded.
enum class Utf16Fault {
  ExpectedSecondSurrogateHalf,   // a high half followed by something else
  DanglingSurrogateHalf,         // a high half at the very end
  UnexpectedSecondSurrogateHalf  // a low half on its own
};

// The code point that starts at `at`, or the fault that stops decoding there.
struct DecodedUtf16 {
  std::optional<DecodedCodePoint> codePoint;
  Utf16Fault fault = Utf16Fault::ExpectedSecondSurrogateHalf;  // when there is none
};
DecodedUtf16 decodeUtf16(std::u16string_view units, std::size_t at);
// Appends the code point in UTF-16, as a surrogate pair above U+FFFF.
void appendUtf16(std::u16string& out, char32_t codePoint);

// Whole texts; nothing for text that is not valid in its form.
std::optional<std::u16string> utf8ToUtf16(std::string_view utf8);
std::optional<std::string> utf16ToUtf8(std::u16string_view units);

}  // namespace qorvex
