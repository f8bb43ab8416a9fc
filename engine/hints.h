#pragma once

#include <string>
#include <string_view>

#include "error.h"
#include "install_dir.h"

namespace qorvex {

// Every hint the front ends show beside an error, in one place: what the user
// can do about it. Windows players and Linux players act differently on a
// refused file, so the hints come in two styles.
enum class HintStyle { Windows, Posix };

// The first words of the message for a folder that is not a game install;
// the error's name follows.
inline constexpr std::string_view kNotAGameInstall =
    "The selected directory does not look like a valid game install: ";

// What to do about a file that a run cannot change.
std::string_view problemHint(Error error, bool readOnly, HintStyle style);

// What to do about a folder that is not a game install, naming the folder to
// choose where there is one.
std::string installDirHint(const InstallDirDiagnosis& diagnosis, std::string_view dir);

}  // namespace qorvex
