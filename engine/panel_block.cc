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
  auto content = readWholeFile(run, path);
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
  const std::string& text = *content;
  if (findPatchBlock(text, marker)) {
    if (auto blockText = surveying(run) ? run.payload.resource(id) : fail(Error::Unexpected)) {
      surveyApplied(run, path, id, marker, *blockText, text);
    } else {
      surveyEntry(run, path, id, marker, EntryState::Applied);  // nothing to compare with
    }
    run.log.write({"[SKIP] ", path, " - QORVEX panel block already present.\n"});
    ++run.summary.filesSkipped;
    return {};
  }
  auto blockText = run.payload.resource(entry.insertBlockResource);
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
  const std::string block = buildPatchBlock(marker, *blockText);
  std::string patched;
  patched.reserve(text.size() + block.size());
  patched.append(text, 0, found.offset);
  patched.append(block);
  patched.append(text, found.offset, std::string::npos);

  run.log.write({"[PATCH] ", path, " - inserting QORVEX panel block.\n"});
  if (countedAsDryRun(run, path, PlannedChange::Kind::Replace, patched.size())) return {};
  if (auto fault = checkLuaBalance(patched)) {
    run.addError(path + ": post-patch balance check failed -> " + *fault + ". File was NOT written.");
    return {};
  }
  return backUpAndWrite(run, path, std::move(patched));
}

}  // namespace qorvex
