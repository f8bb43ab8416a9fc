// The INSTALL side: deploy the undo module, patch each Lua file after its
// anchors, then insert the panel block into each dialog file. CHECK runs the
// same decisions with dryRun set and writes nothing.
#include <string>
#include <vector>

#include "anchor_match.h"
#include "file_ops.h"
#include "lua_balance.h"
#include "patch_block.h"
#include "passes.h"
#include "run_context.h"
#include "survey.h"
#include "working_copy.h"

namespace qorvex {
namespace {

constexpr std::string_view kInitCallId = "toolbar_init_call";

Result<void> patchFile(RunContext& run, const FileEntry& file) {
  const std::string& path = file.relativePath;
  std::vector<std::string> blocks;
  std::size_t growth = 0;
  for (const PatchEntry& patch : file.patches) {
    blocks.push_back(buildPatchBlock(patch.marker, patch.text));
    growth += blocks.back().size();
  }
  // Read with room for every block, so that inserting them never moves the text.
  auto content = readWholeFile(run, path, growth);
  if (!content) {
    if (content.error() != Error::FileNotFound && !surveying(run)) return fail(content.error());
    for (const PatchEntry& patch : file.patches) {
      if (content.error() == Error::FileNotFound) {
        surveyEntry(run, path, patch.id, patch.marker, EntryState::FileMissing);
      } else {
        surveyUnreadable(run, path, patch.id, patch.marker, content.error());
      }
    }
    if (content.error() != Error::FileNotFound) return {};
    run.addError(path + ": file not found, skipped (" + std::to_string(file.patches.size()) +
                 " patch(es) not applied)");
    return {};
  }
  // What the survey shows is where the text is in the file as it lies on
  // disk, not in the copy that earlier entries' blocks have grown.
  const std::string original = surveying(run) ? *content : std::string();
  WorkingCopy working(std::move(*content), growth);
  std::uint32_t applied = 0;
  std::uint32_t alreadyApplied = 0;

  for (std::size_t i = 0; i < file.patches.size(); ++i) {
    const PatchEntry& patch = file.patches[i];
    if (patch.id == kInitCallId) {
      Result<void> migrated = migrateStaleInitCall(run, file, patch, working);
      if (!migrated) return migrated;
    }
    if (working.hasBeginLine(patch.marker)) {
      surveyApplied(run, path, patch.id, patch.marker, patch.text, working.text());
      ++alreadyApplied;
      continue;
    }
    if (!patch.text.empty() && !working.text().empty() && working.containsIgnoringCr(patch.text)) {
      surveyEntry(run, path, patch.id, patch.marker, EntryState::PresentUnmarked);
      ++alreadyApplied;
      continue;
    }
    AnchorSearch found = findAnchor(working.text(), patch.anchor, AnchorEnd::End);
    if (found.kind != AnchorSearch::Unique) {
      surveyAnchorProblem(run, path, patch.id, patch.marker, found.kind == AnchorSearch::Ambiguous,
                          original, patch.anchor);
    }
    switch (found.kind) {
      case AnchorSearch::NotFound:
        run.addError(path + " [" + patch.id +
                     "]: anchor not found - DCS update may have changed this file's structure. "
                     "Manual review required.");
        break;
      case AnchorSearch::Ambiguous:
        run.addError(path + " [" + patch.id + "]: anchor matched " + std::to_string(found.count) +
                     " times (ambiguous) - skipped to avoid corrupting the file. Manual review "
                     "required.");
        break;
      case AnchorSearch::Unique: {
        surveyEntry(run, path, patch.id, patch.marker, EntryState::Pending);
        working.insert(found.offset, blocks[i]);
        ++applied;
        break;
      }
    }
  }

  if (applied == 0) {
    run.log.write({"[SKIP] ", path, " - all ", std::to_string(alreadyApplied),
                   " patch(es) already applied.\n"});
    ++run.summary.filesSkipped;
    return {};
  }
  if (alreadyApplied == 0) {
    run.log.write({"[PATCH] ", path, " - applying ", std::to_string(applied), " patch(es).\n"});
  } else {
    run.log.write({"[PATCH] ", path, " - applying ", std::to_string(applied), " patch(es), ",
                   std::to_string(alreadyApplied), " already applied.\n"});
  }
  if (countedAsDryRun(run, path, PlannedChange::Kind::Replace, working.text().size())) return {};
  if (auto fault = checkLuaBalance(working.text())) {
    run.addError(path + ": post-patch balance check failed -> " + *fault + ". File was NOT written.");
    return {};
  }
  return backUpAndWrite(run, path, working.take());
}

}  // namespace

Result<void> installPass(RunContext& run) {
  if (Result<void> deployed = deployUndoModule(run); !deployed) {
    return run.failAt(kModulePath, deployed.error());
  }
  if (surveying(run)) run.surveyed = &run.survey->entries;
  for (const FileEntry& file : run.manifest.files) {
    if (Result<void> patched = patchFile(run, file); !patched) {
      return run.failAt(file.relativePath, patched.error());
    }
  }
  if (surveying(run)) run.surveyed = &run.survey->dialogs;
  for (const DlgFileEntry& entry : run.manifest.dlgFiles) {
    if (Result<void> inserted = insertPanelBlock(run, entry); !inserted) {
      return run.failAt(entry.relativePath, inserted.error());
    }
  }
  return {};
}

}  // namespace qorvex
