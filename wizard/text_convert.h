#pragma once

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>

namespace qorvex::wizard {

// Failures at the UTF-8 / UTF-16 boundary with the window system.
enum class TextError {
  OutOfMemory,
  ExpectedSecondSurrogateHalf,
  DanglingSurrogateHalf,
  UnexpectedSecondSurrogateHalf,
  // The UTF-8 form does not fit the caller's buffer.
  NoSpaceLeft,
  InvalidUtf8,
};

std::string_view textErrorName(TextError error);

template <typename T>
using TextResult = std::expected<T, TextError>;

// Room for any text read from a control: three UTF-8 bytes for each of 260
// UTF-16 units.
inline constexpr std::size_t kControlTextBufferSize = 780;
inline constexpr std::size_t kMaxPathUnits = 260;

// Strict UTF-16 to UTF-8 into out[0, capacity). Returns the number of bytes
// written; nothing is NUL-terminated.
TextResult<std::size_t> utf16ToUtf8(std::u16string_view units, char* out, std::size_t capacity);

// Strict UTF-8 to UTF-16 (overlong forms, surrogates, values above U+10FFFF
// and truncated sequences are refused with InvalidUtf8).
TextResult<std::u16string> utf8ToUtf16(std::string_view utf8);

}  // namespace qorvex::wizard
