#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "error.h"

namespace qorvex {

struct CompiledManifest;

// The manifest as the JSON text states it.
struct PatchEntryJson {
  std::string id;
  std::string marker;
  std::string anchorAfter;
  std::optional<std::int64_t> anchorAfterOccurrence;
  std::optional<std::string> insertText;
  std::optional<std::string> insertTextBefore;
};

struct FileEntryJson {
  std::string relativePath;
  std::vector<PatchEntryJson> patches;
};

struct DlgFileEntry {
  std::string relativePath;
  std::string insertBlockResource;
  std::string anchorBefore;
};

struct PatchManifestJson {
  std::string version;
  std::string description;
  std::vector<FileEntryJson> files;
  std::vector<DlgFileEntry> dlgFiles;
};

// The form the passes read.
struct PatchEntry {
  std::string id;
  std::string marker;
  std::string anchor;
  std::string text;
};

struct FileEntry {
  std::string relativePath;
  std::vector<PatchEntry> patches;
};

struct PatchManifest {
  std::vector<FileEntry> files;
  std::vector<DlgFileEntry> dlgFiles;
  std::string moduleText;
};

// Strict JSON (RFC 8259): unknown keys skipped, duplicate keys refused,
// required keys checked at the closing brace. Errors: SyntaxError,
// UnexpectedEndOfInput, UnexpectedToken, MissingField, DuplicateField,
// InvalidNumber, Overflow, OutOfMemory.
Result<PatchManifestJson> parseManifest(std::string_view text);

// The game's own version file (autoupdate.cfg): one JSON object with a string
// "version" and perhaps a "branch"; other keys are skipped.
struct GameVersion {
  std::string version;
  std::optional<std::string> branch;
};
Result<GameVersion> parseGameVersion(std::string_view text);

// insertTextBefore when present and not empty, otherwise insertText when
// present and not empty, otherwise the empty text.
Result<PatchManifest> toEngineForm(PatchManifestJson parsed, std::string moduleText);
// The same, for the carried manifest read at build time.
Result<PatchManifest> toEngineForm(const CompiledManifest& compiled, std::string moduleText);

}  // namespace qorvex
