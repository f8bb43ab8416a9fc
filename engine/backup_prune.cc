#include "backup_prune.h"

#include <map>
#include <new>
#include <utility>

#include "file_ops.h"

namespace qorvex {
namespace {

// A file whose bytes a later backup may share: a backup that stays, or the
// file itself.
struct Keeper {
  std::string path;
  FileInfo info;
};

using FileId = std::pair<std::uint64_t, std::uint64_t>;

FileId idOf(const FileInfo& info) { return {info.volume, info.index}; }

// The whole content of a file that was `size` bytes long when it was looked
// at; FileChanged when it is not that long any more.
Result<std::string> readAsFound(Directory& dir, const std::string& path, std::uint64_t size) {
  auto content = dir.readFile(path, size);
  if (!content) {
    return fail(content.error() == Error::StreamTooLong ? Error::FileChanged : content.error());
  }
  if (content->size() != size) return fail(Error::FileChanged);
  return content;
}

// The first keeper whose bytes are exactly `content`; null when none is. A
// keeper that cannot be read keeps nothing for anyone.
const Keeper* keeperWithBytes(Directory& dir, const std::vector<const Keeper*>& keepers,
                              const std::string& content) {
  for (const Keeper* keeper : keepers) {
    auto bytes = readAsFound(dir, keeper->path, keeper->info.size);
    if (bytes && *bytes == content) return keeper;
  }
  return nullptr;
}

// A file that is gone, or is no longer a regular file, is not the one that
// was compared.
Error changedIfGone(Error error) {
  switch (error) {
    case Error::FileNotFound:
    case Error::LinkRefused:
    case Error::IsDir:
    case Error::NotAFile: return Error::FileChanged;
    default: return error;
  }
}

// The same regular file, of the same size, as when it was compared.
Result<FileInfo> stillAsCompared(Directory& dir, const std::string& path,
                                 const FileInfo& compared) {
  auto info = dir.fileInfo(path);
  if (!info) return fail(changedIfGone(info.error()));
  if (info->kind != FileKind::File || info->size != compared.size || !info->sameFileAs(compared)) {
    return fail(Error::FileChanged);
  }
  return info;
}

PruneProblem problemOf(Directory& dir, const std::string& path, Error error) {
  const bool readOnly = error == Error::AccessDenied && dir.isReadOnly(path).value_or(false);
  return PruneProblem{path, error, readOnly};
}

}  // namespace

std::uint64_t PruneReport::bytesFreed() const {
  std::uint64_t total = 0;
  for (const PrunedBackup& backup : removed) total += backup.freedBytes;
  return total;
}

PrunePlan planPrune(Directory& dir, const std::vector<BackedUpFile>& catalog) {
  PrunePlan plan;
  for (const BackedUpFile& file : catalog) {
    if (file.backups.empty()) continue;
    // The oldest backup is the file as it was before anything changed it:
    // it stays whatever it equals.
    std::vector<Keeper> kept{{file.backups.front().path, file.backups.front().info}};
    std::optional<Keeper> live;
    if (auto info = dir.fileInfo(file.path); info && info->kind == FileKind::File) {
      live = Keeper{file.path, *info};
    }
    for (std::size_t i = 1; i < file.backups.size(); ++i) {
      const Backup& backup = file.backups[i];
      // Older backups first: the copy that stays is then the oldest of its
      // content.
      std::vector<const Keeper*> sameSize;
      for (const Keeper& keeper : kept) {
        if (keeper.info.size == backup.info.size) sameSize.push_back(&keeper);
      }
      if (live && live->info.size == backup.info.size) sameSize.push_back(&*live);
      // No run backs up a file larger than it reads; one that large is not
      // the engine's, and is never read whole to be compared.
      if (sameSize.empty() || backup.info.size > kMaxFileSize) {
        kept.push_back(Keeper{backup.path, backup.info});
        continue;
      }
      auto content = readAsFound(dir, backup.path, backup.info.size);
      if (!content) {
        // Gone meanwhile: nothing left to decide. A backup that cannot be
        // read is not known to be a copy: it stays, and is reported.
        if (content.error() != Error::FileNotFound) {
          plan.unread.push_back(PruneProblem{backup.path, content.error(), false});
        }
        continue;
      }
      const Keeper* keeper = keeperWithBytes(dir, sameSize, *content);
      if (keeper == nullptr) {
        kept.push_back(Keeper{backup.path, backup.info});
        continue;
      }
      plan.candidates.push_back(PrunedBackup{file.path, backup, keeper->path, keeper->info, 0});
    }
  }
  return plan;
}

void carryOutPrune(Clock& clock, Directory& dir, const PrunePlan& plan, bool dryRun,
                   PruneReport& report) {
  report.problems.insert(report.problems.end(), plan.unread.begin(), plan.unread.end());
  // A dry run counts the names it would remove, to tell when the last name
  // of a file would go, as the removals themselves would show.
  std::map<FileId, std::uint64_t> namesGone;
  for (const PrunedBackup& candidate : plan.candidates) {
    const std::string& path = candidate.backup.path;
    // The same refusals as a run that would replace it: a file marked
    // read-only stays, as its owner asked.
    Result<void> removable = waitWhileBusy(clock, [&] { return dir.checkReplaceable(path); });
    if (!removable) {
      report.problems.push_back(problemOf(dir, path, changedIfGone(removable.error())));
      continue;
    }
    PrunedBackup removed = candidate;
    if (dryRun) {
      std::uint64_t& gone = namesGone[idOf(candidate.backup.info)];
      const std::uint64_t namesLeft = candidate.backup.info.links - gone;
      removed.freedBytes = namesLeft <= 1 ? candidate.backup.info.size : 0;
      ++gone;
    } else {
      // Checked again just before it goes: the copy that keeps its bytes
      // must still be the one compared, too.
      auto now = stillAsCompared(dir, path, candidate.backup.info);
      Result<void> deleted;
      if (!now) {
        deleted = fail(now.error());
      } else if (auto keeper = stillAsCompared(dir, candidate.sameAs, candidate.sameAsInfo);
                 !keeper) {
        deleted = fail(keeper.error());
      } else {
        deleted = waitWhileBusy(clock, [&] { return dir.deleteFile(path); });
      }
      if (!deleted) {
        report.problems.push_back(problemOf(dir, path, changedIfGone(deleted.error())));
        continue;
      }
      removed.freedBytes = now->links <= 1 ? now->size : 0;
    }
    report.removed.push_back(std::move(removed));
  }
  if (dryRun) return;
  // Success is reported only once the removals are on stable storage.
  if (Result<void> flushed = dir.flush(); !flushed) {
    report.failure = BackupsFailure{flushed.error(), {}};
  }
}

PruneReport pruneBackups(std::string_view installDir, FileSystem& fs, const PayloadSource& payload,
                         bool dryRun, Clock& clock) {
  PruneReport report;
  try {
    OpenedBackups opened = openBackups(installDir, fs, clock, payload,
                                       dryRun ? LockMode::Shared : LockMode::Exclusive);
    if (opened.failure) {
      report.failure = std::move(opened.failure);
      return report;
    }
    for (const BackedUpFile& file : opened.files) report.backupsFound += file.backups.size();
    const PrunePlan plan = planPrune(*opened.dir, opened.files);
    carryOutPrune(clock, *opened.dir, plan, dryRun, report);
  } catch (const std::bad_alloc&) {
    report.failure = BackupsFailure{Error::OutOfMemory, {}};
  }
  return report;
}

}  // namespace qorvex
