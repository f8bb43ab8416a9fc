#include "change_set.h"

#include <algorithm>
#include <functional>

#include "file_ops.h"
#include "temporary_file.h"

namespace qorvex {
namespace {}  // namespace

ChangeSet::~ChangeSet() {
  if (staged_.empty() && linked_.empty()) return;
  try {
    abandon();
  } catch (...) {
    // Out of memory while giving up: what is left is a temporary file that
    // the next run removes, or a backup that still holds the right bytes.
  }
}

Result<std::string> ChangeSet::stageReplacement(std::string_view path, std::string_view bytes) {
  // The temporary name is built from the path; a path that could not be
  // replaced must not get as far as a temporary file.
  if (auto native = toNativeRelativePath(path, '/'); !native) return fail(native.error());
  auto tempPath = writeTemporaryFile(random_, dir_, path, bytes);
  if (!tempPath) return fail(tempPath.error());
  staged_.push_back({std::string(path), *tempPath});
  return tempPath;
}

void ChangeSet::stageDeletion(std::string_view path) { staged_.push_back({std::string(path), {}}); }

void ChangeSet::addLinkedBackup(std::string_view path, std::string_view backupPath) {
  linked_.push_back({std::string(path), std::string(backupPath)});
}

void ChangeSet::abandon() {
  giveUpFrom(0);
  (void)makeBackupsIndependent();
  (void)dir_.flush();
}

Result<void> ChangeSet::putInPlace(const Change& change) {
  return waitWhileBusy(clock_, [&] {
    return change.tempPath.empty() ? dir_.deleteFile(change.path)
                                   : dir_.renameReplace(change.tempPath, change.path);
  });
}

Result<void> ChangeSet::publish() {
  failedPath_.clear();
  if (staged_.empty() && linked_.empty()) return {};
  // New contents and backups reach stable storage before any name points at
  // them.
  Result<void> result = dir_.flush();
  std::size_t done = 0;
  if (result) {
    for (; done < staged_.size(); ++done) {
      const Change& change = staged_[done];
      result = putInPlace(change);
      if (!result) {
        failedPath_ = change.path;
        break;
      }
      // The link is now the only name of the old content.
      std::erase_if(linked_, [&](const LinkedBackup& b) { return b.path == change.path; });
    }
  }
  giveUpFrom(done);
  if (Result<void> independent = makeBackupsIndependent(); !independent && result) {
    result = independent;
  }
  if (Result<void> flushed = dir_.flush(); !flushed && result) {
    failedPath_.clear();
    result = flushed;
  }
  return result;
}

void ChangeSet::giveUpFrom(std::size_t first) {
  for (std::size_t i = first; i < staged_.size(); ++i) {
    if (!staged_[i].tempPath.empty()) (void)dir_.deleteFile(staged_[i].tempPath);
  }
  staged_.clear();
}

// Copies each remaining linked backup into a temporary file, flushes once,
// then renames each copy over its backup. A backup that cannot be copied is
// removed instead: its file was not changed, so the file itself still holds
// exactly those bytes.
Result<void> ChangeSet::makeBackupsIndependent() {
  Result<void> result;
  std::vector<std::pair<LinkedBackup, std::string>> copies;
  for (const LinkedBackup& backup : linked_) {
    auto content = dir_.readFile(backup.backupPath, kMaxFileSize);
    auto tempPath = content ? writeTemporaryFile(random_, dir_, backup.backupPath, *content)
                            : Result<std::string>(fail(content.error()));
    if (tempPath) {
      copies.emplace_back(backup, std::move(*tempPath));
      continue;
    }
    if (result) result = fail(tempPath.error());
    if (failedPath_.empty()) failedPath_ = backup.backupPath;
    (void)dir_.deleteFile(backup.backupPath);
  }
  linked_.clear();
  if (copies.empty()) return result;
  Result<void> flushed = dir_.flush();
  for (const auto& [backup, tempPath] : copies) {
    Result<void> renamed = flushed ? dir_.renameReplace(tempPath, backup.backupPath) : flushed;
    if (renamed) continue;
    (void)dir_.deleteFile(tempPath);
    (void)dir_.deleteFile(backup.backupPath);
    if (result) result = renamed;
    if (failedPath_.empty()) failedPath_ = backup.backupPath;
  }
  return result;
}

}  // namespace qorvex
