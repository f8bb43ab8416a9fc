#pragma once
// Where a manifest goes wrong, for people who write manifests: the run itself
// only reports an error name (parseManifest), which leaves the author to hunt
// through a long file for it.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "error.h"

namespace qorvex {

enum class ManifestIssue {
  // Not well-formed JSON (SyntaxError).
  ExpectedValue,
  ExpectedKey,
  ExpectedColon,
  ExpectedCommaOrBrace,
  ExpectedCommaOrBracket,
  TrailingComma,
  TrailingText,
  BadLiteral,
  BadNumber,
  ControlCharacter,
  BadEscape,
  BadUnicodeEscape,
  LoneSurrogate,
  InvalidUtf8,
  // The text ends inside a value (UnexpectedEndOfInput).
  UnexpectedEnd,
  // A value of the wrong type (UnexpectedToken).
  ExpectedObject,
  ExpectedArray,
  ExpectedString,
  ExpectedStringOrNull,
  ExpectedIntegerOrNull,
  MissingKey,        // MissingField
  DuplicateKey,      // DuplicateField
  FractionalNumber,  // InvalidNumber
  NumberOutOfRange,  // Overflow
  BadPath,           // BadPathName
  OutOfMemory,
  // Warnings: the manifest loads, but probably not as its author meant.
  UnknownKey,
  EmptyInsertText,
};

struct ManifestDiagnostic {
  ManifestIssue issue;
  // Both count from 1; the column counts characters (code points), a tab as
  // one. CR LF, a lone CR and LF each end a line. 0 and 0 for OutOfMemory,
  // which has no place.
  std::size_t line = 0;
  std::size_t column = 0;
  // The entry by the manifest's own key names and zero-based indexes, as
  // "files[3].patches[1].anchorAfter"; a key that is not a plain word is
  // written ["like this"]. Empty for the top level itself.
  std::string entry;
  // The absent key of MissingKey.
  std::string key;
};

struct ManifestCheck {
  // In the order of their places in the text.
  std::vector<ManifestDiagnostic> warnings;
  // What stops the manifest from loading; the run reports it as
  // manifestIssueError(error->issue).
  std::optional<ManifestDiagnostic> error;
};

// Reads a manifest text as a run loads it (parseManifest, then the check of
// every relativePath) and places every problem in the text. The error is the
// one the run reports; warnings are unknown keys (a top-level "$schema" is
// known: editors want it) and patch entries whose text to insert is empty.
ManifestCheck checkManifest(std::string_view text);

// The error name a run reports for an issue that stops the load.
Error manifestIssueError(ManifestIssue issue);

}  // namespace qorvex
