#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "error.h"
#include "file_system.h"
#include "nearest_text.h"
#include "payload.h"

namespace qorvex {

// Where an install stands against the manifest, entry by entry, for players
// after a game update and for the people who keep the manifest. Worked out
// by the install pass itself, run as CHECK, so that it and a run cannot
// disagree.

enum class EntryState {
  Applied,          // its BEGIN line is there
  AppliedOutdated,  // there, but the block's text differs from the manifest's
  PresentUnmarked,  // the text is there without markers
  Pending,          // the anchor matches once: INSTALL would insert it
  AnchorNotFound,
  AnchorAmbiguous,
  FileMissing,
  Unreadable,
};
std::string_view entryStateName(EntryState state);  // "applied", "applied-outdated", ...

struct EntryReport {
  std::string file;  // as the manifest spells it
  std::string id;    // a dialog entry's is its insertBlockResource
  std::string marker;
  EntryState state = EntryState::Pending;
  Error error = Error::Unexpected;      // Unreadable
  std::vector<std::size_t> matchLines;  // AnchorAmbiguous: the first ten matches
  std::optional<NearestText> nearest;   // AnchorNotFound
};

enum class ModuleState { Absent, Current, Outdated, Unreadable };
std::string_view moduleStateName(ModuleState state);  // "absent", "current", ...

enum class Verdict {
  Installed,     // every change made, the module current, nothing outdated
  NotInstalled,  // no block and no module
  Partial,       // INSTALL would change something and can make every change
  Blocked,       // some change cannot be made
};
std::string_view verdictName(Verdict verdict);  // "installed", "not-installed", ...

inline constexpr std::size_t kMaxMatchLines = 10;

struct SurveyReport {
  // From the game's autoupdate.cfg, when it is there and readable.
  std::optional<std::string> gameVersion;
  std::optional<std::string> gameBranch;
  Verdict verdict = Verdict::NotInstalled;
  ModuleState module = ModuleState::Absent;
  Error moduleError = Error::Unexpected;  // ModuleState::Unreadable
  std::vector<EntryReport> entries;
  std::vector<EntryReport> dialogs;
};

// Surveys the install. Fails with the error of a manifest that does not load
// or of an install directory that does not open.
Result<SurveyReport> surveyInstall(std::string_view installDir, FileSystem& fs,
                                   const PayloadSource& payload);

// Recording, for the passes: each call does nothing unless the run surveys.
struct RunContext;
void surveyEntry(RunContext& run, std::string_view file, std::string_view id,
                 std::string_view marker, EntryState state);
// An entry whose BEGIN line is in `working`: applied or outdated.
void surveyApplied(RunContext& run, std::string_view file, std::string_view id,
                   std::string_view marker, std::string_view text, std::string_view working);
// An anchor found nowhere, or more than once, in `working`.
void surveyAnchorProblem(RunContext& run, std::string_view file, std::string_view id,
                         std::string_view marker, bool ambiguous, std::string_view working,
                         std::string_view anchor);
void surveyUnreadable(RunContext& run, std::string_view file, std::string_view id,
                      std::string_view marker, Error error);
void surveyModule(RunContext& run, ModuleState state, Error error = Error::Unexpected);
// True when the run only surveys: read errors are recorded, not fatal.
bool surveying(const RunContext& run);

}  // namespace qorvex
