#include "survey.h"

#include <algorithm>
#include <new>

#include "anchor_match.h"
#include "file_ops.h"
#include "manifest.h"
#include "passes.h"
#include "patch_block.h"
#include "run_context.h"

namespace qorvex {
namespace {

// The game's updater writes its version here.
constexpr std::string_view kVersionFile = "autoupdate.cfg";

void add(RunContext& run, EntryReport report) {
  if (run.surveyed != nullptr) run.surveyed->push_back(std::move(report));
}

EntryReport reportOf(std::string_view file, std::string_view id, std::string_view marker,
                     EntryState state) {
  EntryReport report;
  report.file = file;
  report.id = id;
  report.marker = marker;
  report.state = state;
  return report;
}

// The text between the block's BEGIN and END lines, or nothing without an END.
std::optional<std::string_view> blockBody(std::string_view working, std::string_view marker) {
  const std::string begin = formatBeginLine(marker);
  const std::size_t at = findBytes(working, begin);
  if (at == std::string_view::npos) return std::nullopt;
  std::size_t bodyStart = at + begin.size();
  if (bodyStart < working.size() && working[bodyStart] == '\r') ++bodyStart;
  if (bodyStart < working.size() && working[bodyStart] == '\n') ++bodyStart;
  const std::size_t end = findBytes(working, formatEndLine(marker), bodyStart);
  if (end == std::string_view::npos) return std::nullopt;
  return working.substr(bodyStart, end - bodyStart);
}

bool isBlocking(EntryState state) {
  return state == EntryState::AnchorNotFound || state == EntryState::AnchorAmbiguous ||
         state == EntryState::FileMissing || state == EntryState::Unreadable;
}

Verdict verdictOf(const SurveyReport& report) {
  bool done = report.module == ModuleState::Current;
  bool blocked = report.module == ModuleState::Unreadable;
  bool present = report.module != ModuleState::Absent;
  for (const auto* list : {&report.entries, &report.dialogs}) {
    for (const EntryReport& entry : *list) {
      done = done &&
             (entry.state == EntryState::Applied || entry.state == EntryState::PresentUnmarked);
      blocked = blocked || isBlocking(entry.state);
      present = present || entry.state == EntryState::Applied ||
                entry.state == EntryState::AppliedOutdated;
    }
  }
  // A change that cannot be made matters more than whether anything is
  // there yet: INSTALL would leave the feature incomplete.
  if (done) return Verdict::Installed;
  if (blocked) return Verdict::Blocked;
  if (!present) return Verdict::NotInstalled;
  return Verdict::Partial;
}

}  // namespace

std::string_view entryStateName(EntryState state) {
  switch (state) {
    case EntryState::Applied: return "applied";
    case EntryState::AppliedOutdated: return "applied-outdated";
    case EntryState::PresentUnmarked: return "present-unmarked";
    case EntryState::Pending: return "pending";
    case EntryState::AnchorNotFound: return "anchor-not-found";
    case EntryState::AnchorAmbiguous: return "anchor-ambiguous";
    case EntryState::FileMissing: return "file-missing";
    case EntryState::Unreadable: return "unreadable";
  }
  return "unreadable";
}

std::string_view moduleStateName(ModuleState state) {
  switch (state) {
    case ModuleState::Absent: return "absent";
    case ModuleState::Current: return "current";
    case ModuleState::Outdated: return "outdated";
    case ModuleState::Unreadable: return "unreadable";
  }
  return "unreadable";
}

std::string_view verdictName(Verdict verdict) {
  switch (verdict) {
    case Verdict::Installed: return "installed";
    case Verdict::NotInstalled: return "not-installed";
    case Verdict::Partial: return "partial";
    case Verdict::Blocked: return "blocked";
  }
  return "blocked";
}

bool surveying(const RunContext& run) { return run.survey != nullptr; }

void surveyEntry(RunContext& run, std::string_view file, std::string_view id,
                 std::string_view marker, EntryState state) {
  add(run, reportOf(file, id, marker, state));
}

void surveyApplied(RunContext& run, std::string_view file, std::string_view id,
                   std::string_view marker, std::string_view text, std::string_view working) {
  if (!surveying(run)) return;
  // The block is as the manifest writes it when its body is the text with
  // its line ends made uniform; which line ends the file has does not matter.
  const std::optional<std::string_view> body = blockBody(working, marker);
  const bool current = body && equalIgnoringCr(*body, normalizeBlockBody(text));
  add(run, reportOf(file, id, marker, current ? EntryState::Applied : EntryState::AppliedOutdated));
}

void surveyAnchorProblem(RunContext& run, std::string_view file, std::string_view id,
                         std::string_view marker, bool ambiguous, std::string_view working,
                         std::string_view anchor) {
  if (!surveying(run)) return;
  EntryReport report = reportOf(
      file, id, marker, ambiguous ? EntryState::AnchorAmbiguous : EntryState::AnchorNotFound);
  if (ambiguous) {
    for (std::size_t start : findAnchorStarts(working, anchor, kMaxMatchLines)) {
      report.matchLines.push_back(lineOfOffset(working, start));
    }
  } else {
    report.nearest = findNearestText(working, anchor);
  }
  add(run, std::move(report));
}

void surveyUnreadable(RunContext& run, std::string_view file, std::string_view id,
                      std::string_view marker, Error error) {
  if (!surveying(run)) return;
  EntryReport report = reportOf(file, id, marker, EntryState::Unreadable);
  report.error = error;
  add(run, std::move(report));
}

void surveyModule(RunContext& run, ModuleState state, Error error) {
  if (!surveying(run)) return;
  run.survey->module = state;
  run.survey->moduleError = error;
}

Result<SurveyReport> surveyInstall(std::string_view installDir, FileSystem& fs,
                                   const PayloadSource& payload) {
  try {
    auto manifest = loadManifest(payload);
    if (!manifest) return fail(manifest.error());
    auto dir = openInstallDir(fs, installDir);
    if (!dir) return fail(dir.error());
    SurveyReport report;
    if (auto versionText = (*dir)->readFile(kVersionFile, kMaxFileSize)) {
      if (auto version = parseGameVersion(*versionText)) {
        report.gameVersion = std::move(version->version);
        report.gameBranch = std::move(version->branch);
      }
    }
    // CHECK's decisions, with every entry recorded on the way.
    RunLog discarded(nullptr);
    RunContext context =
        contextFor(fs, **dir, systemClock(), systemRandom(), *manifest, payload, discarded);
    context.dryRun = true;
    context.survey = &report;
    if (Result<void> passed = installPass(context); !passed) return fail(passed.error());
    report.verdict = verdictOf(report);
    return report;
  } catch (const std::bad_alloc&) {
    return fail(Error::OutOfMemory);
  }
}

}  // namespace qorvex
