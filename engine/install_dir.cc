#include "install_dir.h"

#include <algorithm>
#include <string>
#include <vector>

namespace qorvex {

Result<std::string_view> normalizeInstallDir(std::string_view text) {
  const std::string_view kWhitespace = " \t\r\n";
  std::size_t first = text.find_first_not_of(kWhitespace);
  if (first == std::string_view::npos) return fail(Error::NoPathProvided);
  text = text.substr(first, text.find_last_not_of(kWhitespace) - first + 1);
  first = text.find_first_not_of('"');
  if (first == std::string_view::npos) return fail(Error::NoPathProvided);
  text = text.substr(first, text.find_last_not_of('"') - first + 1);
  std::size_t last = text.find_last_not_of("/\\");
  if (last == std::string_view::npos) return fail(Error::NoPathProvided);
  return text.substr(0, last + 1);
}

bool looksLikeGameInstall(FileSystem& fs, std::string_view dir, char separator) {
  std::string joined(dir);
  if (joined.empty() || (joined.back() != '\\' && joined.back() != '/'))
    joined.push_back(separator);
  joined.append("MissionEditor");
  if (!isAbsolutePath(joined)) return false;
  return fs.openDirectory(joined).has_value();
}

namespace {

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return (x >= 'A' && x <= 'Z' ? x + 32 : x) == (y >= 'A' && y <= 'Z' ? y + 32 : y);
         });
}

std::string joined(std::string_view dir, std::string_view name, char separator) {
  std::string path(dir);
  if (path.empty() || (path.back() != '\\' && path.back() != '/')) path.push_back(separator);
  path.append(name);
  return path;
}

}  // namespace

InstallDirDiagnosis diagnoseInstallDir(FileSystem& fs, std::string_view dir, char separator) {
  InstallDirDiagnosis diagnosis;
  if (!isAbsolutePath(dir)) {
    diagnosis.kind = InstallDirDiagnosis::NotAbsolute;
    return diagnosis;
  }
  auto opened = fs.openDirectory(dir);
  if (!opened) {
    diagnosis.kind = opened.error() == Error::NotDir         ? InstallDirDiagnosis::IsFile
                     : opened.error() == Error::FileNotFound ? InstallDirDiagnosis::Missing
                     : opened.error() == Error::AccessDenied ? InstallDirDiagnosis::NoAccess
                                                             : InstallDirDiagnosis::NoInstall;
    if (diagnosis.kind == InstallDirDiagnosis::NoAccess) diagnosis.suggestion = dir;
    return diagnosis;
  }
  // There, but closed to this user: that is what to fix, not the choice.
  const std::string missionEditor = joined(dir, "MissionEditor", separator);
  if (auto inside = fs.openDirectory(missionEditor);
      !inside && inside.error() == Error::AccessDenied) {
    diagnosis.kind = InstallDirDiagnosis::NoAccess;
    diagnosis.suggestion = missionEditor;
    return diagnosis;
  }
  // Folder names on Windows ignore case: "missioneditor" is that folder too.
  const std::size_t slash = dir.find_last_of("\\/");
  if (slash != std::string_view::npos &&
      equalsIgnoringAsciiCase(dir.substr(slash + 1), "MissionEditor")) {
    std::string_view parent =
        dir.substr(0, slash == 0 || (slash == 2 && dir[1] == ':') ? slash + 1 : slash);
    if (looksLikeGameInstall(fs, parent, separator)) {
      diagnosis.kind = InstallDirDiagnosis::MissionEditorItself;
      diagnosis.suggestion = parent;
      return diagnosis;
    }
  }
  if (auto names = (*opened)->listFolder("")) {
    std::sort(names->begin(), names->end());
    for (const std::string& name : *names) {
      std::string candidate = joined(dir, name, separator);
      if (looksLikeGameInstall(fs, candidate, separator)) {
        diagnosis.kind = InstallDirDiagnosis::HoldsInstall;
        diagnosis.suggestion = std::move(candidate);
        return diagnosis;
      }
    }
  }
  diagnosis.kind = InstallDirDiagnosis::NoInstall;
  return diagnosis;
}

}  // namespace qorvex
