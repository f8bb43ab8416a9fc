#pragma once

#include <string>
#include <string_view>

#include "survey.h"

namespace qorvex::cli {

// `qorvex-patch status`: the survey as lines for people, or as one JSON
// object for scripts. Lines end in `newline`.
std::string statusText(const SurveyReport& report, std::string_view installDir,
                       std::string_view newline);
std::string statusJson(const SurveyReport& report, std::string_view installDir);

// The exit status of a survey: 0 installed, 3 not installed, 4 partial,
// 5 blocked.
int statusExitCode(Verdict verdict);

// The lines `install --strict` prints for each entry that blocks an install.
std::string blockingEntries(const SurveyReport& report, std::string_view newline);

}  // namespace qorvex::cli
