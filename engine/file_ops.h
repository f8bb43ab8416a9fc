#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "error.h"
#include "file_system.h"

namespace qorvex {

struct RunContext;

inline constexpr std::uint64_t kMaxFileSize = 16u * 1024u * 1024u;

// A change a run would make, as a run that only plans records it.
struct PlannedChange {
  enum class Kind { Create, Replace, Delete };
  std::string path;
  Kind kind;
  std::uint64_t newSize = 0;  // bytes of the new content (Create, Replace)
};

// Runs `attempt` again while it fails with FileBusy, for a few seconds at
// most: a virus scanner or an indexer that opened a file lets go within a
// second or two; a game that holds it does not, and then the run stops
// rather than wait.
Result<void> waitWhileBusy(FileSystem& fs, const std::function<Result<void>()>& attempt);

// In a dry run the file counts as one that would be written, and the caller
// stops there: true. Otherwise false, and the caller goes on to write it.
bool countedAsDryRun(RunContext& run);

// The file operations of the passes. Writes and deletions are staged in the
// run's ChangeSet and put in place when the pass is over; a file that the run
// changed is published before it is looked at again, so the passes see their
// own changes exactly as if each had been made at once. A run that only plans
// (RunContext::plan) records each change instead of making it.

Result<std::string> readWholeFile(RunContext& run, std::string_view relativePath);
Result<FileKind> kindOf(RunContext& run, std::string_view relativePath);

// Makes "{path}.qorvex-backup_{stamp}.bak", a hard link to the file as it is
// (a copy, flushed before it is named, where links are impossible). A backup
// never replaces an earlier one: a taken name gets "_2", "_3", ... before
// ".bak". Counts the backup, logs its line and returns its path.
Result<std::string> createBackup(RunContext& run, std::string_view relativePath);

// Stages the file's new content; it replaces the file when the run publishes
// its changes, keeping the file's permissions and owner.
Result<void> writeWholeFile(RunContext& run, std::string_view relativePath,
                            std::string_view bytes);

// The last step of every changed file: a check that the file may be replaced,
// its backup, then the new content; the file then counts as patched.
Result<void> backUpAndWrite(RunContext& run, std::string_view relativePath, std::string_view text);

// Backs up the file and stages its deletion; the file then counts as patched.
Result<void> backUpAndDelete(RunContext& run, std::string_view relativePath);

// Creates the file's folders and stages the new file; it then counts as
// patched.
Result<void> writeNewFile(RunContext& run, std::string_view relativePath, std::string_view text);

// Creates the folder and every missing folder above it; NotDir when a
// component exists but is not a folder.
Result<void> makeFolders(Directory& dir, std::string_view relativePath);

// "20250131_235959" for the given seconds since 1970-01-01 UTC.
std::string formatBackupStamp(std::int64_t unixSeconds);
// "{path}.qorvex-backup_{stamp}.bak", or with "_{n}" before ".bak" for n >= 2.
std::string backupPathFor(std::string_view relativePath, std::string_view stamp, unsigned n);

}  // namespace qorvex
