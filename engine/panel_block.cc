// The toolbar panel block of a dialog file: inserted before its anchor, once.
#include <string>

#include "anchor_match.h"
#include "file_ops.h"
#include "lua_balance.h"
#include "passes.h"
#include "patch_block.h"
#include "run_context.h"
#include "survey.h"

namespace qorvex {

Result<void> insertPanelBlock(RunContext& run, const DlgFileEntry& entry) {
  const std::string& path = entry.relativePath;
  const std::string& id = entry.insertBlockResource;
  const std::string marker = dialogBlockMarker(entry.insertBlockResource);
  // The block is built before the file is read, so that the file is read
  // with room for it and the block goes in without copying the file.
  auto blockText = run.payload.resource(entry.insertBlockResource);
  const std::string block = blockText ? buildPatchBlock(marker, *blockText) : std::string();
  auto content = readWholeFile(run, path, block.size());
  if (!content) {
    if (content.error() == Error::FileNotFound) {
      surveyEntry(run, path, id, marker, EntryState::FileMissing);
    } else {
      if (!surveying(run)) return fail(content.error());
      surveyUnreadable(run, path, id, marker, content.error());
      return {};
    }
    run.addError(path + ": file not found, skipped.");
    return {};
  }
  std::string& text = *content;
  if (findPatchBlock(text, marker)) {
    if (blockText) {
      surveyApplied(run, path, id, marker, *blockText, text);
    } else {
      surveyEntry(run, path, id, marker, EntryState::Applied);  // nothing to compare with
    }
    run.log.write({"[SKIP] ", path, " - QORVEX panel block already present.\n"});
    ++run.summary.filesSkipped;
    return {};
  }
  if (!blockText) {
    if (!surveying(run)) return fail(blockText.error());
    surveyUnreadable(run, path, id, marker, blockText.error());
    return {};
  }
  if (!text.empty() && containsIgnoringCr(text, *blockText)) {
    surveyEntry(run, path, id, marker, EntryState::PresentUnmarked);
    run.log.write({"[SKIP] ", path, " - QORVEX panel block already present (unmarked).\n"});
    ++run.summary.filesSkipped;
    return {};
  }
  AnchorSearch found = findAnchor(text, entry.anchorBefore, AnchorEnd::Start);
  if (found.kind == AnchorSearch::Unique) {
    surveyEntry(run, path, id, marker, EntryState::Pending);
  } else {
    surveyAnchorProblem(run, path, id, marker, found.kind == AnchorSearch::Ambiguous, text,
                        entry.anchorBefore);
  }
  if (found.kind == AnchorSearch::NotFound) {
    run.addError(path +
                 ": anchor not found - DCS update may have changed this dialog's structure. "
                 "Manual review required.");
    return {};
  }
  if (found.kind == AnchorSearch::Ambiguous) {
    run.addError(path + ": anchor matched " + std::to_string(found.count) +
                 " times (ambiguous) - skipped. Manual review required.");
    return {};
  }
  run.log.write({"[PATCH] ", path, " - inserting QORVEX panel block.\n"});
  if (countedAsDryRun(run, path, PlannedChange::Kind::Replace, text.size() + block.size())) return {};
  text.insert(found.offset, block);
  if (auto fault = checkLuaBalance(text)) {
    run.addError(path + ": post-patch balance check failed -> " + *fault + ". File was NOT written.");
    return {};
  }
  return backUpAndWrite(run, path, std::move(text));
}

}  // namespace qorvex
