#pragma once

#include <string>
#include <string_view>

#include "hints.h"
#include "run.h"

namespace qorvex::cli {

// `check`, `install` or `uninstall --json`: the result of a run as one JSON
// object, for scripts that should not have to parse the log: the action, the
// install folder, whether the run went through to its summary and whether it
// met no problem, the fatal error and its file, the counters and errors of
// the summary, the changes that stopped it before it started, and the log's
// lines (line ends removed).
std::string runJson(const RunResult& result, std::string_view action, std::string_view installDir,
                    std::string_view log, HintStyle hintStyle);

}  // namespace qorvex::cli
