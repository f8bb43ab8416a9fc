#include "run.h"

#include <new>
#include <optional>

#include "log_texts.h"
#include "manifest.h"
#include "passes.h"
#include "run_context.h"

namespace qorvex {
namespace {

RunResult completed(bool success) { return RunResult{false, Error::Unexpected, success, {}}; }

RunResult summarized(const RunSummary& summary) {
  RunResult result = completed(summary.success);
  result.summarized = true;
  result.summary = summary;
  return result;
}

RunResult fatal(Error error, std::string path) {
  return RunResult{true, error, false, std::move(path)};
}

// Every path the manifest names is checked before anything is opened, so a
// manifest with one bad path writes nothing at all.
Result<void> checkManifestPaths(const PatchManifest& manifest) {
  for (const FileEntry& file : manifest.files) {
    if (Result<void> checked = checkManifestPath(file.relativePath); !checked) return checked;
  }
  for (const DlgFileEntry& entry : manifest.dlgFiles) {
    if (Result<void> checked = checkManifestPath(entry.relativePath); !checked) return checked;
  }
  return {};
}

RunResult runChecked(const RunRequest& request, FileSystem& fs, const PayloadSource& payload,
                     RunLog& log, Clock& clock, Random& random) {
  auto manifest = loadManifest(payload);
  if (!manifest) {
    log.logMessage({texts::manifestNotLoaded(errorName(manifest.error()))});
    return completed(false);
  }
  auto dir = openInstallDir(fs, request.installDir);
  if (!dir) {
    log.logMessage({texts::installDirNotOpened(request.installDir, errorName(dir.error()))});
    return completed(false);
  }
  // One run at a time: a second one that wrote meanwhile would mix its
  // changes and backups with this one's.
  const LockMode lockMode = request.dryRun ? LockMode::Shared : LockMode::Exclusive;
  if (Result<void> locked = lockInstall(clock, **dir, lockMode); !locked) {
    return fatal(locked.error(), {});
  }

  // A dry run logs as it decides; a run that writes keeps the pass's lines
  // until it carries out the plan, so that each backup line lands after the
  // lines of its file.
  StringLogSink passLog;
  RunLog captured(&passLog);
  RunContext context =
      contextFor(fs, **dir, clock, random, *manifest, payload, request.dryRun ? log : captured);
  context.uninstall = request.uninstall;
  context.dryRun = request.dryRun;
  if (!request.dryRun) context.capture = &passLog;
  Result<void> passed = runPass(context);
  if (request.dryRun) {
    if (!passed) return fatal(passed.error(), context.failedPath);
    RunResult result = summarized(context.summary);
    if (request.checkChanges) result.problems = checkPlan(context, true);
    writeSummary(log, context.summary);
    return result;
  }
  if (!passed) {
    // A file the passes could not read: nothing was changed.
    RunResult result = fatal(passed.error(), context.failedPath);
    result.problems.push_back({context.failedPath, passed.error(), false});
    return result;
  }
  std::vector<PreflightProblem> problems;
  if (Result<void> applied = applyPlan(context, log, passLog.text(), problems); !applied) {
    RunResult result = fatal(applied.error(), context.failedPath);
    result.problems = std::move(problems);
    return result;
  }
  writeSummary(log, context.summary);
  return summarized(context.summary);
}

}  // namespace

Result<PatchManifest> loadManifest(const PayloadSource& payload) {
  // The carried manifest was read at build time; any other is parsed here.
  const CompiledManifest* compiled = payload.compiledManifest();
  std::optional<PatchManifestJson> parsed;
  if (compiled == nullptr) {
    auto manifestText = payload.manifestText();
    if (!manifestText) return fail(manifestText.error());
    auto json = parseManifest(*manifestText);
    if (!json) return fail(json.error());
    parsed = std::move(*json);
  }
  auto moduleText = payload.moduleText();
  if (!moduleText) return fail(moduleText.error());
  auto manifest = compiled != nullptr ? toEngineForm(*compiled, std::move(*moduleText))
                                      : toEngineForm(std::move(*parsed), std::move(*moduleText));
  if (!manifest) return fail(manifest.error());
  if (Result<void> paths = checkManifestPaths(*manifest); !paths) return fail(paths.error());
  return manifest;
}

Result<std::unique_ptr<Directory>> openInstallDir(FileSystem& fs, std::string_view installDir) {
  // Every path of the run is relative to this directory; a relative request
  // could mean anything, so it is refused.
  if (!isAbsolutePath(installDir)) return fail(Error::BadPathName);
  return fs.openDirectory(installDir);
}

Result<void> lockInstall(Clock& clock, Directory& dir, LockMode mode) {
  for (unsigned waited = 0;; waited += kLockPollMilliseconds) {
    Result<void> locked = dir.tryLock(mode);
    if (locked || locked.error() != Error::InstallBusy || waited >= kLockWaitMilliseconds) {
      return locked;
    }
    clock.sleepMilliseconds(kLockPollMilliseconds);
  }
}

Result<void> runPass(RunContext& run) {
  return run.uninstall ? uninstallPass(run) : installPass(run);
}

RunResult run(const RunRequest& request, FileSystem& fs, const PayloadSource& payload, RunLog& log,
              Clock& clock, Random& random) {
  try {
    return runChecked(request, fs, payload, log, clock, random);
  } catch (const std::bad_alloc&) {
    return RunResult{true, Error::OutOfMemory, false, {}};
  }
}

}  // namespace qorvex
