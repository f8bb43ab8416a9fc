#include "backups_command.h"

#include "backup_catalog.h"
#include "backup_prune.h"
#include "backups_output.h"
#include "console.h"
#include "exit_codes.h"

namespace qorvex::cli {
namespace {

int listCommand(FileSystem& fs, const PayloadSource& payload, const std::string& installDir,
                bool json) {
  const BackupListing listing = listBackups(installDir, fs, payload);
  if (json) {
    printText(stdout, backupsJson(listing, installDir) + "\n");
  } else if (!listing.failure) {
    printText(stdout, backupsText(listing, installDir));
  }
  if (listing.failure) {
    printText(stderr, failureLine(*listing.failure, installDir, kHintStyle));
    return kExitFatal;
  }
  return kExitSuccess;
}

int pruneCommand(FileSystem& fs, const PayloadSource& payload, const std::string& installDir,
                 bool dryRun, bool json) {
  const PruneReport report = pruneBackups(installDir, fs, payload, dryRun);
  if (json) {
    printText(stdout, pruneJson(report, installDir, dryRun, kHintStyle) + "\n");
  } else if (!report.failure || !report.removed.empty()) {
    // A fault after some backups went still owes the list of what went.
    printText(stdout, pruneText(report, installDir, dryRun));
  }
  printText(stderr, pruneProblems(report, installDir, kHintStyle));
  if (report.failure) return kExitFatal;
  return report.problems.empty() ? kExitSuccess : kExitErrors;
}

}  // namespace

int runBackups(FileSystem& fs, const PayloadSource& payload, const std::string& installDir,
               const CommandLine& cmd) {
  if (cmd.prune) return pruneCommand(fs, payload, installDir, cmd.dryRun, cmd.json);
  return listCommand(fs, payload, installDir, cmd.json);
}

}  // namespace qorvex::cli
