#pragma once

// The steps of a run, for the engine's own files: the driver, the passes and
// pre-flight. Front ends use run.h and preflight.h.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "error.h"
#include "file_system.h"
#include "payload.h"
#include "run.h"
#include "run_log.h"

namespace qorvex {

struct RunContext;
struct PatchManifest;
struct FileEntry;
struct PatchEntry;
struct DlgFileEntry;
class WorkingCopy;

// The manifest in engine form with the module text, its paths checked; the
// error a run reports as the manifest load failure.
Result<PatchManifest> loadManifest(const PayloadSource& payload);
// The install directory of a request; BadPathName for a relative path.
Result<std::unique_ptr<Directory>> openInstallDir(FileSystem& fs, std::string_view installDir);

// A second run waits this long for the first to finish, then gives up
// without touching anything.
inline constexpr unsigned kLockWaitMilliseconds = 5000;
inline constexpr unsigned kLockPollMilliseconds = 100;
// Takes the run's lock on the install, waiting up to kLockWaitMilliseconds
// while another run holds it: InstallBusy after that.
Result<void> lockInstall(Clock& clock, Directory& dir, LockMode mode);

Result<void> installPass(RunContext& run);
Result<void> uninstallPass(RunContext& run);
// The install or the uninstall pass, as the run asks.
Result<void> runPass(RunContext& run);

// Checks every change of the run's plan: a regular file inside the install
// that this process may replace (waiting a while for one that another
// program holds) and, with `probeFolders`, folders that take a new file and
// have room for what the run would write there.
std::vector<PreflightProblem> checkPlan(RunContext& run, bool probeFolders);
// Carries out the run's plan: checks it, writes every new content beside its
// file, makes the backups (logging the pass's lines up to each), then puts the
// changes in place. Problems found before anything changed go to `problems`.
Result<void> applyPlan(RunContext& run, RunLog& log, std::string_view passLog,
                       std::vector<PreflightProblem>& problems);

// Steps of the install pass.
Result<void> deployUndoModule(RunContext& run);
Result<void> migrateStaleInitCall(RunContext& run, const FileEntry& file, const PatchEntry& patch,
                                  WorkingCopy& workingCopy);
Result<void> insertPanelBlock(RunContext& run, const DlgFileEntry& entry);

}  // namespace qorvex
