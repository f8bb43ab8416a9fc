#include "hints.h"

namespace qorvex {

std::string_view problemHint(Error error, bool readOnly, HintStyle style) {
  const bool windows = style == HintStyle::Windows;
  if (readOnly) {
    return windows ? "the file is marked read-only; clear its Read-only attribute (Properties), "
                     "then retry"
                   : "the file is read-only; give it write permission (chmod u+w), then retry";
  }
  switch (error) {
    case Error::AccessDenied:
      return windows ? "Windows refused the change; run the setup as administrator, then retry"
                     : "you may not change this file or its folder; fix the folder's permissions "
                       "(or run as the user who owns the game files), then retry";
    case Error::FileBusy:
      return "another program has the file open; close DCS World or the program that has the "
             "file open, then retry";
    case Error::NoSpaceLeft: return "the drive is full; free space on that drive, then retry";
    case Error::InstallBusy:
      return "another setup run is changing this game install; wait until it has finished, then "
             "retry";
    case Error::FileChanged:
      return "the file changed while it was being compared; run the command again";
    case Error::LinkRefused:
      return "a link leads out of the game install here; put the real folder or file in its place";
    case Error::IsDir:
      return "a folder stands where the game has a file; repair the game install, then retry";
    case Error::NotAFile: return "this is not a regular file; repair the game install, then retry";
    case Error::EmbeddedResourceNotFound:
      return "the payload carries no block of the name the manifest gives; check the manifest's "
             "insertBlockResource and the --payload folder";
    case Error::InputOutput:
      return "the drive reported a read or write error; check the drive, then retry";
    case Error::StreamTooLong:
      return "the file is larger than 16 MiB, far larger than the game's own; repair the game "
             "install, then retry";
    default: return "the file cannot be changed; repair the game install, then retry";
  }
}

std::string installDirHint(const InstallDirDiagnosis& diagnosis, std::string_view dir) {
  std::string hint;
  switch (diagnosis.kind) {
    case InstallDirDiagnosis::NotAbsolute:
      hint.append(dir).append(
          " is not a full path; give the whole path of the game's root folder, the one that holds "
          "MissionEditor.");
      break;
    case InstallDirDiagnosis::Missing:
      hint.append("The folder ").append(dir).append(" does not exist.");
      break;
    case InstallDirDiagnosis::IsFile: hint.append(dir).append(" is a file, not a folder."); break;
    case InstallDirDiagnosis::MissionEditorItself:
      hint.append("This is the game's MissionEditor folder; choose the folder that holds it: ")
          .append(diagnosis.suggestion);
      break;
    case InstallDirDiagnosis::HoldsInstall:
      hint.append("This folder holds a game install; choose that one: ")
          .append(diagnosis.suggestion);
      break;
    case InstallDirDiagnosis::NoAccess:
      hint.append(diagnosis.suggestion)
          .append(
              " may not be opened by this user; fix its permissions, or run as the user who owns "
              "the game files.");
      break;
    case InstallDirDiagnosis::NoInstall:
      hint.append("No MissionEditor folder is in ")
          .append(dir)
          .append("; choose the game's root folder, the one that holds MissionEditor.");
      break;
  }
  return hint;
}

}  // namespace qorvex
