// The INSTALL side: deploy the undo module, patch each Lua file after its
// anchors, then insert the panel block into each dialog file. CHECK runs the
// same decisions with dryRun set and writes nothing.
#include <string>
#include <vector>

#include "anchor_match.h"
#include "file_ops.h"
#include "log_texts.h"
#include "patch_block.h"
#include "passes.h"
#include "run_context.h"
#include "survey.h"
#include "working_copy.h"

namespace qorvex {
namespace {

constexpr std::string_view kInitCallId = "toolbar_init_call";

// A Lua file that cannot be read: a missing one is an error entry, any other
// failure ends the pass (the survey records it and goes on).
Result<void> unreadableLuaFile(RunContext& run, const FileEntry& file, Error error) {
  if (error != Error::FileNotFound && !surveying(run)) return fail(error);
  for (const PatchEntry& patch : file.patches) {
    if (error == Error::FileNotFound) {
      surveyEntry(run, file.relativePath, patch.id, patch.marker, EntryState::FileMissing);
    } else {
      surveyUnreadable(run, file.relativePath, patch.id, patch.marker, error);
    }
  }
  if (error == Error::FileNotFound)
    run.addError(texts::luaFileMissing(file.relativePath, file.patches.size()));
  return {};
}

enum class EntryOutcome { AlreadyApplied, Inserted, Skipped };

// One entry on the file as the entries before it left it: already there
// (marked or not), inserted after its anchor, or an error entry when its
// anchor is missing or ambiguous. `original` is the file as it lies on disk,
// where the survey shows what it finds.
EntryOutcome applyEntry(RunContext& run, const std::string& path, const PatchEntry& patch,
                        std::string_view block, WorkingCopy& working, std::string_view original) {
  if (working.hasBeginLine(patch.marker)) {
    surveyApplied(run, path, patch.id, patch.marker, patch.text, working.text());
    return EntryOutcome::AlreadyApplied;
  }
  if (!patch.text.empty() && !working.text().empty() && working.containsIgnoringCr(patch.text)) {
    surveyEntry(run, path, patch.id, patch.marker, EntryState::PresentUnmarked);
    return EntryOutcome::AlreadyApplied;
  }
  const AnchorSearch found = findAnchor(working.text(), patch.anchor, AnchorEnd::End);
  switch (found.kind) {
    case AnchorSearch::Unique:
      surveyEntry(run, path, patch.id, patch.marker, EntryState::Pending);
      working.insert(found.offset, block);
      return EntryOutcome::Inserted;
    case AnchorSearch::NotFound:
      surveyAnchorProblem(run, path, patch.id, patch.marker, false, original, patch.anchor);
      run.addError(texts::luaAnchorNotFound(path, patch.id));
      return EntryOutcome::Skipped;
    case AnchorSearch::Ambiguous:
      surveyAnchorProblem(run, path, patch.id, patch.marker, true, original, patch.anchor);
      run.addError(texts::luaAnchorAmbiguous(path, patch.id, found.count));
      return EntryOutcome::Skipped;
  }
  return EntryOutcome::Skipped;
}

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
  if (!content) return unreadableLuaFile(run, file, content.error());
  // What the survey shows is where the text is in the file as it lies on
  // disk, not in the copy that earlier entries' blocks have grown.
  const std::string original = surveying(run) ? *content : std::string();
  WorkingCopy working(std::move(*content), growth);
  std::uint32_t applied = 0;
  std::uint32_t alreadyApplied = 0;
  for (std::size_t i = 0; i < file.patches.size(); ++i) {
    const PatchEntry& patch = file.patches[i];
    if (patch.id == kInitCallId) {
      if (Result<void> migrated = migrateStaleInitCall(run, file, patch, working); !migrated)
        return migrated;
    }
    switch (applyEntry(run, path, patch, blocks[i], working, original)) {
      case EntryOutcome::AlreadyApplied: ++alreadyApplied; break;
      case EntryOutcome::Inserted: ++applied; break;
      case EntryOutcome::Skipped: break;
    }
  }

  if (applied == 0) {
    run.log.write({texts::allApplied(path, alreadyApplied)});
    ++run.summary.filesSkipped;
    return {};
  }
  run.log.write({texts::patchingFile(path, applied, alreadyApplied)});
  return replaceFile(run, path, working.take(), "post-patch");
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
