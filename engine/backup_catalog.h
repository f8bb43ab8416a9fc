#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "clock.h"
#include "error.h"
#include "file_system.h"
#include "manifest.h"
#include "payload.h"

namespace qorvex {

// The backups that runs left beside the files they changed, found by name.
// Only a name that a run could have written counts: anything else in the
// folder (a near miss, another file's backup, a user's own file) is left
// alone by everything that lists or tidies backups.

// What a backup's name says: "{file}.qorvex-backup_{stamp}.bak", or with
// "_{number}" before ".bak" for a later backup of the same second.
struct BackupName {
  std::string stamp;    // "20250131_235959"
  unsigned number = 1;  // 1 when the name has no "_n"
};

// The name's stamp and number when `entry`, a name in the folder of the file
// called `fileName`, is exactly one that a backup of that file gets: a real
// date and time, and a number from 2 to kMaxBackupNumber without leading
// zeros. Otherwise nothing.
std::optional<BackupName> parseBackupName(std::string_view entry, std::string_view fileName);

// "2025-01-31 23:59:59" for the stamp "20250131_235959".
std::string stampTime(std::string_view stamp);

struct Backup {
  std::string path;  // the file's folder as the manifest spells it, then the name
  std::string name;  // the name alone
  BackupName stamp;
  FileInfo info;  // as it was found
};

struct BackedUpFile {
  std::string path;             // as the manifest spells it
  std::vector<Backup> backups;  // oldest first: by stamp, then number
};

// Every file whose backups count: each file the manifest names, Lua and
// dialog files in its order, then the undo module; each once.
std::vector<std::string> backedUpFiles(const PatchManifest& manifest);

// The backups of each file, in the order of `files`. A backup is a regular
// file, never a link, folder or FIFO of a backup's name. A folder that is not
// there holds no backups. On failure `failedPath` names the folder or the
// file whose lookup failed.
Result<std::vector<BackedUpFile>> catalogBackups(Directory& dir,
                                                 const std::vector<std::string>& files,
                                                 std::string& failedPath);

// How a command on the backups ended when it could not go through.
struct BackupsFailure {
  Error error = Error::Unexpected;
  // The file or folder it concerns, as the manifest spells it; empty for the
  // install directory itself.
  std::string path;
  bool manifest = false;  // the manifest did not load
};

// The catalogue of an install, with the install still open and locked.
struct OpenedBackups {
  std::optional<BackupsFailure> failure;
  std::unique_ptr<Directory> dir;  // holds the lock until it is closed
  std::vector<BackedUpFile> files;
};

// Loads the manifest, opens the install, takes the run's lock in `mode`
// (waiting like a run does, so that a run under way is not caught halfway)
// and catalogues the backups.
OpenedBackups openBackups(std::string_view installDir, FileSystem& fs, Clock& clock,
                          const PayloadSource& payload, LockMode mode);

struct BackupListing {
  std::optional<BackupsFailure> failure;
  std::vector<BackedUpFile> files;
};

// The backups, listed under the lock of a run that only reads.
BackupListing listBackups(std::string_view installDir, FileSystem& fs, const PayloadSource& payload,
                          Clock& clock = systemClock());

}  // namespace qorvex
