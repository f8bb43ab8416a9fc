// The toolbar panel block of a dialog file: inserted before its anchor, once.
#include <string>

#include "anchor_match.h"
#include "file_ops.h"
#include "log_texts.h"
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
    run.addError(texts::dialogFileMissing(path));
    return {};
  }
  std::string& text = *content;
  if (findPatchBlock(text, marker)) {
    if (blockText) {
      surveyApplied(run, path, id, marker, *blockText, text);
    } else {
      surveyEntry(run, path, id, marker, EntryState::Applied);  // nothing to compare with
    }
    run.log.write({texts::panelPresent(path, false)});
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
    run.log.write({texts::panelPresent(path, true)});
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
    run.addError(texts::dialogAnchorNotFound(path));
    return {};
  }
  if (found.kind == AnchorSearch::Ambiguous) {
    run.addError(texts::dialogAnchorAmbiguous(path, found.count));
    return {};
  }
  run.log.write({texts::insertingPanel(path)});
  text.insert(found.offset, block);
  return replaceFile(run, path, std::move(text), "post-patch");
}

}  // namespace qorvex
