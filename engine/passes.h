#pragma once

// The steps of a run, for the engine's own files: the driver, the passes and
// pre-flight. Front ends use run.h and preflight.h.

#include <memory>
#include <string>
#include <string_view>

#include "error.h"
#include "file_system.h"
#include "payload.h"

namespace qorvex {

struct RunContext;
struct PatchManifest;
struct FileEntry;
struct PatchEntry;
struct DlgFileEntry;

// The manifest in engine form with the module text, its paths checked; the
// error a run reports as the manifest load failure.
Result<PatchManifest> loadManifest(const PayloadSource& payload);
// The install directory of a request; BadPathName for a relative path.
Result<std::unique_ptr<Directory>> openInstallDir(FileSystem& fs, std::string_view installDir);

Result<void> installPass(RunContext& run);
Result<void> uninstallPass(RunContext& run);
// The install or the uninstall pass, as the run asks.
Result<void> runPass(RunContext& run);

// Steps of the install pass.
Result<void> deployUndoModule(RunContext& run);
Result<void> migrateStaleInitCall(RunContext& run, const FileEntry& file, const PatchEntry& patch,
                                  std::string& workingCopy);
Result<void> insertPanelBlock(RunContext& run, const DlgFileEntry& entry);

}  // namespace qorvex
