#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backup_catalog.h"
#include "clock.h"
#include "error.h"
#include "file_system.h"
#include "payload.h"

namespace qorvex {

// Tidying backups. The rule protects every content a file ever had: a backup
// goes only when a backup that stays, or the file itself, holds exactly the
// same bytes (compared in full), and the oldest backup of every file, the
// file as it was before its first change, always stays.

// A backup that goes, or would go.
struct PrunedBackup {
  std::string file;  // the backed-up file, as the manifest spells it
  Backup backup;
  // The backup that stays, or the file itself, with the same bytes.
  std::string sameAs;
  FileInfo sameAsInfo;  // as it was compared
  // Bytes whose last name goes with it; 0 when another name keeps them (a
  // hard link to a backup that stays, or to the file itself).
  std::uint64_t freedBytes = 0;
};

// A backup that the rule lets go but that stays: one that cannot be removed
// (read-only, held open, refused), that changed after it was compared, or
// that could not be read to be compared at all.
struct PruneProblem {
  std::string path;
  Error error = Error::Unexpected;
  bool readOnly = false;  // marked read-only
};

// What the comparison decided, before anything is removed.
struct PrunePlan {
  std::vector<PrunedBackup> candidates;  // in the order of the catalog
  std::vector<PruneProblem> unread;      // backups that could not be compared
};

// Compares the backups of each file, oldest first, with the backups kept so
// far and with the file itself. Reads only.
PrunePlan planPrune(Directory& dir, const std::vector<BackedUpFile>& catalog);

struct PruneReport {
  std::optional<BackupsFailure> failure;
  std::size_t backupsFound = 0;
  std::vector<PrunedBackup> removed;  // removed, or in a dry run those that would be
  std::vector<PruneProblem> problems;

  std::uint64_t bytesFreed() const;
};

// Removes the plan's candidates one by one, each only when it may be removed
// and when it and the copy that keeps its bytes are still the files that were
// compared (the same kind, size and identity); what stays is a problem, not
// a reason to stop. Then makes the removals durable. A dry run checks each
// candidate the same way but removes nothing, and reports the same.
void carryOutPrune(Clock& clock, Directory& dir, const PrunePlan& plan, bool dryRun,
                   PruneReport& report);

// The whole command: loads the manifest, opens the install, takes the lock of
// a run that writes (a dry run: of one that reads) so that no run changes a
// file meanwhile, then catalogues, plans and carries out.
PruneReport pruneBackups(std::string_view installDir, FileSystem& fs, const PayloadSource& payload,
                         bool dryRun, Clock& clock = systemClock());

}  // namespace qorvex
