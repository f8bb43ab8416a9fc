#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "clock.h"
#include "error.h"
#include "file_system.h"

namespace qorvex {

struct RunContext;
class RunLog;

inline constexpr std::uint64_t kMaxFileSize = 16u * 1024u * 1024u;

// The highest "_n" a backup name takes: far beyond any number of runs in one
// second; a folder full of such names ends the run instead of a search
// without end.
inline constexpr unsigned kMaxBackupNumber = 9999;

// A change the passes decided on. A run first plans every change (the passes
// record them and write nothing), then checks the plan, and only then makes
// the changes, in this order; pre-flight is the same plan without the last
// step, so the two cannot disagree.
struct PlannedChange {
  enum class Kind { Create, Replace, Delete };
  std::string path;  // as the manifest spells it
  Kind kind;
  std::uint64_t newSize = 0;  // bytes of the new content (Create, Replace)
  std::string content;        // the new content; not kept by a dry run
  // How much of the pass's log came before this change: its backup line
  // goes there when the plan is carried out.
  std::size_t logOffset = 0;
};

// Runs `attempt` again while it fails with FileBusy, for a few seconds at
// most: a virus scanner or an indexer that opened a file lets go within a
// second or two; a game that holds it does not, and then the run stops
// rather than wait.
Result<void> waitWhileBusy(Clock& clock, const std::function<Result<void>()>& attempt);

// The file operations of the passes. They see the install as the changes
// planned so far would leave it: a file read again after a planned change
// reads its new content.
// `spare`: room to allocate for bytes the caller will add.
Result<std::string> readWholeFile(RunContext& run, std::string_view relativePath,
                                  std::size_t spare = 0);
Result<FileKind> kindOf(RunContext& run, std::string_view relativePath);

// In a dry run the change is recorded, the file counts as one that would be
// written, and the caller stops there: true. Otherwise false.
bool countedAsDryRun(RunContext& run, std::string_view relativePath, PlannedChange::Kind kind,
                     std::uint64_t newSize);

// The last step of every changed file: the file's backup and new content
// (Replace), its backup and deletion (Delete), or a new file in folders made
// as needed (Create), each planned; the file then counts as patched.
Result<void> backUpAndWrite(RunContext& run, std::string_view relativePath, std::string text);
// The end of a pass's work on a file it changes, once the file's progress
// line is written: a dry run only counts the file; a run that writes checks
// the new text's balance (`balanceCheck` names the check in the error entry,
// "post-patch" or "post-uninstall"; empty: no check) and plans the new text
// with its backup. An unbalanced text becomes an error entry and is not
// written.
Result<void> replaceFile(RunContext& run, std::string_view relativePath, std::string text,
                         std::string_view balanceCheck);
Result<void> backUpAndDelete(RunContext& run, std::string_view relativePath);
Result<void> writeNewFile(RunContext& run, std::string_view relativePath, std::string text);

// Makes "{path}.qorvex-backup_{stamp}.bak" a hard link to `source` (the file
// itself, or the staged content an earlier change gave it), or, where links
// are impossible, a copy flushed before it is named. A backup never replaces
// an earlier one: a taken name gets "_2", "_3", ... before ".bak". Counts the
// backup, logs its line in `log` and returns its path.
Result<std::string> createBackup(RunContext& run, RunLog& log, std::string_view relativePath,
                                 std::string_view source);

// Creates the folder and every missing folder above it; NotDir when a
// component exists but is not a folder.
Result<void> makeFolders(Directory& dir, std::string_view relativePath);

// "20250131_235959" for the given seconds since 1970-01-01 UTC.
std::string formatBackupStamp(std::int64_t unixSeconds);
// "{path}.qorvex-backup_{stamp}.bak", or with "_{n}" before ".bak" for n >= 2.
std::string backupPathFor(std::string_view relativePath, std::string_view stamp, unsigned n);

}  // namespace qorvex
