// The undo module file itself, and the move of an init call that an older
// version placed inside the Mission Editor's module loop.
#include <string>

#include "anchor_match.h"
#include "file_ops.h"
#include "log_texts.h"
#include "lua_balance.h"
#include "passes.h"
#include "patch_block.h"
#include "run_context.h"
#include "survey.h"
#include "working_copy.h"

namespace qorvex {

namespace {
constexpr std::string_view kLoopHeader = "for k,modul in base.pairs(managerModulesME.modulesME) do";
}  // namespace

Result<void> deployUndoModule(RunContext& run) {
  const std::string& moduleText = run.manifest.moduleText;
  auto existing = readWholeFile(run, kModulePath);
  if (existing) {
    // A copy whose line ends were turned into CR LF is still the same module.
    if (equalIgnoringCr(*existing, moduleText)) {
      surveyModule(run, ModuleState::Current);
      run.log.write({texts::moduleUpToDate(kModuleLogName)});
      ++run.summary.filesSkipped;
      return {};
    }
    surveyModule(run, ModuleState::Outdated);
  } else if (existing.error() != Error::FileNotFound) {
    if (!surveying(run)) return fail(existing.error());
    surveyModule(run, ModuleState::Unreadable, existing.error());
    return {};
  } else {
    surveyModule(run, ModuleState::Absent);
  }
  run.log.write({texts::moduleLine(existing.has_value(), kModuleLogName)});
  const auto kind = existing ? PlannedChange::Kind::Replace : PlannedChange::Kind::Create;
  if (countedAsDryRun(run, kModulePath, kind, moduleText.size())) return {};
  Result<void> written = existing ? backUpAndWrite(run, kModulePath, moduleText)
                                  : writeNewFile(run, kModulePath, moduleText);
  if (!written) return written;
  // Checked after it is written, so that a broken module is reported while
  // the rest of the install goes on.
  if (auto fault = checkLuaBalance(moduleText)) {
    run.addError(texts::moduleUnbalanced(kModuleLogName, *fault));
  }
  return {};
}

Result<void> migrateStaleInitCall(RunContext& run, const FileEntry& file, const PatchEntry& patch,
                                  WorkingCopy& working) {
  const std::string& workingCopy = working.text();
  const std::size_t begin = working.findBeginLine(patch.marker);
  if (begin == std::string::npos || begin < kLoopHeader.size()) return {};
  const std::size_t header = workingCopy.rfind(kLoopHeader, begin - kLoopHeader.size());
  if (header == std::string::npos) return {};
  for (std::size_t i = header + kLoopHeader.size(); i < begin; ++i) {
    const char c = workingCopy[i];
    if (c != '\t' && c != '\n' && c != '\r' && c != ' ') return {};
  }
  std::uint32_t removed = 0;
  std::string migrated = removeFirstPatchBlock(workingCopy, patch.marker, removed);
  if (removed == 0) return {};
  working.replace(std::move(migrated));
  run.log.write({texts::migratingInitCall(file.relativePath, patch.id)});
  return {};
}

}  // namespace qorvex
