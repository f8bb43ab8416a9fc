#pragma once

#include <string>
#include <string_view>

#include "error.h"
#include "file_system.h"
#include "payload.h"
#include "run_log.h"

namespace qorvex {

struct RunRequest {
  std::string_view installDir;  // absolute
  bool uninstall = false;
  bool dryRun = false;
};

struct RunResult {
  bool fatal = false;
  Error error = Error::Unexpected;  // when fatal
  bool success = false;             // when completed
  // When fatal: the file whose operation failed, as the manifest spells it;
  // empty when the failure concerns no single file.
  std::string failedPath{};
};

// Loads the manifest, opens the install directory, runs the install or the
// uninstall pass and writes the summary block. Never throws.
RunResult run(const RunRequest& request, FileSystem& fs, const PayloadSource& payload,
              RunLog& log);

}  // namespace qorvex
