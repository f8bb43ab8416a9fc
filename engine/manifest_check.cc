// Places a manifest's problems: the reader notes offsets and entries on the
// way, the paths are checked as the run checks them, and offsets become lines
// and columns last, counting forward through the text.
#include <algorithm>
#include <new>
#include <optional>
#include <string>

#include "file_system.h"
#include "manifest_check.h"
#include "manifest_read.h"

namespace qorvex {
namespace {

// The first relativePath that the run would refuse, in the run's order: every
// Lua file, then every dialog file.
std::optional<JsonNote> firstBadPath(const PatchManifestJson& manifest,
                                     const ManifestNotes& notes) {
  for (std::size_t i = 0; i < manifest.files.size(); ++i) {
    if (!checkManifestPath(manifest.files[i].relativePath)) return notes.filePaths[i];
  }
  for (std::size_t i = 0; i < manifest.dlgFiles.size(); ++i) {
    if (!checkManifestPath(manifest.dlgFiles[i].relativePath)) return notes.dlgPaths[i];
  }
  return std::nullopt;
}

ManifestDiagnostic placed(TextPlaces& places, ManifestIssue issue, std::size_t offset,
                          std::string entry, std::string key = {}) {
  places.advanceTo(offset);
  return ManifestDiagnostic{issue, places.line(), places.column(), std::move(entry),
                            std::move(key)};
}

}  // namespace

ManifestCheck checkManifest(std::string_view text) {
  ManifestCheck check;
  try {
    ManifestNotes notes;
    std::optional<JsonFailure> failure;
    try {
      const PatchManifestJson manifest = readManifest(text, &notes);
      if (std::optional<JsonNote> bad = firstBadPath(manifest, notes)) {
        failure = JsonFailure{bad->issue, bad->offset, std::move(bad->entry), {}};
      }
    } catch (JsonFailure& stopped) {
      failure = std::move(stopped);
    }
    // Places are counted front to back, so warnings go in text order: an
    // empty text is noted at its entry's '{' only once the '}' is read.
    std::stable_sort(notes.warnings.begin(), notes.warnings.end(),
                     [](const JsonNote& a, const JsonNote& b) { return a.offset < b.offset; });
    TextPlaces places(text);
    for (JsonNote& note : notes.warnings) {
      check.warnings.push_back(placed(places, note.issue, note.offset, std::move(note.entry)));
    }
    if (failure) {
      TextPlaces errorPlaces(text);
      check.error = placed(errorPlaces, failure->issue, failure->offset, std::move(failure->entry),
                           std::move(failure->key));
    }
  } catch (const std::bad_alloc&) {
    check.warnings.clear();
    check.error = ManifestDiagnostic{ManifestIssue::OutOfMemory, 0, 0, {}, {}};
  }
  return check;
}

}  // namespace qorvex
