#pragma once

#include <string>
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

// Why a folder that is not a game install was refused, and the folder that
// the user most likely meant, where there is one.
struct InstallDirDiagnosis {
  enum Kind {
    NotAbsolute,          // not a full path
    Missing,              // nothing of that name
    IsFile,               // a file, not a folder
    MissionEditorItself,  // the install's MissionEditor folder: `suggestion` is its parent
    HoldsInstall,         // a folder directly inside is an install: `suggestion`
    NoAccess,             // `suggestion`, the folder or its MissionEditor, may not be opened
    NoInstall,            // nothing like an install
  };
  Kind kind = NoInstall;
  std::string suggestion;
};
InstallDirDiagnosis diagnoseInstallDir(FileSystem& fs, std::string_view dir, char separator);

}  // namespace qorvex
