#include "run.h"

#include <map>
#include <new>
#include <set>

#include "manifest.h"
#include "passes.h"
#include "run_context.h"
#include "temporary_file.h"

namespace qorvex {
namespace {

// A second run waits this long for the first to finish, then gives up
// without touching anything.
constexpr unsigned kLockWaitMilliseconds = 5000;
constexpr unsigned kLockPollMilliseconds = 100;

RunResult completed(bool success) { return RunResult{false, Error::Unexpected, success, {}}; }

RunResult fatal(Error error, std::string path) { return RunResult{true, error, false, std::move(path)}; }

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

Result<void> lockInstall(FileSystem& fs, Directory& dir, bool dryRun) {
  const LockMode mode = dryRun ? LockMode::Shared : LockMode::Exclusive;
  for (unsigned waited = 0;; waited += kLockPollMilliseconds) {
    Result<void> locked = dir.tryLock(mode);
    if (locked || locked.error() != Error::InstallBusy || waited >= kLockWaitMilliseconds) {
      return locked;
    }
    fs.sleepMilliseconds(kLockPollMilliseconds);
  }
}

// Temporary files that a killed run left beside the files this run touches.
// The lock is held, so none of them belongs to a run still going.
Result<void> removeStaleTemporaryFiles(RunContext& run) {
  std::map<std::string, std::set<std::string>, std::less<>> namesByFolder;
  auto note = [&](std::string_view path) {
    namesByFolder[std::string(folderOf(path))].insert(std::string(fileNameOf(path)));
  };
  note(kModulePath);
  for (const FileEntry& file : run.manifest.files) note(file.relativePath);
  for (const DlgFileEntry& entry : run.manifest.dlgFiles) note(entry.relativePath);

  for (const auto& [folder, names] : namesByFolder) {
    auto entries = run.installDir.listFolder(folder);
    if (!entries) {
      if (entries.error() == Error::FileNotFound) continue;
      return run.failAt(std::string_view(folder).substr(0, folder.size() - 1), entries.error());
    }
    for (const std::string& entry : *entries) {
      for (const std::string& name : names) {
        if (!isTemporaryFileOf(entry, name)) continue;
        const std::string path = folder + entry;
        if (Result<void> removed = run.installDir.deleteFile(path); !removed) {
          return run.failAt(path, removed.error());
        }
      }
    }
  }
  return {};
}

RunResult runChecked(const RunRequest& request, FileSystem& fs, const PayloadSource& payload,
                     RunLog& log) {
  auto manifest = loadManifest(payload);
  if (!manifest) {
    log.logMessage(
        {"ERROR: Failed to load embedded patch manifest -> ", errorName(manifest.error()), "\r\n"});
    return completed(false);
  }
  auto dir = openInstallDir(fs, request.installDir);
  if (!dir) {
    log.logMessage({"ERROR: Could not open game install directory '", request.installDir, "' -> ",
                    errorName(dir.error()), "\r\n"});
    return completed(false);
  }
  // One run at a time: a second one that wrote meanwhile would mix its
  // changes and backups with this one's.
  if (Result<void> locked = lockInstall(fs, **dir, request.dryRun); !locked) {
    return fatal(locked.error(), {});
  }

  RunContext context{.fs = fs,
                     .installDir = **dir,
                     .manifest = *manifest,
                     .payload = payload,
                     .log = log,
                     .uninstall = request.uninstall,
                     .dryRun = request.dryRun};
  if (!request.dryRun) {
    if (Result<void> removed = removeStaleTemporaryFiles(context); !removed) {
      return fatal(removed.error(), context.failedPath);
    }
  }
  Result<void> passed = runPass(context);
  // Files handled before a fatal error keep their new content, as if each had
  // been written at once; the summary comes only when everything is on disk.
  Result<void> published = context.changes.publish();
  if (!passed) return fatal(passed.error(), context.failedPath);
  if (!published) return fatal(published.error(), context.changes.failedPath());
  writeSummary(log, context.summary);
  return completed(context.summary.success);
}

}  // namespace

Result<PatchManifest> loadManifest(const PayloadSource& payload) {
  auto manifestText = payload.manifestText();
  if (!manifestText) return fail(manifestText.error());
  auto parsed = parseManifest(*manifestText);
  if (!parsed) return fail(parsed.error());
  auto moduleText = payload.moduleText();
  if (!moduleText) return fail(moduleText.error());
  auto manifest = toEngineForm(std::move(*parsed), *moduleText);
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

Result<void> runPass(RunContext& run) { return run.uninstall ? uninstallPass(run) : installPass(run); }

RunResult run(const RunRequest& request, FileSystem& fs, const PayloadSource& payload,
              RunLog& log) {
  try {
    return runChecked(request, fs, payload, log);
  } catch (const std::bad_alloc&) {
    return RunResult{true, Error::OutOfMemory, false, {}};
  }
}

}  // namespace qorvex
