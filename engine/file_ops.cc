#include "file_ops.h"

#include "log_texts.h"
#include "lua_balance.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "run_context.h"
#include "temporary_file.h"

namespace qorvex {
namespace {

constexpr unsigned kBusyWaitMilliseconds = 3000;
constexpr unsigned kBusyFirstPauseMilliseconds = 10;
constexpr unsigned kBusyLongestPauseMilliseconds = 250;

// A copy of `source` in a temporary file beside the file, with the file's
// permissions and owner, on stable storage before the caller gives it a
// backup's name.
Result<std::string> copyToTemporaryFile(RunContext& run, std::string_view relativePath,
                                        std::string_view source) {
  auto content = run.installDir.readFile(source, kMaxFileSize);
  if (!content) return fail(content.error());
  auto tempPath = writeTemporaryFile(run.random, run.installDir, relativePath, *content);
  if (!tempPath) return fail(tempPath.error());
  if (Result<void> flushed = run.installDir.flush(); !flushed) {
    (void)run.installDir.deleteFile(*tempPath);
    return fail(flushed.error());
  }
  return tempPath;
}

void record(RunContext& run, std::string_view relativePath, PlannedChange::Kind kind,
            std::string content) {
  const std::size_t logOffset = run.capture != nullptr ? run.capture->text().size() : 0;
  const std::uint64_t size = content.size();
  run.plan.push_back({std::string(relativePath), kind, size, std::move(content), logOffset});
  ++run.summary.filesPatched;
}

// The newest planned change of a file, or null when none is planned. A dry
// run keeps no contents: it reads what is on disk, as it always writes nothing.
const PlannedChange* plannedChangeOf(RunContext& run, std::string_view relativePath) {
  if (run.dryRun) return nullptr;
  for (auto it = run.plan.rbegin(); it != run.plan.rend(); ++it) {
    if (it->path == relativePath) return &*it;
  }
  return nullptr;
}

}  // namespace

Result<void> waitWhileBusy(Clock& clock, const std::function<Result<void>()>& attempt) {
  unsigned waited = 0;
  unsigned pause = kBusyFirstPauseMilliseconds;
  for (;;) {
    Result<void> result = attempt();
    if (result || result.error() != Error::FileBusy || waited >= kBusyWaitMilliseconds) {
      return result;
    }
    clock.sleepMilliseconds(pause);
    waited += pause;
    pause = std::min(pause * 2, kBusyLongestPauseMilliseconds);
  }
}

bool countedAsDryRun(RunContext& run, std::string_view relativePath, PlannedChange::Kind kind,
                     std::uint64_t newSize) {
  if (!run.dryRun) return false;
  run.plan.push_back({std::string(relativePath), kind, newSize, {}, 0});
  ++run.summary.filesPatched;
  return true;
}

Result<std::string> readWholeFile(RunContext& run, std::string_view relativePath,
                                  std::size_t spare) {
  if (const PlannedChange* planned = plannedChangeOf(run, relativePath)) {
    if (planned->kind == PlannedChange::Kind::Delete) return fail(Error::FileNotFound);
    std::string content;
    content.reserve(planned->content.size() + spare);
    content = planned->content;
    return content;
  }
  return run.installDir.readFile(relativePath, kMaxFileSize, spare);
}

Result<FileKind> kindOf(RunContext& run, std::string_view relativePath) {
  if (const PlannedChange* planned = plannedChangeOf(run, relativePath)) {
    if (planned->kind == PlannedChange::Kind::Delete) return fail(Error::FileNotFound);
    return FileKind::File;
  }
  return run.installDir.kindOf(relativePath);
}

std::string formatBackupStamp(std::int64_t unixSeconds) {
  // Civil date from days since 1970-01-01 (proleptic Gregorian calendar).
  std::int64_t days = unixSeconds / 86400;
  std::int64_t secondsOfDay = unixSeconds % 86400;
  if (secondsOfDay < 0) {
    secondsOfDay += 86400;
    --days;
  }
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t dayOfEra = days - era * 146097;
  const std::int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t mp = (5 * dayOfYear + 2) / 153;
  const std::int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
  const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04lld%02lld%02lld_%02lld%02lld%02lld",
                static_cast<long long>(year), static_cast<long long>(month),
                static_cast<long long>(day), static_cast<long long>(secondsOfDay / 3600),
                static_cast<long long>(secondsOfDay / 60 % 60),
                static_cast<long long>(secondsOfDay % 60));
  return stamp;
}

std::string backupPathFor(std::string_view relativePath, std::string_view stamp, unsigned n) {
  std::string path(relativePath);
  path.append(".qorvex-backup_");
  path.append(stamp);
  if (n >= 2) {
    path.push_back('_');
    path.append(std::to_string(n));
  }
  path.append(".bak");
  return path;
}

Result<std::string> createBackup(RunContext& run, RunLog& log, std::string_view relativePath,
                                 std::string_view source) {
  const std::string stamp = formatBackupStamp(run.clock.nowUnixSeconds());
  Directory& dir = run.installDir;
  // Set once links turn out to be impossible here: the flushed copy that is
  // named instead.
  std::optional<std::string> copy;
  for (unsigned n = 1; n <= kMaxBackupNumber; ++n) {
    const std::string backupPath = backupPathFor(relativePath, stamp, n);
    // Neither way ever replaces: an earlier backup of the same second keeps
    // its name and this one takes the next free "_n".
    Result<void> made;
    if (!copy) {
      made = dir.linkFile(source, backupPath);
      if (made && source == relativePath) run.changes.addLinkedBackup(relativePath, backupPath);
    }
    if (!copy && !made && made.error() != Error::PathAlreadyExists) {
      // A file system without hard links, or one that refuses this file.
      auto copied = copyToTemporaryFile(run, relativePath, source);
      if (!copied) return fail(copied.error());
      copy = std::move(*copied);
    }
    if (copy) made = dir.renameNoReplace(*copy, backupPath);
    if (made) {
      ++run.summary.backupsCreated;
      log.write({texts::backupMade(fileNameOf(backupPath))});
      return backupPath;
    }
    if (made.error() != Error::PathAlreadyExists) {
      if (copy) (void)dir.deleteFile(*copy);
      return fail(made.error());
    }
  }
  if (copy) (void)dir.deleteFile(*copy);
  return fail(Error::PathAlreadyExists);
}

Result<void> backUpAndWrite(RunContext& run, std::string_view relativePath, std::string text) {
  record(run, relativePath, PlannedChange::Kind::Replace, std::move(text));
  return {};
}

Result<void> replaceFile(RunContext& run, std::string_view relativePath, std::string text,
                         std::string_view balanceCheck) {
  if (countedAsDryRun(run, relativePath, PlannedChange::Kind::Replace, text.size())) return {};
  if (!balanceCheck.empty()) {
    if (auto fault = checkLuaBalance(text)) {
      run.addError(texts::unbalancedNotWritten(relativePath, balanceCheck, *fault));
      return {};
    }
  }
  return backUpAndWrite(run, relativePath, std::move(text));
}

Result<void> backUpAndDelete(RunContext& run, std::string_view relativePath) {
  record(run, relativePath, PlannedChange::Kind::Delete, {});
  return {};
}

Result<void> writeNewFile(RunContext& run, std::string_view relativePath, std::string text) {
  record(run, relativePath, PlannedChange::Kind::Create, std::move(text));
  return {};
}

Result<void> makeFolders(Directory& dir, std::string_view relativePath) {
  std::size_t end = 0;
  while (end <= relativePath.size()) {
    end = relativePath.find_first_of("\\/", end);
    if (end == std::string_view::npos) end = relativePath.size();
    std::string_view prefix = relativePath.substr(0, end);
    ++end;
    if (prefix.empty() || prefix.back() == '\\' || prefix.back() == '/') continue;
    auto kind = dir.kindOf(prefix);
    if (kind) {
      if (*kind != FileKind::Directory) return fail(Error::NotDir);
      continue;
    }
    if (kind.error() != Error::FileNotFound) return fail(kind.error());
    Result<void> made = dir.makeDirectory(prefix);
    if (!made && made.error() != Error::PathAlreadyExists) return fail(made.error());
  }
  return {};
}

}  // namespace qorvex
