#include "preflight.h"

#include <algorithm>
#include <map>
#include <new>
#include <optional>
#include <set>

#include "manifest.h"
#include "passes.h"
#include "run_context.h"
#include "temporary_file.h"

namespace qorvex {
namespace {

// The folder that holds `path`, if it exists; "" is the install directory
// itself. A folder the run would create is tried when the run makes it.
Result<std::optional<std::string>> existingFolderOf(Directory& dir, std::string_view path) {
  const std::string folder(folderOf(path));
  if (folder.empty()) return std::optional<std::string>(folder);
  auto kind = dir.kindOf(folder);
  if (kind) return *kind == FileKind::Directory ? std::optional<std::string>(folder) : std::nullopt;
  if (kind.error() == Error::FileNotFound || kind.error() == Error::NotDir) return std::nullopt;
  return fail(kind.error());
}

class Checker {
 public:
  Checker(Clock& clock, Random& random, Directory& dir)
      : clock_(clock), random_(random), dir_(dir) {}

  void check(const PlannedChange& change, bool probeFolders) {
    if (change.kind != PlannedChange::Kind::Create) {
      Result<void> replaceable =
          waitWhileBusy(clock_, [&] { return dir_.checkReplaceable(change.path); });
      if (!replaceable) {
        const bool readOnly = replaceable.error() == Error::AccessDenied &&
                              dir_.isReadOnly(change.path).value_or(false);
        add(change.path, replaceable.error(), readOnly);
      }
    }
    if (!probeFolders) return;
    // The new contents wait beside their files all at once: a folder must
    // have room for all of them together.
    auto folder = existingFolderOf(dir_, change.path);
    if (!folder) {
      add(change.path, folder.error(), false);
      return;
    }
    if (!*folder) return;
    Probe& probe = probes_[**folder];
    if (probe.standsFor.empty()) probe.standsFor = change.path;
    probe.bytes += change.newSize;
  }

  // In each folder a probe file, named as the run's temporary files, is
  // created and removed again, and the free space is compared with what the
  // run would write there.
  void probeFolders() {
    for (const auto& [folder, probe] : probes_) {
      const std::string standsFor = folder + std::string(fileNameOf(probe.standsFor));
      auto written = writeTemporaryFile(random_, dir_, standsFor, {});
      if (!written) {
        add(probe.standsFor, written.error(), false);
        continue;
      }
      if (Result<void> removed = dir_.deleteFile(*written); !removed) {
        add(probe.standsFor, removed.error(), false);
        continue;
      }
      auto space = dir_.freeSpace(folder);
      if (!space) {
        add(probe.standsFor, space.error(), false);
      } else if (*space < probe.bytes) {
        add(probe.standsFor, Error::NoSpaceLeft, false);
      }
    }
  }

  void add(const std::string& path, Error error, bool readOnly) {
    if (!named_.insert(path).second) return;  // one problem per file is enough to act on
    problems_.push_back({path, error, readOnly});
  }

  std::vector<PreflightProblem> take(const std::vector<PlannedChange>& plan) {
    // In the order the run would meet them.
    auto order = [&](const PreflightProblem& problem) {
      auto it = std::find_if(plan.begin(), plan.end(), [&](const PlannedChange& change) {
        return change.path == problem.path;
      });
      return it - plan.begin();
    };
    std::stable_sort(
        problems_.begin(), problems_.end(),
        [&](const PreflightProblem& a, const PreflightProblem& b) { return order(a) < order(b); });
    return std::move(problems_);
  }

 private:
  struct Probe {
    std::string standsFor;
    std::uint64_t bytes = 0;
  };

  Clock& clock_;
  Random& random_;
  Directory& dir_;
  std::map<std::string, Probe> probes_;
  std::set<std::string> named_;
  std::vector<PreflightProblem> problems_;
};

}  // namespace

std::vector<PreflightProblem> checkPlan(RunContext& run, bool probeFolders) {
  Checker checker(run.clock, run.random, run.installDir);
  for (const PlannedChange& change : run.plan) checker.check(change, probeFolders);
  if (probeFolders) checker.probeFolders();
  return checker.take(run.plan);
}

PreflightReport preflight(const RunRequest& request, FileSystem& fs, const PayloadSource& payload,
                          Clock& clock, Random& random) {
  PreflightReport report;
  try {
    auto manifest = loadManifest(payload);
    if (!manifest) return report;
    auto dir = openInstallDir(fs, request.installDir);
    if (!dir) return report;
    StringLogSink discarded;
    RunLog log(&discarded);
    RunContext context = contextFor(fs, **dir, clock, random, *manifest, payload, log);
    context.uninstall = request.uninstall;
    context.capture = &discarded;
    // A file that cannot even be read stops the passes, as it stops the run.
    Result<void> planned = runPass(context);
    report.problems = checkPlan(context, true);
    if (!planned) report.problems.push_back({context.failedPath, planned.error(), false});
    report.changes = std::move(context.plan);
  } catch (const std::bad_alloc&) {
    report.problems.push_back({std::string(), Error::OutOfMemory, false});
  }
  return report;
}

}  // namespace qorvex
