#include "preflight.h"

#include <algorithm>
#include <map>
#include <new>
#include <set>

#include "manifest.h"
#include "passes.h"
#include "run_context.h"
#include "temporary_file.h"

namespace qorvex {
namespace {

// The folder that holds `path`, or its nearest ancestor that exists when the
// run would create the folder; "" is the install directory itself.
std::string existingFolderOf(Directory& dir, std::string_view path) {
  std::string folder(folderOf(path));
  while (!folder.empty()) {
    auto kind = dir.kindOf(folder);
    if (kind && *kind == FileKind::Directory) break;
    folder.pop_back();
    folder.resize(folderOf(folder).size());
  }
  return folder;
}

class Checker {
 public:
  Checker(FileSystem& fs, Directory& dir, PreflightReport& report)
      : fs_(fs), dir_(dir), report_(report) {}

  void check(const PlannedChange& change) {
    if (change.kind != PlannedChange::Kind::Create) {
      Result<void> replaceable =
          waitWhileBusy(fs_, [&] { return dir_.checkReplaceable(change.path); });
      if (!replaceable) {
        const bool readOnly = replaceable.error() == Error::AccessDenied &&
                              dir_.isReadOnly(change.path).value_or(false);
        add(change.path, replaceable.error(), readOnly);
      }
    }
    // The new contents wait beside their files all at once: a folder must
    // take all of them together.
    Probe& probe = probes_[existingFolderOf(dir_, change.path)];
    if (probe.standsFor.empty()) probe.standsFor = change.path;
    probe.bytes += change.newSize;
  }

  // A probe file in each folder, as large as what the run would write there,
  // created and removed again.
  void probeFolders() {
    for (const auto& [folder, probe] : probes_) {
      std::string standsFor = folder + std::string(fileNameOf(probe.standsFor));
      auto written = writeTemporaryFile(fs_, dir_, standsFor, std::string(probe.bytes, '\0'));
      if (!written) {
        add(probe.standsFor, written.error(), false);
        continue;
      }
      (void)dir_.deleteFile(*written);
    }
  }

  void add(const std::string& path, Error error, bool readOnly) {
    if (!named_.insert(path).second) return;  // one problem per file is enough to act on
    report_.problems.push_back({path, error, readOnly});
  }

 private:
  struct Probe {
    std::string standsFor;
    std::uint64_t bytes = 0;
  };

  FileSystem& fs_;
  Directory& dir_;
  PreflightReport& report_;
  std::map<std::string, Probe> probes_;
  std::set<std::string> named_;
};

}  // namespace

PreflightReport preflight(const RunRequest& request, FileSystem& fs, const PayloadSource& payload) {
  PreflightReport report;
  try {
    auto manifest = loadManifest(payload);
    if (!manifest) return report;
    auto dir = openInstallDir(fs, request.installDir);
    if (!dir) return report;
    RunLog discarded(nullptr);
    RunContext context{.fs = fs,
                       .installDir = **dir,
                       .manifest = *manifest,
                       .payload = payload,
                       .log = discarded,
                       .uninstall = request.uninstall,
                       .dryRun = false,
                       .plan = &report.changes};
    Checker checker(fs, **dir, report);
    // A file that cannot even be read stops the passes, as it stops the run.
    if (Result<void> planned = runPass(context); !planned) {
      checker.add(context.failedPath, planned.error(), false);
    }
    for (const PlannedChange& change : report.changes) checker.check(change);
    checker.probeFolders();
    // In the order the run would meet them.
    auto order = [&](const PreflightProblem& problem) {
      auto it = std::find_if(report.changes.begin(), report.changes.end(),
                             [&](const PlannedChange& change) { return change.path == problem.path; });
      return it - report.changes.begin();
    };
    std::stable_sort(report.problems.begin(), report.problems.end(),
                     [&](const PreflightProblem& a, const PreflightProblem& b) { return order(a) < order(b); });
  } catch (const std::bad_alloc&) {
    report.problems.push_back({std::string(), Error::OutOfMemory, false});
  }
  return report;
}

}  // namespace qorvex
