#pragma once
// Finding the game in the Linux user's Steam libraries, when the command line
// names no folder.

#include <optional>
#include <string>

#include "file_system.h"

namespace qorvex::cli {

// The one game install in the user's Steam libraries, or nothing after saying
// on stderr why there is not exactly one.
std::optional<std::string> findInstallInSteamLibraries(FileSystem& fs);

}  // namespace qorvex::cli
