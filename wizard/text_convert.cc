#include "text_convert.h"

#include <new>

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

namespace {

bool isHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

TextResult<std::size_t> utf16ToUtf8(std::u16string_view units, char* out, std::size_t capacity) {
  std::size_t written = 0;
  for (std::size_t i = 0; i < units.size(); ++i) {
    char32_t cp = units[i];
    if (isHighSurrogate(cp)) {
      if (i + 1 == units.size()) return std::unexpected(TextError::DanglingSurrogateHalf);
      const char32_t low = units[i + 1];
      if (!isLowSurrogate(low)) return std::unexpected(TextError::ExpectedSecondSurrogateHalf);
      cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
      ++i;
    } else if (isLowSurrogate(cp)) {
      return std::unexpected(TextError::UnexpectedSecondSurrogateHalf);
    }
    unsigned char bytes[4];
    std::size_t n;
    if (cp < 0x80) {
      bytes[0] = static_cast<unsigned char>(cp);
      n = 1;
    } else if (cp < 0x800) {
      bytes[0] = static_cast<unsigned char>(0xC0 | (cp >> 6));
      bytes[1] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
      n = 2;
    } else if (cp < 0x10000) {
      bytes[0] = static_cast<unsigned char>(0xE0 | (cp >> 12));
      bytes[1] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
      bytes[2] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
      n = 3;
    } else {
      bytes[0] = static_cast<unsigned char>(0xF0 | (cp >> 18));
      bytes[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
      bytes[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
      bytes[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
      n = 4;
    }
    if (capacity - written < n) return std::unexpected(TextError::NoSpaceLeft);
    for (std::size_t k = 0; k < n; ++k) out[written++] = static_cast<char>(bytes[k]);
  }
  return written;
}

TextResult<std::u16string> utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  try {
    out.reserve(utf8.size());
  } catch (const std::bad_alloc&) {
    return std::unexpected(TextError::OutOfMemory);
  }
  const auto byteAt = [&](std::size_t i) { return static_cast<unsigned char>(utf8[i]); };
  std::size_t i = 0;
  while (i < utf8.size()) {
    const unsigned char lead = byteAt(i);
    char32_t cp;
    std::size_t length;
    char32_t minimum;
    if (lead < 0x80) {
      cp = lead;
      length = 1;
      minimum = 0;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      cp = lead & 0x1F;
      length = 2;
      minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      cp = lead & 0x0F;
      length = 3;
      minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      cp = lead & 0x07;
      length = 4;
      minimum = 0x10000;
    } else {
      return std::unexpected(TextError::InvalidUtf8);
    }
    if (utf8.size() - i < length) return std::unexpected(TextError::InvalidUtf8);
    for (std::size_t k = 1; k < length; ++k) {
      const unsigned char next = byteAt(i + k);
      if ((next & 0xC0) != 0x80) return std::unexpected(TextError::InvalidUtf8);
      cp = (cp << 6) | (next & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      return std::unexpected(TextError::InvalidUtf8);
    }
    // reserve() above covers every unit: no sequence yields more units than bytes.
    if (cp >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += length;
  }
  return out;
}

}  // namespace qorvex::wizard
