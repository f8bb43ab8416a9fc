#pragma once

#include <string_view>

#include "error.h"
#include "file_system.h"

namespace qorvex {

// Trims " \t\r\n" from both ends, then every '"' from both ends, then every
// trailing '/' and '\'. The result is a sub-range of the input;
// NoPathProvided when nothing is left.
Result<std::string_view> normalizeInstallDir(std::string_view text);

// True when "{dir}\MissionEditor" (the platform's separator) is an absolute
// path that opens as a directory.
bool looksLikeGameInstall(FileSystem& fs, std::string_view dir, char separator);

}  // namespace qorvex
