#include <new>

#include "manifest.h"

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

}  // namespace qorvex
