#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "error.h"
#include "clock.h"
#include "file_system.h"

namespace qorvex {

// The changes a run makes to the install, held back until they can be made
// safely. The new content of a file waits in a temporary file beside it;
// publish() flushes, so that every new content and every backup is on stable
// storage, then puts each change in place (a rename over the file, or its
// deletion) in the order they were staged, then flushes again. A power cut at
// any moment leaves each file with its old or its whole new content.
//
// A backup is made as a hard link to the file as it is. Once the file is
// replaced the link alone holds the old content; a backup whose file was not
// replaced (its change failed or never came) is turned into a copy of its own
// before publish() returns, so that no later edit of the live file can change
// it. One ChangeSet belongs to one run.
class ChangeSet {
 public:
  ChangeSet(Clock& clock, Random& random, Directory& dir)
      : clock_(clock), random_(random), dir_(dir) {}
  ChangeSet(const ChangeSet&) = delete;
  ChangeSet& operator=(const ChangeSet&) = delete;
  // Whatever is still staged is given up: its temporary files go, and its
  // backups are made independent.
  ~ChangeSet();

  // Writes `bytes` to a new temporary file that will replace `path`; returns
  // the temporary file's path.
  Result<std::string> stageReplacement(std::string_view path, std::string_view bytes);
  // `path` will be deleted.
  void stageDeletion(std::string_view path);
  // `backupPath` was made as a hard link to `path`.
  void addLinkedBackup(std::string_view path, std::string_view backupPath);

  // Puts every staged change in place; stops at the first that fails and
  // gives up the rest. Everything is on stable storage when it succeeds.
  Result<void> publish();
  // Gives up every staged change: nothing is put in place.
  void abandon();
  // The file the last failure of publish() concerns; empty when it concerned
  // no single file (a failed flush).
  const std::string& failedPath() const { return failedPath_; }

 private:
  struct Change {
    std::string path;
    std::string tempPath;  // empty for a deletion
  };
  struct LinkedBackup {
    std::string path;
    std::string backupPath;
  };

  Result<void> putInPlace(const Change& change);
  void giveUpFrom(std::size_t first);
  Result<void> makeBackupsIndependent();

  Clock& clock_;
  Random& random_;
  Directory& dir_;
  std::vector<Change> staged_;
  std::vector<LinkedBackup> linked_;
  std::string failedPath_;
};

}  // namespace qorvex
