// The toolbar panel block of a dialog file: inserted before its anchor, once.
#include <string>

#include "anchor_match.h"
#include "file_ops.h"
#include "lua_balance.h"
#include "passes.h"
#include "patch_block.h"
#include "run_context.h"

namespace qorvex {

Result<void> insertPanelBlock(RunContext& run, const DlgFileEntry& entry) {
  const std::string& path = entry.relativePath;
  auto content = readWholeFile(run, path);
  if (!content) {
    if (content.error() != Error::FileNotFound) return fail(content.error());
    run.addError(path + ": file not found, skipped.");
    return {};
  }
  const std::string& text = *content;
  const std::string marker = dialogBlockMarker(entry.insertBlockResource);
  if (findPatchBlock(text, marker)) {
    run.log.write({"[SKIP] ", path, " - QORVEX panel block already present.\n"});
    ++run.summary.filesSkipped;
    return {};
  }
  auto blockText = run.payload.resource(entry.insertBlockResource);
  if (!blockText) return fail(blockText.error());
  if (!text.empty() && containsIgnoringCr(text, *blockText)) {
    run.log.write({"[SKIP] ", path, " - QORVEX panel block already present (unmarked).\n"});
    ++run.summary.filesSkipped;
    return {};
  }
  AnchorSearch found = findAnchor(text, entry.anchorBefore, AnchorEnd::Start);
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
  return backUpAndWrite(run, path, patched);
}

}  // namespace qorvex
