#include "text_convert.h"

#include <new>

#include "utf8.h"

namespace qorvex::wizard {

std::string_view textErrorName(TextError error) {
  switch (error) {
    case TextError::OutOfMemory: return "OutOfMemory";
    case TextError::ExpectedSecondSurrogateHalf: return "ExpectedSecondSurrogateHalf";
    case TextError::DanglingSurrogateHalf: return "DanglingSurrogateHalf";
    case TextError::UnexpectedSecondSurrogateHalf: return "UnexpectedSecondSurrogateHalf";
    case TextError::NoSpaceLeft: return "NoSpaceLeft";
    case TextError::InvalidUtf8: return "InvalidUtf8";
  }
  return "Unexpected";
}

TextResult<std::size_t> utf16ToUtf8(std::u16string_view units, char* out, std::size_t capacity) {
  std::size_t written = 0;
  std::string bytes;
  for (std::size_t i = 0; i < units.size();) {
    const DecodedUtf16 decoded = decodeUtf16(units, i);
    if (!decoded.codePoint) {
      switch (decoded.fault) {
        case Utf16Fault::ExpectedSecondSurrogateHalf:
          return std::unexpected(TextError::ExpectedSecondSurrogateHalf);
        case Utf16Fault::DanglingSurrogateHalf:
          return std::unexpected(TextError::DanglingSurrogateHalf);
        case Utf16Fault::UnexpectedSecondSurrogateHalf:
          return std::unexpected(TextError::UnexpectedSecondSurrogateHalf);
      }
    }
    bytes.clear();
    appendUtf8(bytes, decoded.codePoint->value);
    if (capacity - written < bytes.size()) return std::unexpected(TextError::NoSpaceLeft);
    for (char byte : bytes) out[written++] = byte;
    i += decoded.codePoint->length;
  }
  return written;
}

TextResult<std::u16string> utf8ToUtf16(std::string_view utf8) {
  try {
    std::optional<std::u16string> units = qorvex::utf8ToUtf16(utf8);
    if (!units) return std::unexpected(TextError::InvalidUtf8);
    return std::move(*units);
  } catch (const std::bad_alloc&) {
    return std::unexpected(TextError::OutOfMemory);
  }
}

}  // namespace qorvex::wizard
