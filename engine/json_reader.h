#pragma once
// The strict JSON reader (RFC 8259) under the manifest and the game's version
// file, for manifest_parse.cc only. It reads the text once, front to back, and
// stops at the first problem in text order, so a wrong type early in the text
// wins over a syntax error later on. It throws JsonFailure, which the entry
// points turn into values: no exception leaves the engine.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "manifest_check.h"

namespace qorvex {

struct JsonFailure {
  ManifestIssue issue;
  std::size_t offset;
  std::string entry;
  std::string key;
};

// Something worth telling about a place that is not an error.
struct JsonNote {
  ManifestIssue issue;
  std::size_t offset;
  std::string entry;
};

struct JsonField {
  std::string_view name;
  bool required;
  std::function<void()> read;
};

class JsonReader {
 public:
  // Every key that readObject() skips as unknown is noted in `unknownKeys`
  // when it is given.
  explicit JsonReader(std::string_view text, std::vector<JsonNote>* unknownKeys = nullptr)
      : text_(text), unknownKeys_(unknownKeys) {}

  void expectEnd();

  // Reads an object whose known keys are `fields`; unknown keys are skipped
  // with their values, any key twice is refused, required keys are checked at
  // '}' and reported at '{'. Returns the offset of the '{'.
  std::size_t readObject(const std::vector<JsonField>& fields,
                         ManifestIssue wrongType = ManifestIssue::ExpectedObject);

  template <typename ReadElement>
  void readArray(ReadElement readElement) {
    expectKind('[', ManifestIssue::ExpectedArray);
    ++pos_;
    if (peek() == ']') {
      ++pos_;
      return;
    }
    path_.push_back({nullptr, 0});
    for (;;) {
      readElement();
      const char c = peek();
      if (c == ',') {
        const std::size_t comma = pos_++;
        if (peek() == ']') {
          path_.pop_back();
          failAt(comma, ManifestIssue::TrailingComma);
        }
        ++path_.back().index;
        continue;
      }
      path_.pop_back();
      if (c != ']') failAt(pos_, ManifestIssue::ExpectedCommaOrBracket);
      ++pos_;
      return;
    }
  }

  std::string readStringValue(ManifestIssue wrongType = ManifestIssue::ExpectedString);
  // True (and consumed) when the next value is null.
  bool readNullIfPresent();
  // A string value, or nothing after skipping a value of another kind.
  std::optional<std::string> readStringIfString();
  std::int64_t readInteger(ManifestIssue wrongType);
  // Any well-formed value, its keys checked for duplicates like the known ones.
  void skipValue();

  // Where the next value starts.
  std::size_t valueOffset();
  // The entry being read, as ManifestDiagnostic::entry spells it.
  std::string entry() const;

 private:
  // One level of the entry path: a key, or an index when key is null. Keys
  // point into keys_, whose elements never move.
  struct Step {
    const std::string* key;
    std::size_t index;
  };
  struct KeyHash {
    std::size_t operator()(const std::pair<std::uint64_t, std::string>& key) const;
  };
  using KeySet = std::unordered_set<std::pair<std::uint64_t, std::string>, KeyHash>;

  [[noreturn]] void failAt(std::size_t offset, ManifestIssue issue, std::string key = {}) const;
  void skipWhitespace();
  // The next byte after whitespace; UnexpectedEnd at the end.
  char peek();
  void expectKind(char kind, ManifestIssue wrongType);
  // A key of the object numbered `object` and its colon; pushes the key on the
  // entry path and returns the offset of its opening quote.
  std::size_t readKey(std::uint64_t object);
  // Drops the keys of an object that has been read, from the `first` one on.
  void forgetKeys(std::size_t first);
  void readLiteral(std::string_view literal);
  void skipNumber();
  std::int64_t integerValue(std::string_view number, std::size_t start) const;
  std::uint32_t readHex4(std::size_t escape);
  void copyUtf8Sequence(std::string& out);
  void readEscape(std::string& out);
  char32_t readUnicodeEscape(std::size_t escape);
  std::string readString();

  std::string_view text_;
  std::size_t pos_ = 0;
  std::vector<JsonNote>* unknownKeys_;
  std::vector<Step> path_;
  // The keys of the objects being read, each with the number of its object,
  // in one set: the duplicate check stays linear in the text's size, however
  // many objects and keys it has. A closed object's keys leave the set, so it
  // stays as small as the open objects.
  KeySet keys_;
  std::vector<KeySet::iterator> openKeys_;
  std::uint64_t nextObject_ = 0;
};

// Line and column (see ManifestDiagnostic) of byte offsets into one text that
// holds valid UTF-8 up to each offset, asked for in increasing order.
class TextPlaces {
 public:
  explicit TextPlaces(std::string_view text) : text_(text) {}
  void advanceTo(std::size_t offset);
  std::size_t line() const { return line_; }
  std::size_t column() const { return column_; }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
  std::size_t line_ = 1;
  std::size_t column_ = 1;
};

}  // namespace qorvex
