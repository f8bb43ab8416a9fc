#pragma once

#include <string>
#include <vector>

#include "error.h"
#include "file_ops.h"
#include "file_system.h"
#include "payload.h"
#include "run.h"

namespace qorvex {

struct PreflightReport {
  std::vector<PlannedChange> changes;  // what the run would change, in order
  std::vector<PreflightProblem> problems;
};

// Takes the decisions of the run the request asks for (the same passes, which
// only plan) and checks that each change can be made: that the file is a
// regular file inside the install, not read-only and held by no other
// program, and that its folder takes a new file of the size the run would
// write (a probe file, named as the run's temporary files, is created and
// removed). Changes no content. A manifest that does not load or a directory
// that does not open gives an empty report: the run itself reports those.
PreflightReport preflight(const RunRequest& request, FileSystem& fs, const PayloadSource& payload,
                          Clock& clock = systemClock(), Random& random = systemRandom());

}  // namespace qorvex
