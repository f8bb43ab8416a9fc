#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "change_set.h"
#include "file_ops.h"
#include "file_system.h"
#include "manifest.h"
#include "payload.h"
#include "run.h"
#include "run_log.h"

namespace qorvex {

struct SurveyReport;
struct EntryReport;

// The undo module's file, and how log lines name it.
inline constexpr std::string_view kModulePath = "MissionEditor\\modules\\me_qorvex_undo.lua";
inline constexpr std::string_view kModuleLogName = "modules/me_qorvex_undo.lua";

// The state one run shares between the driver and the passes; made by
// contextFor() below, its flags set by the caller.
struct RunContext {
  FileSystem& fs;
  Directory& installDir;
  // Time and chance: the system's unless a test puts its own in place.
  Clock& clock = systemClock();
  Random& random = systemRandom();
  const PatchManifest& manifest;
  const PayloadSource& payload;
  RunLog& log;
  RunSummary summary{};
  bool uninstall = false;
  bool dryRun = false;
  // What the run writes, held back until it can be put in place safely.
  ChangeSet changes{clock, random, installDir};
  // The file a fatal error concerns, as the manifest spells it.
  std::string failedPath{};
  // The changes the passes decided on, in order; carried out afterwards.
  std::vector<PlannedChange> plan{};
  // Where the passes' log goes until the plan is carried out (null in a dry
  // run, which logs straight to the run log).
  const StringLogSink* capture = nullptr;
  // When set, the run only surveys: every entry's state is recorded (into
  // `surveyed`, the list of the loop under way) and read errors are not fatal.
  SurveyReport* survey = nullptr;
  std::vector<EntryReport>* surveyed = nullptr;

  void addError(std::string entry) {
    summary.errors.push_back(std::move(entry));
    summary.success = false;
  }

  // Ends a pass with `error` on `path`, unless a step below already named
  // the file the error concerns.
  std::unexpected<Error> failAt(std::string_view path, Error error) {
    if (failedPath.empty()) failedPath = path;
    return fail(error);
  }
};

// The context of a run on an opened install, with its flags unset (INSTALL,
// writing, no survey).
inline RunContext contextFor(FileSystem& fs, Directory& installDir, Clock& clock, Random& random,
                             const PatchManifest& manifest, const PayloadSource& payload,
                             RunLog& log) {
  return RunContext{.fs = fs,
                    .installDir = installDir,
                    .clock = clock,
                    .random = random,
                    .manifest = manifest,
                    .payload = payload,
                    .log = log};
}

}  // namespace qorvex
