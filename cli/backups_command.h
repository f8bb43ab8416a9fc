#pragma once

#include <string>

#include "command_line.h"
#include "file_system.h"
#include "payload.h"

namespace qorvex::cli {

// `qorvex-patch backups [--prune [--dry-run]] [--json] INSTALL_DIR`. Prints the
// listing or what pruning removed, names on standard error each backup that
// could go but stayed and whatever stopped the command, and returns the exit
// status: 0 done, 1 pruned but some backup that could go stayed, 2 stopped by
// a fault (the install busy, a folder that cannot be listed, a flush that
// failed).
int runBackups(FileSystem& fs, const PayloadSource& payload, const std::string& installDir,
               const CommandLine& cmd);

}  // namespace qorvex::cli
