// Carrying out a run's plan. The order is what keeps the user's files safe:
// nothing is changed before every change is known to be possible and every
// new content lies written beside its file; then come the backups, which are
// links and cost nothing; then the changes take effect, all in one short
// stretch that ChangeSet::publish() makes durable.
#include <map>
#include <set>
#include <string>

#include "passes.h"
#include "run_context.h"
#include "temporary_file.h"

namespace qorvex {
namespace {

// Temporary files that a killed run left beside the files this run touches.
// The lock is held, so none of them belongs to a run still going.
Result<void> removeStaleTemporaryFiles(RunContext& run) {
  std::map<std::string, std::set<std::string>, std::less<>> namesByFolder;
  for (const PlannedChange& change : run.plan) {
    namesByFolder[std::string(folderOf(change.path))].insert(std::string(fileNameOf(change.path)));
  }
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

// Writes every new content beside its file. A full disk or a folder that
// refuses new files shows here, while nothing has changed yet.
Result<void> stageEveryChange(RunContext& run, std::vector<std::string>& tempPaths) {
  for (PlannedChange& change : run.plan) {
    std::string tempPath;
    if (change.kind == PlannedChange::Kind::Delete) {
      run.changes.stageDeletion(change.path);
    } else {
      if (change.kind == PlannedChange::Kind::Create) {
        if (Result<void> made = makeFolders(run.installDir, folderOf(change.path)); !made) {
          return run.failAt(change.path, made.error());
        }
      }
      auto staged = run.changes.stageReplacement(change.path, change.content);
      if (!staged) return run.failAt(change.path, staged.error());
      tempPath = std::move(*staged);
      std::string().swap(change.content);  // on disk now; the memory goes
    }
    tempPaths.push_back(std::move(tempPath));
  }
  return {};
}

}  // namespace

Result<void> applyPlan(RunContext& run, RunLog& log, std::string_view passLog,
                       std::vector<PreflightProblem>& problems) {
  // The folders are only probed once something is wrong, to name every file
  // the same fault stops; otherwise staging tries each of them anyway.
  problems = checkPlan(run, false);
  if (!problems.empty()) {
    // A fault that has gone meanwhile leaves the first answer standing.
    if (std::vector<PreflightProblem> all = checkPlan(run, true); !all.empty())
      problems = std::move(all);
    return run.failAt(problems.front().path, problems.front().error);
  }
  if (Result<void> removed = removeStaleTemporaryFiles(run); !removed) return removed;

  std::vector<std::string> tempPaths;
  if (Result<void> staged = stageEveryChange(run, tempPaths); !staged) {
    run.changes.abandon();
    problems = checkPlan(run, true);
    if (!problems.empty()) return run.failAt(problems.front().path, problems.front().error);
    problems.push_back({run.failedPath, staged.error(), false});
    return staged;
  }

  // The backup of a change is the file as the changes before it leave it:
  // the file itself, or the staged content of an earlier change to it.
  std::map<std::string, std::string, std::less<>> contentOf;
  std::size_t logged = 0;
  for (std::size_t i = 0; i < run.plan.size(); ++i) {
    const PlannedChange& change = run.plan[i];
    log.appendLog(passLog.substr(logged, change.logOffset - logged));
    logged = change.logOffset;
    if (change.kind != PlannedChange::Kind::Create) {
      auto earlier = contentOf.find(change.path);
      const std::string_view source = earlier == contentOf.end()
                                          ? std::string_view(change.path)
                                          : std::string_view(earlier->second);
      if (auto backedUp = createBackup(run, log, change.path, source); !backedUp) {
        run.changes.abandon();
        return run.failAt(change.path, backedUp.error());
      }
    }
    if (!tempPaths[i].empty()) contentOf[change.path] = tempPaths[i];
  }
  log.appendLog(passLog.substr(logged));

  if (Result<void> published = run.changes.publish(); !published) {
    run.failedPath = run.changes.failedPath();
    return published;
  }
  return {};
}

}  // namespace qorvex
