#include "run.h"

#include <new>

#include "manifest.h"
#include "run_context.h"

namespace qorvex {
namespace {

RunResult completed(bool success) { return RunResult{false, Error::Unexpected, success}; }

RunResult runChecked(const RunRequest& request, FileSystem& fs, const PayloadSource& payload,
                     RunLog& log) {
  auto reportManifestFailure = [&](Error error) {
    log.logMessage({"ERROR: Failed to load embedded patch manifest -> ", errorName(error), "\r\n"});
    return completed(false);
  };
  auto manifestText = payload.manifestText();
  if (!manifestText) return reportManifestFailure(manifestText.error());
  auto parsed = parseManifest(*manifestText);
  if (!parsed) return reportManifestFailure(parsed.error());
  auto moduleText = payload.moduleText();
  if (!moduleText) return reportManifestFailure(moduleText.error());
  auto manifest = toEngineForm(std::move(*parsed), *moduleText);
  if (!manifest) return reportManifestFailure(manifest.error());

  // Every path of the run is relative to this directory; a relative request
  // could mean anything, so it is refused.
  Result<std::unique_ptr<Directory>> dir =
      isAbsolutePath(request.installDir) ? fs.openDirectory(request.installDir)
                                         : fail(Error::BadPathName);
  if (!dir) {
    log.logMessage({"ERROR: Could not open game install directory '", request.installDir, "' -> ",
                    errorName(dir.error()), "\r\n"});
    return completed(false);
  }

  RunContext context{fs, **dir, *manifest, payload, log, {}, request.uninstall, request.dryRun};
  Result<void> passed = request.uninstall ? uninstallPass(context) : installPass(context);
  if (!passed) return RunResult{true, passed.error(), false};
  writeSummary(log, context.summary);
  return completed(context.summary.success);
}

}  // namespace

RunResult run(const RunRequest& request, FileSystem& fs, const PayloadSource& payload,
              RunLog& log) {
  try {
    return runChecked(request, fs, payload, log);
  } catch (const std::bad_alloc&) {
    return RunResult{true, Error::OutOfMemory, false};
  }
}

}  // namespace qorvex
