#pragma once

#include <cstddef>
#include <string_view>

namespace qorvex {

// The carried manifest in the engine's form, made from payload/manifest.json
// at build time (cmake/compile_manifest.cmake): a run that uses the carried
// payload does not parse it. The views point into the program's own data.
struct CompiledPatchEntry {
  std::string_view id;
  std::string_view marker;
  std::string_view anchor;
  std::string_view text;
};

struct CompiledFileEntry {
  std::string_view relativePath;
  const CompiledPatchEntry* patches;
  std::size_t patchCount;
};

struct CompiledDialogEntry {
  std::string_view relativePath;
  std::string_view insertBlockResource;
  std::string_view anchorBefore;
};

struct CompiledManifest {
  const CompiledFileEntry* files;
  std::size_t fileCount;
  const CompiledDialogEntry* dialogs;
  std::size_t dialogCount;
};

const CompiledManifest& compiledEmbeddedManifest();

}  // namespace qorvex
