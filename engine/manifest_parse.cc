// A strict JSON reader for the patch manifest. It reads the text once, front to
// back, and reports the first problem in text order, so a wrong type early in
// the text wins over a syntax error later on.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <new>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "manifest.h"

namespace qorvex {
namespace {

// Thrown only inside this file; parseManifest turns it into a Result.
struct ParseFailure {
  Error error;
};

[[noreturn]] void failWith(Error error) { throw ParseFailure{error}; }

struct Field {
  std::string_view name;
  bool required;
  std::function<void()> read;
};

class JsonReader {
 public:
  explicit JsonReader(std::string_view text) : text_(text) {}

  void skipWhitespace() {
    while (pos_ < text_.size()) {
      char c = text_[pos_];
      if (c != ' ' && c != '\t' && c != '\n' && c != '\r') break;
      ++pos_;
    }
  }

  // The next byte after whitespace; UnexpectedEndOfInput at the end.
  char peek() {
    skipWhitespace();
    if (pos_ >= text_.size()) failWith(Error::UnexpectedEndOfInput);
    return text_[pos_];
  }

  void expectEnd() {
    skipWhitespace();
    if (pos_ != text_.size()) failWith(Error::SyntaxError);
  }

  // Reads an object whose known keys are `fields`; unknown keys are skipped with
  // their values, any key twice is refused, required keys are checked at '}'.
  void readObject(const std::vector<Field>& fields) {
    expectKind('{');
    ++pos_;
    std::vector<bool> seen(fields.size(), false);
    // A hash set: a manifest with many unknown keys must not take quadratic time.
    std::unordered_set<std::string> unknownSeen;
    if (peek() == '}') {
      ++pos_;
    } else {
      for (;;) {
        if (peek() != '"') failWith(Error::SyntaxError);
        std::string key = readString();
        if (peek() != ':') failWith(Error::SyntaxError);
        ++pos_;
        auto known = std::find_if(fields.begin(), fields.end(),
                                  [&](const Field& field) { return field.name == key; });
        if (known != fields.end()) {
          std::size_t index = static_cast<std::size_t>(known - fields.begin());
          if (seen[index]) failWith(Error::DuplicateField);
          seen[index] = true;
          known->read();
        } else {
          if (!unknownSeen.insert(std::move(key)).second) failWith(Error::DuplicateField);
          skipValue();
        }
        char c = peek();
        ++pos_;
        if (c == '}') break;
        if (c != ',') failWith(Error::SyntaxError);
      }
    }
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (fields[i].required && !seen[i]) failWith(Error::MissingField);
    }
  }

  template <typename ReadElement>
  void readArray(ReadElement readElement) {
    expectKind('[');
    ++pos_;
    if (peek() == ']') {
      ++pos_;
      return;
    }
    for (;;) {
      readElement();
      char c = peek();
      ++pos_;
      if (c == ']') return;
      if (c != ',') failWith(Error::SyntaxError);
    }
  }

  std::string readStringValue() {
    expectKind('"');
    return readString();
  }

  // True (and consumed) when the next value is null.
  bool readNullIfPresent() {
    if (peek() != 'n') return false;
    readLiteral("null");
    return true;
  }

  // A string value, or nothing after skipping a value of another kind.
  std::optional<std::string> readStringIfString() {
    if (peek() == '"') return readString();
    skipValue();
    return std::nullopt;
  }

  std::int64_t readInteger() {
    expectKind('0');
    std::size_t start = pos_;
    skipNumber();
    return integerValue(text_.substr(start, pos_ - start));
  }

 private:
  // Makes sure the next value is of the wanted kind ('{', '[', '"', or '0' for a
  // number). A value of another kind is read whole first, so that a malformed
  // value still reports its syntax error, then refused as UnexpectedToken.
  void expectKind(char kind) {
    char c = peek();
    char actual;
    if (c == '{' || c == '[' || c == '"') {
      actual = c;
    } else if (c == '-' || (c >= '0' && c <= '9')) {
      actual = '0';
    } else if (c == 't' || c == 'f' || c == 'n') {
      actual = 'l';
    } else {
      failWith(Error::SyntaxError);
    }
    if (actual == kind) return;
    if (actual == '"') readString();
    if (actual == '0') skipNumber();
    if (actual == 'l') readLiteral(c == 't' ? "true" : c == 'f' ? "false" : "null");
    failWith(Error::UnexpectedToken);
  }

  void readLiteral(std::string_view literal) {
    for (char expected : literal) {
      if (pos_ >= text_.size()) failWith(Error::UnexpectedEndOfInput);
      if (text_[pos_] != expected) failWith(Error::SyntaxError);
      ++pos_;
    }
  }

  bool atDigit() const { return pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9'; }

  void needDigit() {
    if (pos_ >= text_.size()) failWith(Error::UnexpectedEndOfInput);
    if (!atDigit()) failWith(Error::SyntaxError);
  }

  // -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
  void skipNumber() {
    if (text_[pos_] == '-') ++pos_;
    needDigit();
    if (text_[pos_] == '0') {
      ++pos_;
    } else {
      while (atDigit()) ++pos_;
    }
    if (pos_ < text_.size() && text_[pos_] == '.') {
      ++pos_;
      needDigit();
      while (atDigit()) ++pos_;
    }
    if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
      ++pos_;
      if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
      needDigit();
      while (atDigit()) ++pos_;
    }
  }

  // The exact value of a JSON number as a signed 64-bit integer: InvalidNumber
  // when it has a fractional part, Overflow when it is out of range. Decimal
  // digits are handled exactly, without floating point.
  static std::int64_t integerValue(std::string_view number) {
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
    std::size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos) return 0;
    digits.erase(0, first);
    while (digits.back() == '0') {
      digits.pop_back();
      ++exponent;
    }
    if (exponent < 0) failWith(Error::InvalidNumber);
    if (static_cast<std::int64_t>(digits.size()) + exponent > 19) failWith(Error::Overflow);
    unsigned __int128 magnitude = 0;
    for (char d : digits) magnitude = magnitude * 10 + static_cast<unsigned>(d - '0');
    for (std::int64_t e = 0; e < exponent; ++e) magnitude *= 10;
    const unsigned __int128 limit =
        negative ? (static_cast<unsigned __int128>(1) << 63) : ((static_cast<unsigned __int128>(1) << 63) - 1);
    if (magnitude > limit) failWith(Error::Overflow);
    if (negative) return static_cast<std::int64_t>(-static_cast<__int128>(magnitude));
    return static_cast<std::int64_t>(magnitude);
  }

  unsigned readHex4() {
    unsigned value = 0;
    for (int i = 0; i < 4; ++i) {
      if (pos_ >= text_.size()) failWith(Error::UnexpectedEndOfInput);
      char c = text_[pos_++];
      value <<= 4;
      if (c >= '0' && c <= '9') {
        value |= static_cast<unsigned>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        value |= static_cast<unsigned>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        value |= static_cast<unsigned>(c - 'A' + 10);
      } else {
        failWith(Error::SyntaxError);
      }
    }
    return value;
  }

  static void appendUtf8(std::string& out, std::uint32_t cp) {
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

  // One UTF-8 sequence starting at pos_, copied to out; the text must be valid.
  void copyUtf8Sequence(std::string& out) {
    const auto lead = static_cast<unsigned char>(text_[pos_]);
    std::size_t length;
    std::uint32_t cp;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      cp = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      cp = lead & 0x07;
    } else {
      failWith(Error::SyntaxError);
    }
    for (std::size_t i = 1; i < length; ++i) {
      if (pos_ + i >= text_.size()) failWith(Error::UnexpectedEndOfInput);
      const auto next = static_cast<unsigned char>(text_[pos_ + i]);
      if ((next & 0xC0) != 0x80) failWith(Error::SyntaxError);
      cp = (cp << 6) | (next & 0x3F);
    }
    if ((length == 3 && cp < 0x800) || (length == 4 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      failWith(Error::SyntaxError);
    }
    out.append(text_.substr(pos_, length));
    pos_ += length;
  }

  // A string at pos_ (which holds '"'), decoded.
  std::string readString() {
    ++pos_;
    std::string out;
    for (;;) {
      if (pos_ >= text_.size()) failWith(Error::UnexpectedEndOfInput);
      const auto c = static_cast<unsigned char>(text_[pos_]);
      if (c == '"') {
        ++pos_;
        return out;
      }
      if (c < 0x20) failWith(Error::SyntaxError);
      if (c >= 0x80) {
        copyUtf8Sequence(out);
        continue;
      }
      if (c != '\\') {
        // Copy the run of plain bytes in one go.
        std::size_t end = pos_ + 1;
        while (end < text_.size()) {
          const auto d = static_cast<unsigned char>(text_[end]);
          if (d == '"' || d == '\\' || d < 0x20 || d >= 0x80) break;
          ++end;
        }
        out.append(text_.substr(pos_, end - pos_));
        pos_ = end;
        continue;
      }
      ++pos_;
      if (pos_ >= text_.size()) failWith(Error::UnexpectedEndOfInput);
      char e = text_[pos_++];
      switch (e) {
        case '"': out.push_back('"'); break;
        case '\\': out.push_back('\\'); break;
        case '/': out.push_back('/'); break;
        case 'b': out.push_back('\b'); break;
        case 'f': out.push_back('\f'); break;
        case 'n': out.push_back('\n'); break;
        case 'r': out.push_back('\r'); break;
        case 't': out.push_back('\t'); break;
        case 'u': {
          std::uint32_t cp = readHex4();
          if (cp >= 0xDC00 && cp <= 0xDFFF) failWith(Error::SyntaxError);
          if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (pos_ >= text_.size()) failWith(Error::UnexpectedEndOfInput);
            if (text_[pos_] != '\\') failWith(Error::SyntaxError);
            ++pos_;
            if (pos_ >= text_.size()) failWith(Error::UnexpectedEndOfInput);
            if (text_[pos_] != 'u') failWith(Error::SyntaxError);
            ++pos_;
            std::uint32_t low = readHex4();
            if (low < 0xDC00 || low > 0xDFFF) failWith(Error::SyntaxError);
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          }
          appendUtf8(out, cp);
          break;
        }
        default:
          failWith(Error::SyntaxError);
      }
    }
  }

  // Any well-formed value; nesting is tracked on a heap stack so deep input
  // cannot exhaust the call stack.
  void skipValue() {
    std::vector<char> open;  // '{' or '['
    for (;;) {
      char c = peek();
      // A value.
      if (c == '{' || c == '[') {
        ++pos_;
        open.push_back(c);
        char next = peek();
        if ((c == '{' && next == '}') || (c == '[' && next == ']')) {
          ++pos_;
          open.pop_back();
        } else {
          if (c == '{') readKeyAndColon();
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
        failWith(Error::SyntaxError);
      }
      // After a value: close containers or move to the next element.
      for (;;) {
        if (open.empty()) return;
        char next = peek();
        ++pos_;
        char closer = open.back() == '{' ? '}' : ']';
        if (next == closer) {
          open.pop_back();
          continue;
        }
        if (next != ',') failWith(Error::SyntaxError);
        if (open.back() == '{') readKeyAndColon();
        break;
      }
    }
  }

  void readKeyAndColon() {
    if (peek() != '"') failWith(Error::SyntaxError);
    readString();
    if (peek() != ':') failWith(Error::SyntaxError);
    ++pos_;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

PatchEntryJson readPatchEntry(JsonReader& in) {
  PatchEntryJson entry;
  in.readObject({
      {"id", true, [&] { entry.id = in.readStringValue(); }},
      {"marker", true, [&] { entry.marker = in.readStringValue(); }},
      {"anchorAfter", true, [&] { entry.anchorAfter = in.readStringValue(); }},
      {"anchorAfterOccurrence", false,
       [&] {
         if (!in.readNullIfPresent()) entry.anchorAfterOccurrence = in.readInteger();
       }},
      {"insertText", false,
       [&] {
         if (!in.readNullIfPresent()) entry.insertText = in.readStringValue();
       }},
      {"insertTextBefore", false,
       [&] {
         if (!in.readNullIfPresent()) entry.insertTextBefore = in.readStringValue();
       }},
  });
  return entry;
}

FileEntryJson readFileEntry(JsonReader& in) {
  FileEntryJson entry;
  in.readObject({
      {"relativePath", true, [&] { entry.relativePath = in.readStringValue(); }},
      {"patches", true,
       [&] { in.readArray([&] { entry.patches.push_back(readPatchEntry(in)); }); }},
  });
  return entry;
}

DlgFileEntry readDlgFileEntry(JsonReader& in) {
  DlgFileEntry entry;
  in.readObject({
      {"relativePath", true, [&] { entry.relativePath = in.readStringValue(); }},
      {"insertBlockResource", true, [&] { entry.insertBlockResource = in.readStringValue(); }},
      {"anchorBefore", true, [&] { entry.anchorBefore = in.readStringValue(); }},
  });
  return entry;
}

}  // namespace

Result<PatchManifestJson> parseManifest(std::string_view text) {
  try {
    JsonReader in(text);
    PatchManifestJson manifest;
    in.readObject({
        {"version", true, [&] { manifest.version = in.readStringValue(); }},
        {"description", true, [&] { manifest.description = in.readStringValue(); }},
        {"files", true,
         [&] { in.readArray([&] { manifest.files.push_back(readFileEntry(in)); }); }},
        {"dlgFiles", true,
         [&] { in.readArray([&] { manifest.dlgFiles.push_back(readDlgFileEntry(in)); }); }},
    });
    in.expectEnd();
    return manifest;
  } catch (const ParseFailure& failure) {
    return fail(failure.error);
  } catch (const std::bad_alloc&) {
    return fail(Error::OutOfMemory);
  }
}

Result<GameVersion> parseGameVersion(std::string_view text) {
  try {
    JsonReader in(text);
    GameVersion version;
    std::optional<std::string> found;
    in.readObject({
        {"version", true, [&] { found = in.readStringIfString(); }},
        {"branch", false, [&] { version.branch = in.readStringIfString(); }},
    });
    in.expectEnd();
    if (!found) return fail(Error::UnexpectedToken);
    version.version = std::move(*found);
    return version;
  } catch (const ParseFailure& failure) {
    return fail(failure.error);
  } catch (const std::bad_alloc&) {
    return fail(Error::OutOfMemory);
  }
}

}  // namespace qorvex
