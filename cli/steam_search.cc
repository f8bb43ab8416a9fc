#include "steam_search.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <vector>

#include "console.h"
#include "install_dir.h"
#include "steam_library.h"

namespace qorvex::cli {
namespace {

// Where Steam keeps itself for a Linux user, below the home folder: its own
// folder, the older link to it, and the Flatpak build's folder.
constexpr std::string_view kSteamFolders[] = {
    ".local/share/Steam",
    ".steam/steam",
    ".var/app/com.valvesoftware.Steam/.local/share/Steam",
};

// One folder reached by two names (~/.steam/steam is usually a link to
// ~/.local/share/Steam) counts once.
std::string sameFolderKey(const std::string& path) {
  std::error_code ignored;
  std::filesystem::path canonical = std::filesystem::weakly_canonical(path, ignored);
  return canonical.empty() ? path : canonical.string();
}

}  // namespace

std::optional<std::string> findInstallInSteamLibraries(FileSystem& fs) {
  const char* home = std::getenv("HOME");
  if (home == nullptr || !qorvex::isAbsolutePath(home)) {
    std::fputs("qorvex-patch: no INSTALL_DIR given, and HOME does not name a folder to look for "
               "Steam in\n",
               stderr);
    return std::nullopt;
  }
  struct Found {
    std::string installDir;
    std::string library;
  };
  std::vector<std::string> steamFolders;
  std::vector<std::string> libraries;
  std::vector<std::string> seenLibraries;
  std::vector<Found> found;
  std::vector<std::string> seenInstalls;
  for (std::string_view below : kSteamFolders) {
    std::string steam = home;
    if (steam.back() != '/') steam.push_back('/');
    steam.append(below);
    steamFolders.push_back(steam);
    if (!fs.openDirectory(steam)) continue;
    for (const std::string& library : qorvex::steamLibraries(fs, steam, kSeparator)) {
      std::string libraryKey = sameFolderKey(library);
      if (std::find(seenLibraries.begin(), seenLibraries.end(), libraryKey) != seenLibraries.end()) {
        continue;
      }
      seenLibraries.push_back(std::move(libraryKey));
      libraries.push_back(library);
      std::string dir = qorvex::steamGameFolder(library, kSeparator);
      if (!qorvex::looksLikeGameInstall(fs, dir, kSeparator)) continue;
      std::string installKey = sameFolderKey(dir);
      if (std::find(seenInstalls.begin(), seenInstalls.end(), installKey) != seenInstalls.end()) {
        continue;
      }
      seenInstalls.push_back(std::move(installKey));
      found.push_back({std::move(dir), library});
    }
  }
  if (found.size() == 1) {
    std::fprintf(stderr, "qorvex-patch: using the game install %s (found in the Steam library %s)\n",
                 found[0].installDir.c_str(), found[0].library.c_str());
    return found[0].installDir;
  }
  if (found.empty() && libraries.empty()) {
    std::fputs("qorvex-patch: no INSTALL_DIR given, and no Steam was found in:\n", stderr);
    for (const std::string& folder : steamFolders) std::fprintf(stderr, "  %s\n", folder.c_str());
  } else if (found.empty()) {
    std::fputs("qorvex-patch: no INSTALL_DIR given, and no game install was found in these Steam "
               "libraries:\n",
               stderr);
    for (const std::string& library : libraries) std::fprintf(stderr, "  %s\n", library.c_str());
  } else {
    std::fputs("qorvex-patch: no INSTALL_DIR given, and the Steam libraries hold several game "
               "installs; name one as INSTALL_DIR:\n",
               stderr);
    for (const Found& install : found) std::fprintf(stderr, "  %s\n", install.installDir.c_str());
  }
  if (found.empty()) {
    std::fputs("qorvex-patch: name the game's folder, the one that holds MissionEditor, as "
               "INSTALL_DIR\n",
               stderr);
  }
  return std::nullopt;
}

}  // namespace qorvex::cli
