// The manifest's keys and their types, read with the strict JSON reader.
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "manifest_read.h"

namespace qorvex {
namespace {

void notePath(JsonReader& in, std::vector<JsonNote>* places) {
  if (places != nullptr) places->push_back({ManifestIssue::BadPath, in.valueOffset(), in.entry()});
}

PatchEntryJson readPatchEntry(JsonReader& in, ManifestNotes* notes) {
  PatchEntryJson entry;
  const std::size_t brace = in.readObject({
      {"id", true, [&] { entry.id = in.readStringValue(); }},
      {"marker", true, [&] { entry.marker = in.readStringValue(); }},
      {"anchorAfter", true, [&] { entry.anchorAfter = in.readStringValue(); }},
      {"anchorAfterOccurrence", false,
       [&] {
         if (!in.readNullIfPresent()) {
           entry.anchorAfterOccurrence = in.readInteger(ManifestIssue::ExpectedIntegerOrNull);
         }
       }},
      {"insertText", false,
       [&] {
         if (!in.readNullIfPresent())
           entry.insertText = in.readStringValue(ManifestIssue::ExpectedStringOrNull);
       }},
      {"insertTextBefore", false,
       [&] {
         if (!in.readNullIfPresent()) {
           entry.insertTextBefore = in.readStringValue(ManifestIssue::ExpectedStringOrNull);
         }
       }},
  });
  // An empty block is legal, but far more often a misspelt key or a
  // forgotten text than a wish.
  const bool empty = (!entry.insertTextBefore || entry.insertTextBefore->empty()) &&
                     (!entry.insertText || entry.insertText->empty());
  if (notes != nullptr && empty)
    notes->warnings.push_back({ManifestIssue::EmptyInsertText, brace, in.entry()});
  return entry;
}

FileEntryJson readFileEntry(JsonReader& in, ManifestNotes* notes) {
  FileEntryJson entry;
  in.readObject({
      {"relativePath", true,
       [&] {
         notePath(in, notes != nullptr ? &notes->filePaths : nullptr);
         entry.relativePath = in.readStringValue();
       }},
      {"patches", true,
       [&] { in.readArray([&] { entry.patches.push_back(readPatchEntry(in, notes)); }); }},
  });
  return entry;
}

DlgFileEntry readDlgFileEntry(JsonReader& in, ManifestNotes* notes) {
  DlgFileEntry entry;
  in.readObject({
      {"relativePath", true,
       [&] {
         notePath(in, notes != nullptr ? &notes->dlgPaths : nullptr);
         entry.relativePath = in.readStringValue();
       }},
      {"insertBlockResource", true, [&] { entry.insertBlockResource = in.readStringValue(); }},
      {"anchorBefore", true, [&] { entry.anchorBefore = in.readStringValue(); }},
  });
  return entry;
}

}  // namespace

PatchManifestJson readManifest(std::string_view text, ManifestNotes* notes) {
  JsonReader in(text, notes != nullptr ? &notes->warnings : nullptr);
  PatchManifestJson manifest;
  in.readObject({
      {"version", true, [&] { manifest.version = in.readStringValue(); }},
      {"description", true, [&] { manifest.description = in.readStringValue(); }},
      {"files", true,
       [&] { in.readArray([&] { manifest.files.push_back(readFileEntry(in, notes)); }); }},
      {"dlgFiles", true,
       [&] { in.readArray([&] { manifest.dlgFiles.push_back(readDlgFileEntry(in, notes)); }); }},
      // Where editors find the schema; as ignored as an unknown key, but
      // documented, so no warning.
      {"$schema", false, [&] { in.skipValue(); }},
  });
  in.expectEnd();
  return manifest;
}

Result<PatchManifestJson> parseManifest(std::string_view text) {
  try {
    return readManifest(text, nullptr);
  } catch (const JsonFailure& failure) {
    return fail(manifestIssueError(failure.issue));
  } catch (const std::bad_alloc&) {
    return fail(Error::OutOfMemory);
  }
}

Error manifestIssueError(ManifestIssue issue) {
  switch (issue) {
    case ManifestIssue::ExpectedValue:
    case ManifestIssue::ExpectedKey:
    case ManifestIssue::ExpectedColon:
    case ManifestIssue::ExpectedCommaOrBrace:
    case ManifestIssue::ExpectedCommaOrBracket:
    case ManifestIssue::TrailingComma:
    case ManifestIssue::TrailingText:
    case ManifestIssue::BadLiteral:
    case ManifestIssue::BadNumber:
    case ManifestIssue::ControlCharacter:
    case ManifestIssue::BadEscape:
    case ManifestIssue::BadUnicodeEscape:
    case ManifestIssue::LoneSurrogate:
    case ManifestIssue::InvalidUtf8: return Error::SyntaxError;
    case ManifestIssue::UnexpectedEnd: return Error::UnexpectedEndOfInput;
    case ManifestIssue::ExpectedObject:
    case ManifestIssue::ExpectedArray:
    case ManifestIssue::ExpectedString:
    case ManifestIssue::ExpectedStringOrNull:
    case ManifestIssue::ExpectedIntegerOrNull: return Error::UnexpectedToken;
    case ManifestIssue::MissingKey: return Error::MissingField;
    case ManifestIssue::DuplicateKey: return Error::DuplicateField;
    case ManifestIssue::FractionalNumber: return Error::InvalidNumber;
    case ManifestIssue::NumberOutOfRange: return Error::Overflow;
    case ManifestIssue::BadPath: return Error::BadPathName;
    case ManifestIssue::OutOfMemory: return Error::OutOfMemory;
    // Warnings stop nothing.
    case ManifestIssue::UnknownKey:
    case ManifestIssue::EmptyInsertText: break;
  }
  return Error::Unexpected;
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
  } catch (const JsonFailure& failure) {
    return fail(manifestIssueError(failure.issue));
  } catch (const std::bad_alloc&) {
    return fail(Error::OutOfMemory);
  }
}

}  // namespace qorvex
