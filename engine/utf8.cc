#include "utf8.h"

namespace qorvex {
namespace {

bool isHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

std::optional<DecodedCodePoint> decodeUtf8(std::string_view bytes, std::size_t at) {
  const auto byteAt = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char lead = byteAt(at);
  char32_t value;
  std::size_t length;
  char32_t minimum;
  if (lead < 0x80) {
    return DecodedCodePoint{lead, 1};
  } else if ((lead & 0xE0) == 0xC0) {
    value = lead & 0x1F;
    length = 2;
    minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    value = lead & 0x0F;
    length = 3;
    minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    value = lead & 0x07;
    length = 4;
    minimum = 0x10000;
  } else {
    return std::nullopt;
  }
  if (bytes.size() - at < length) return std::nullopt;
  for (std::size_t k = 1; k < length; ++k) {
    const unsigned char next = byteAt(at + k);
    if ((next & 0xC0) != 0x80) return std::nullopt;
    value = (value << 6) | (next & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
    return std::nullopt;
  return DecodedCodePoint{value, length};
}

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

bool isValidUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    // ASCII, the most of every text here, a byte at a time without decoding.
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      ++i;
      continue;
    }
    const auto decoded = decodeUtf8(text, i);
    if (!decoded) return false;
    i += decoded->length;
  }
  return true;
}

DecodedUtf16 decodeUtf16(std::u16string_view units, std::size_t at) {
  const char32_t unit = units[at];
  if (isLowSurrogate(unit)) return {std::nullopt, Utf16Fault::UnexpectedSecondSurrogateHalf};
  if (!isHighSurrogate(unit)) return {DecodedCodePoint{unit, 1}};
  if (at + 1 == units.size()) return {std::nullopt, Utf16Fault::DanglingSurrogateHalf};
  const char32_t low = units[at + 1];
  if (!isLowSurrogate(low)) return {std::nullopt, Utf16Fault::ExpectedSecondSurrogateHalf};
  return {DecodedCodePoint{0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00), 2}};
}

void appendUtf16(std::u16string& out, char32_t cp) {
  if (cp >= 0x10000) {
    out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
  } else {
    out.push_back(static_cast<char16_t>(cp));
  }
}

std::optional<std::u16string> utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  // No sequence yields more units than it has bytes.
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const auto decoded = decodeUtf8(utf8, i);
    if (!decoded) return std::nullopt;
    appendUtf16(out, decoded->value);
    i += decoded->length;
  }
  return out;
}

std::optional<std::string> utf16ToUtf8(std::u16string_view units) {
  std::string out;
  out.reserve(units.size());
  for (std::size_t i = 0; i < units.size();) {
    const DecodedUtf16 decoded = decodeUtf16(units, i);
    if (!decoded.codePoint) return std::nullopt;
    appendUtf8(out, decoded.codePoint->value);
    i += decoded.codePoint->length;
  }
  return out;
}

}  // namespace qorvex
