// The UNINSTALL side: take every block of the manifest out of the Lua files and
// the dialog files, then delete the undo module. Earlier backups stay; each
// changed or deleted file gets a fresh one.
#include <string>

#include "file_ops.h"
#include "log_texts.h"
#include "patch_block.h"
#include "passes.h"
#include "run_context.h"

namespace qorvex {
namespace {

Result<void> unpatchLuaFile(RunContext& run, const FileEntry& file) {
  auto content = readWholeFile(run, file.relativePath);
  if (!content) {
    if (content.error() == Error::FileNotFound) return {};
    return fail(content.error());
  }
  if (file.patches.empty()) {
    ++run.summary.filesSkipped;
    return {};
  }
  std::uint32_t removed = 0;
  std::string text = std::move(*content);
  for (const PatchEntry& patch : file.patches) {
    if (eraseFirstPatchBlock(text, patch.marker)) ++removed;
  }
  if (removed == 0) {
    ++run.summary.filesSkipped;
    return {};
  }
  run.log.write({texts::removingBlocks(file.relativePath, removed)});
  return replaceFile(run, file.relativePath, std::move(text), {});
}

Result<void> unpatchDialogFile(RunContext& run, const DlgFileEntry& entry) {
  auto content = readWholeFile(run, entry.relativePath);
  if (!content) {
    if (content.error() == Error::FileNotFound) return {};
    return fail(content.error());
  }
  std::string& text = *content;
  if (!eraseFirstPatchBlock(text, dialogBlockMarker(entry.insertBlockResource))) {
    ++run.summary.filesSkipped;
    return {};
  }
  run.log.write({texts::removingPanel(entry.relativePath)});
  return replaceFile(run, entry.relativePath, std::move(text), "post-uninstall");
}

Result<void> removeModule(RunContext& run) {
  // Only a module that is surely not there is passed over; anything else the
  // lookup meets (a link, a folder, an unreadable folder) stops the run.
  auto kind = kindOf(run, kModulePath);
  if (!kind) {
    if (kind.error() != Error::FileNotFound) return fail(kind.error());
    ++run.summary.filesSkipped;
    return {};
  }
  run.log.write({texts::removingModule(kModuleLogName)});
  if (countedAsDryRun(run, kModulePath, PlannedChange::Kind::Delete, 0)) return {};
  return backUpAndDelete(run, kModulePath);
}

}  // namespace

Result<void> uninstallPass(RunContext& run) {
  for (const FileEntry& file : run.manifest.files) {
    if (Result<void> done = unpatchLuaFile(run, file); !done) {
      return run.failAt(file.relativePath, done.error());
    }
  }
  for (const DlgFileEntry& entry : run.manifest.dlgFiles) {
    if (Result<void> done = unpatchDialogFile(run, entry); !done) {
      return run.failAt(entry.relativePath, done.error());
    }
  }
  if (Result<void> done = removeModule(run); !done) return run.failAt(kModulePath, done.error());
  return {};
}

}  // namespace qorvex
