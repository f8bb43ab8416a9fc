#pragma once

#include <string>
#include <string_view>

#include "backup_catalog.h"
#include "backup_prune.h"
#include "hints.h"

namespace qorvex::cli {

// `qorvex-patch backups`: the backups of each file, oldest first, as lines
// for people (each ended by "\n") or as one JSON object for scripts.
std::string backupsText(const BackupListing& listing, std::string_view installDir);
std::string backupsJson(const BackupListing& listing, std::string_view installDir);

// `qorvex-patch backups --prune`: what went, or in a dry run what would go,
// and the space it frees. A dry run says the same in the conditional.
std::string pruneText(const PruneReport& report, std::string_view installDir, bool dryRun);
std::string pruneJson(const PruneReport& report, std::string_view installDir, bool dryRun,
                      HintStyle hintStyle);

// "qorvex-patch: {file}: {error}: {what to do}" for each backup that the rule
// let go but that stayed, and for what stopped the command.
std::string pruneProblems(const PruneReport& report, std::string_view installDir,
                          HintStyle hintStyle);
std::string failureLine(const BackupsFailure& failure, std::string_view installDir,
                        HintStyle hintStyle);

}  // namespace qorvex::cli
