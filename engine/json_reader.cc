#include "json_reader.h"

#include <algorithm>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "utf8.h"

namespace qorvex {
namespace {

// The marker of an array level in skipValue's stack of open values; objects
// are stacked by their numbers, which never get this high.
constexpr std::uint64_t kArray = std::numeric_limits<std::uint64_t>::max();

// A key that could be misread in a dotted path, or would break the line it is
// reported on, is written as a JSON string in brackets.
bool isPlainKey(std::string_view key) {
  if (key.empty()) return false;
  for (char c : key) {
    const auto b = static_cast<unsigned char>(c);
    if (b <= ' ' || b == 0x7F || c == '.' || c == '[' || c == ']' || c == '"' || c == '\\')
      return false;
  }
  return true;
}

// The end of the run of bytes from `from` that a string holds as they are:
// the first quote, backslash, control byte or byte of a UTF-8 sequence, or
// the end of the text. Sixteen bytes at a time where SSE2 is there: the
// manifest's strings are mostly long runs of Lua between escaped line ends.
std::size_t plainRunEnd(std::string_view text, std::size_t from) {
  const std::size_t n = text.size();
  const char* data = text.data();
#if defined(__SSE2__)
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i space = _mm_set1_epi8(0x20);
  while (from + 16 <= n) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + from));
    // Signed, so bytes from 0x80 up count as below a space as well.
    const __m128i stops =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash)),
                     _mm_cmplt_epi8(bytes, space));
    if (const int mask = _mm_movemask_epi8(stops); mask != 0)
      return from + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    from += 16;
  }
#endif
  for (; from < n; ++from) {
    const auto d = static_cast<unsigned char>(data[from]);
    if (d == '"' || d == '\\' || d < 0x20 || d >= 0x80) break;
  }
  return from;
}

void appendQuotedKey(std::string& out, std::string_view key) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += "[\"";
  for (char c : key) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (b < 0x20 || b == 0x7F) {
      out += "\\u00";
      out += kHex[b >> 4];
      out += kHex[b & 0xF];
    } else {
      out += c;
    }
  }
  out += "\"]";
}

}  // namespace

std::size_t JsonReader::KeyHash::operator()(
    const std::pair<std::uint64_t, std::string>& key) const {
  return std::hash<std::string>{}(key.second) ^
         static_cast<std::size_t>(key.first * 0x9E3779B97F4A7C15u);
}

void JsonReader::failAt(std::size_t offset, ManifestIssue issue, std::string key) const {
  throw JsonFailure{issue, offset, entry(), std::move(key)};
}

std::string JsonReader::entry() const {
  std::string out;
  for (const Step& step : path_) {
    if (step.key == nullptr) {
      out += '[' + std::to_string(step.index) + ']';
    } else if (isPlainKey(*step.key)) {
      if (!out.empty()) out += '.';
      out += *step.key;
    } else {
      appendQuotedKey(out, *step.key);
    }
  }
  return out;
}

void JsonReader::skipWhitespace() {
  while (pos_ < text_.size()) {
    const char c = text_[pos_];
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r') break;
    ++pos_;
  }
}

char JsonReader::peek() {
  skipWhitespace();
  if (pos_ >= text_.size()) failAt(text_.size(), ManifestIssue::UnexpectedEnd);
  return text_[pos_];
}

std::size_t JsonReader::valueOffset() {
  peek();
  return pos_;
}

void JsonReader::expectEnd() {
  skipWhitespace();
  if (pos_ != text_.size()) failAt(pos_, ManifestIssue::TrailingText);
}

std::size_t JsonReader::readKey(std::uint64_t object) {
  if (peek() != '"') failAt(pos_, ManifestIssue::ExpectedKey);
  const std::size_t at = pos_;
  auto [key, fresh] = keys_.emplace(object, readString());
  path_.push_back({&key->second, 0});
  if (!fresh) failAt(at, ManifestIssue::DuplicateKey);
  openKeys_.push_back(key);
  if (peek() != ':') failAt(pos_, ManifestIssue::ExpectedColon);
  ++pos_;
  return at;
}

void JsonReader::forgetKeys(std::size_t first) {
  for (std::size_t i = first; i < openKeys_.size(); ++i) keys_.erase(openKeys_[i]);
  openKeys_.resize(first);
}

std::size_t JsonReader::readObject(const std::vector<JsonField>& fields, ManifestIssue wrongType) {
  expectKind('{', wrongType);
  const std::size_t brace = pos_++;
  const std::uint64_t object = nextObject_++;
  const std::size_t firstKey = openKeys_.size();
  std::vector<bool> seen(fields.size(), false);
  if (peek() == '}') {
    ++pos_;
  } else {
    for (;;) {
      const std::size_t keyAt = readKey(object);
      const std::string& key = *path_.back().key;
      auto known = std::find_if(fields.begin(), fields.end(),
                                [&](const JsonField& field) { return field.name == key; });
      if (known != fields.end()) {
        seen[static_cast<std::size_t>(known - fields.begin())] = true;
        known->read();
      } else {
        if (unknownKeys_ != nullptr)
          unknownKeys_->push_back({ManifestIssue::UnknownKey, keyAt, entry()});
        skipValue();
      }
      path_.pop_back();
      const char c = peek();
      if (c != ',' && c != '}') failAt(pos_, ManifestIssue::ExpectedCommaOrBrace);
      const std::size_t comma = pos_++;
      if (c == '}') break;
      if (peek() == '}') failAt(comma, ManifestIssue::TrailingComma);
    }
  }
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].required && !seen[i])
      failAt(brace, ManifestIssue::MissingKey, std::string(fields[i].name));
  }
  forgetKeys(firstKey);
  return brace;
}

std::string JsonReader::readStringValue(ManifestIssue wrongType) {
  expectKind('"', wrongType);
  return readString();
}

bool JsonReader::readNullIfPresent() {
  if (peek() != 'n') return false;
  readLiteral("null");
  return true;
}

std::optional<std::string> JsonReader::readStringIfString() {
  if (peek() == '"') return readString();
  skipValue();
  return std::nullopt;
}

std::int64_t JsonReader::readInteger(ManifestIssue wrongType) {
  expectKind('0', wrongType);
  const std::size_t start = pos_;
  skipNumber();
  return integerValue(text_.substr(start, pos_ - start), start);
}

// Makes sure the next value is of the wanted kind ('{', '[', '"', or '0' for a
// number). A value of another kind is read whole first, so that a malformed
// value still reports its syntax error, then refused as `wrongType`.
void JsonReader::expectKind(char kind, ManifestIssue wrongType) {
  const char c = peek();
  const std::size_t at = pos_;
  char actual;
  if (c == '{' || c == '[' || c == '"') {
    actual = c;
  } else if (c == '-' || (c >= '0' && c <= '9')) {
    actual = '0';
  } else if (c == 't' || c == 'f' || c == 'n') {
    actual = 'l';
  } else {
    failAt(at, ManifestIssue::ExpectedValue);
  }
  if (actual == kind) return;
  if (actual == '"') readString();
  if (actual == '0') skipNumber();
  if (actual == 'l') readLiteral(c == 't' ? "true" : c == 'f' ? "false" : "null");
  failAt(at, wrongType);
}

void JsonReader::readLiteral(std::string_view literal) {
  const std::size_t start = pos_;
  for (char expected : literal) {
    if (pos_ >= text_.size()) failAt(text_.size(), ManifestIssue::UnexpectedEnd);
    if (text_[pos_] != expected) failAt(start, ManifestIssue::BadLiteral);
    ++pos_;
  }
}

// -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
void JsonReader::skipNumber() {
  const std::size_t start = pos_;
  auto atDigit = [&] { return pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9'; };
  auto needDigits = [&] {
    if (pos_ >= text_.size()) failAt(text_.size(), ManifestIssue::UnexpectedEnd);
    if (!atDigit()) failAt(start, ManifestIssue::BadNumber);
    while (atDigit()) ++pos_;
  };
  if (text_[pos_] == '-') ++pos_;
  if (pos_ < text_.size() && text_[pos_] == '0') {
    ++pos_;
  } else {
    needDigits();
  }
  if (pos_ < text_.size() && text_[pos_] == '.') {
    ++pos_;
    needDigits();
  }
  if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
    ++pos_;
    if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
    needDigits();
  }
}

// The exact value of a JSON number as a signed 64-bit integer, refused when it
// has a fractional part or is out of range. Decimal digits are handled
// exactly, without floating point.
std::int64_t JsonReader::integerValue(std::string_view number, std::size_t start) const {
  bool negative = false;
  std::size_t i = 0;
  if (number[i] == '-') {
    negative = true;
    ++i;
  }
  std::string digits;
  std::int64_t exponent = 0;
  while (i < number.size() && number[i] >= '0' && number[i] <= '9') digits.push_back(number[i++]);
  if (i < number.size() && number[i] == '.') {
    ++i;
    while (i < number.size() && number[i] >= '0' && number[i] <= '9') {
      digits.push_back(number[i++]);
      --exponent;
    }
  }
  if (i < number.size() && (number[i] == 'e' || number[i] == 'E')) {
    ++i;
    bool negativeExponent = false;
    if (number[i] == '+' || number[i] == '-') negativeExponent = number[i++] == '-';
    std::int64_t value = 0;
    while (i < number.size()) {
      value = std::min<std::int64_t>(value * 10 + (number[i++] - '0'), 1'000'000'000);
    }
    exponent += negativeExponent ? -value : value;
  }
  const std::size_t first = digits.find_first_not_of('0');
  if (first == std::string::npos) return 0;
  digits.erase(0, first);
  while (digits.back() == '0') {
    digits.pop_back();
    ++exponent;
  }
  if (exponent < 0) failAt(start, ManifestIssue::FractionalNumber);
  if (static_cast<std::int64_t>(digits.size()) + exponent > 19)
    failAt(start, ManifestIssue::NumberOutOfRange);
  unsigned __int128 magnitude = 0;
  for (char d : digits) magnitude = magnitude * 10 + static_cast<unsigned>(d - '0');
  for (std::int64_t e = 0; e < exponent; ++e) magnitude *= 10;
  const unsigned __int128 limit = negative ? (static_cast<unsigned __int128>(1) << 63)
                                           : ((static_cast<unsigned __int128>(1) << 63) - 1);
  if (magnitude > limit) failAt(start, ManifestIssue::NumberOutOfRange);
  if (negative) return static_cast<std::int64_t>(-static_cast<__int128>(magnitude));
  return static_cast<std::int64_t>(magnitude);
}

// The four hex digits of the \u escape whose backslash is at `escape`.
std::uint32_t JsonReader::readHex4(std::size_t escape) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i) {
    if (pos_ >= text_.size()) failAt(text_.size(), ManifestIssue::UnexpectedEnd);
    const char c = text_[pos_++];
    value <<= 4;
    if (c >= '0' && c <= '9') {
      value |= static_cast<std::uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      value |= static_cast<std::uint32_t>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      value |= static_cast<std::uint32_t>(c - 'A' + 10);
    } else {
      failAt(escape, ManifestIssue::BadUnicodeEscape);
    }
  }
  return value;
}

// One UTF-8 sequence starting at pos_, copied to out; the text must be valid.
void JsonReader::copyUtf8Sequence(std::string& out) {
  if (const auto decoded = decodeUtf8(text_, pos_)) {
    out.append(text_.substr(pos_, decoded->length));
    pos_ += decoded->length;
    return;
  }
  // Not UTF-8 here. A sequence that the text ends in the middle of is
  // reported as the end of the text.
  const auto lead = static_cast<unsigned char>(text_[pos_]);
  const std::size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                             : lead >= 0xE0 && lead <= 0xEF ? 3
                             : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                            : 0;
  for (std::size_t i = 1; i < length; ++i) {
    if (pos_ + i >= text_.size()) failAt(text_.size(), ManifestIssue::UnexpectedEnd);
    if ((static_cast<unsigned char>(text_[pos_ + i]) & 0xC0) != 0x80) break;
  }
  failAt(pos_, ManifestIssue::InvalidUtf8);
}

// A string at pos_ (which holds '"'), decoded.
std::string JsonReader::readString() {
  ++pos_;
  std::string out;
  for (;;) {
    if (pos_ >= text_.size()) failAt(text_.size(), ManifestIssue::UnexpectedEnd);
    const auto c = static_cast<unsigned char>(text_[pos_]);
    if (c == '"') {
      ++pos_;
      return out;
    }
    if (c < 0x20) failAt(pos_, ManifestIssue::ControlCharacter);
    if (c >= 0x80) {
      copyUtf8Sequence(out);
    } else if (c == '\\') {
      readEscape(out);
    } else {
      // Copy the run of plain bytes in one go.
      const std::size_t end = plainRunEnd(text_, pos_ + 1);
      out.append(text_.substr(pos_, end - pos_));
      pos_ = end;
    }
  }
}

// The escape at pos_ (which holds '\\'), decoded onto out.
void JsonReader::readEscape(std::string& out) {
  const std::size_t escape = pos_++;
  if (pos_ >= text_.size()) failAt(text_.size(), ManifestIssue::UnexpectedEnd);
  switch (text_[pos_++]) {
    case '"': out.push_back('"'); return;
    case '\\': out.push_back('\\'); return;
    case '/': out.push_back('/'); return;
    case 'b': out.push_back('\b'); return;
    case 'f': out.push_back('\f'); return;
    case 'n': out.push_back('\n'); return;
    case 'r': out.push_back('\r'); return;
    case 't': out.push_back('\t'); return;
    case 'u': appendUtf8(out, readUnicodeEscape(escape)); return;
    default: failAt(escape, ManifestIssue::BadEscape);
  }
}

// The code point of a \\u escape whose backslash is at `escape` (pos_ is past
// the 'u'): a surrogate half must be the first of a pair of escapes.
char32_t JsonReader::readUnicodeEscape(std::size_t escape) {
  std::uint32_t cp = readHex4(escape);
  if (cp >= 0xDC00 && cp <= 0xDFFF) failAt(escape, ManifestIssue::LoneSurrogate);
  if (cp < 0xD800 || cp > 0xDBFF) return static_cast<char32_t>(cp);
  if (pos_ >= text_.size()) failAt(text_.size(), ManifestIssue::UnexpectedEnd);
  if (text_[pos_] != '\\') failAt(escape, ManifestIssue::LoneSurrogate);
  const std::size_t second = pos_++;
  if (pos_ >= text_.size()) failAt(text_.size(), ManifestIssue::UnexpectedEnd);
  if (text_[pos_] != 'u') failAt(escape, ManifestIssue::LoneSurrogate);
  ++pos_;
  const std::uint32_t low = readHex4(second);
  if (low < 0xDC00 || low > 0xDFFF) failAt(escape, ManifestIssue::LoneSurrogate);
  return static_cast<char32_t>(0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00));
}

// Nesting is tracked on a heap stack so deep input cannot exhaust the call
// stack; the entry path grows with it, so a problem deep inside an unknown
// value is still placed.
void JsonReader::skipValue() {
  struct Open {
    std::uint64_t object;  // or kArray
    std::size_t firstKey;
  };
  std::vector<Open> open;
  for (;;) {
    const char c = peek();
    if (c == '{' || c == '[') {
      ++pos_;
      if (peek() == (c == '{' ? '}' : ']')) {
        ++pos_;
      } else {
        if (c == '{') {
          open.push_back({nextObject_, openKeys_.size()});
          readKey(nextObject_++);
        } else {
          open.push_back({kArray, 0});
          path_.push_back({nullptr, 0});
        }
        continue;
      }
    } else if (c == '"') {
      readString();
    } else if (c == '-' || (c >= '0' && c <= '9')) {
      skipNumber();
    } else if (c == 't') {
      readLiteral("true");
    } else if (c == 'f') {
      readLiteral("false");
    } else if (c == 'n') {
      readLiteral("null");
    } else {
      failAt(pos_, ManifestIssue::ExpectedValue);
    }
    // After a value: close containers or move on to the next member.
    for (;;) {
      if (open.empty()) return;
      const bool inObject = open.back().object != kArray;
      const std::size_t index = path_.back().index;
      path_.pop_back();
      const char next = peek();
      if (next == ',') {
        const std::size_t comma = pos_++;
        if (peek() == (inObject ? '}' : ']')) failAt(comma, ManifestIssue::TrailingComma);
        if (inObject) {
          readKey(open.back().object);
        } else {
          path_.push_back({nullptr, index + 1});
        }
        break;
      }
      if (next != (inObject ? '}' : ']')) {
        failAt(pos_, inObject ? ManifestIssue::ExpectedCommaOrBrace
                              : ManifestIssue::ExpectedCommaOrBracket);
      }
      ++pos_;
      if (inObject) forgetKeys(open.back().firstKey);
      open.pop_back();
    }
  }
}

void TextPlaces::advanceTo(std::size_t offset) {
  for (; pos_ < offset && pos_ < text_.size(); ++pos_) {
    const auto c = static_cast<unsigned char>(text_[pos_]);
    if (c == '\n' && pos_ > 0 && text_[pos_ - 1] == '\r') continue;  // CR LF ends one line
    if (c == '\r' || c == '\n') {
      ++line_;
      column_ = 1;
    } else if ((c & 0xC0) != 0x80) {
      ++column_;
    }
  }
}

}  // namespace qorvex
