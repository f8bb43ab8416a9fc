#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "clock.h"
#include "error.h"
#include "file_system.h"
#include "payload.h"
#include "run_log.h"

namespace qorvex {

struct RunRequest {
  std::string_view installDir;  // absolute
  bool uninstall = false;
  bool dryRun = false;
  // A dry run also checks that the changes it reports could be made, and
  // names in RunResult::problems those that could not.
  bool checkChanges = false;
};

// A change that a run could not make.
struct PreflightProblem {
  std::string path;  // as the manifest spells it; empty when no single file
  Error error;
  bool readOnly = false;  // refused because the file is marked read-only
};

// What a run counted and the problems it met along the way.
struct RunSummary {
  std::vector<std::string> errors;
  std::uint32_t filesPatched = 0;
  std::uint32_t filesSkipped = 0;
  std::uint32_t backupsCreated = 0;
  bool success = true;
};

struct RunResult {
  bool fatal = false;
  Error error = Error::Unexpected;  // when fatal
  bool success = false;             // when completed
  // When fatal: the file whose operation failed, as the manifest spells it;
  // empty when the failure concerns no single file.
  std::string failedPath{};
  // Changes that could not be made. A run that writes stops before it
  // changes anything when there are any (fatal, with the first one's error
  // and file); a dry run with checkChanges only reports them.
  std::vector<PreflightProblem> problems{};
  // Whether the run went through and wrote its summary; then `summary` holds
  // what it wrote there.
  bool summarized = false;
  RunSummary summary{};
};

// Loads the manifest, opens the install directory, runs the install or the
// uninstall pass and writes the summary block. A run that writes first plans
// every change, checks each, writes every new content beside its file, makes
// the backups and only then puts the changes in place. Never throws.
RunResult run(const RunRequest& request, FileSystem& fs, const PayloadSource& payload, RunLog& log,
              Clock& clock = systemClock(), Random& random = systemRandom());

}  // namespace qorvex
