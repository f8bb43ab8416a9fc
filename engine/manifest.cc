#include <new>

#include "manifest.h"

#include "compiled_manifest.h"

namespace qorvex {

Result<PatchManifest> toEngineForm(PatchManifestJson parsed, std::string moduleText) {
  try {
    PatchManifest manifest;
    manifest.files.reserve(parsed.files.size());
    for (FileEntryJson& file : parsed.files) {
      FileEntry entry;
      entry.relativePath = std::move(file.relativePath);
      entry.patches.reserve(file.patches.size());
      for (PatchEntryJson& patch : file.patches) {
        std::string text;
        if (patch.insertTextBefore && !patch.insertTextBefore->empty()) {
          text = std::move(*patch.insertTextBefore);
        } else if (patch.insertText && !patch.insertText->empty()) {
          text = std::move(*patch.insertText);
        }
        entry.patches.push_back({std::move(patch.id), std::move(patch.marker),
                                 std::move(patch.anchorAfter), std::move(text)});
      }
      manifest.files.push_back(std::move(entry));
    }
    manifest.dlgFiles = std::move(parsed.dlgFiles);
    manifest.moduleText = std::move(moduleText);
    return manifest;
  } catch (const std::bad_alloc&) {
    return fail(Error::OutOfMemory);
  }
}

Result<PatchManifest> toEngineForm(const CompiledManifest& compiled, std::string moduleText) {
  try {
    PatchManifest manifest;
    manifest.files.reserve(compiled.fileCount);
    for (std::size_t f = 0; f < compiled.fileCount; ++f) {
      const CompiledFileEntry& file = compiled.files[f];
      FileEntry entry;
      entry.relativePath = file.relativePath;
      entry.patches.reserve(file.patchCount);
      for (std::size_t p = 0; p < file.patchCount; ++p) {
        const CompiledPatchEntry& patch = file.patches[p];
        entry.patches.push_back({std::string(patch.id), std::string(patch.marker),
                                 std::string(patch.anchor), std::string(patch.text)});
      }
      manifest.files.push_back(std::move(entry));
    }
    manifest.dlgFiles.reserve(compiled.dialogCount);
    for (std::size_t d = 0; d < compiled.dialogCount; ++d) {
      const CompiledDialogEntry& dialog = compiled.dialogs[d];
      manifest.dlgFiles.push_back({std::string(dialog.relativePath),
                                   std::string(dialog.insertBlockResource),
                                   std::string(dialog.anchorBefore)});
    }
    manifest.moduleText = std::move(moduleText);
    return manifest;
  } catch (const std::bad_alloc&) {
    return fail(Error::OutOfMemory);
  }
}

}  // namespace qorvex
