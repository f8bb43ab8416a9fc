#pragma once
// The manifest's keys and types as the run reads them, shared by parseManifest
// and checkManifest so that both always read the same format.

#include <string_view>
#include <vector>

#include "json_reader.h"
#include "manifest.h"

namespace qorvex {

// What checkManifest wants to know besides the parsed form: the warnings, and
// where each relativePath stands, since paths are checked only once the whole
// text has been read.
struct ManifestNotes {
  std::vector<JsonNote> warnings;
  std::vector<JsonNote> filePaths;
  std::vector<JsonNote> dlgPaths;
};

// The whole text as one manifest; throws JsonFailure at the first problem.
// Takes notes when `notes` is given.
PatchManifestJson readManifest(std::string_view text, ManifestNotes* notes);

}  // namespace qorvex
