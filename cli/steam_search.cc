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

struct Found {
  std::string installDir;
  std::string library;
};

// What the Steam folders below `home` hold: Steam's own folders, the
// libraries they list and the game installs in those, each folder once.
struct SteamSearch {
  std::vector<std::string> steamFolders;
  std::vector<std::string> libraries;
  std::vector<Found> installs;
};

SteamSearch searchSteamFolders(FileSystem& fs, const std::string& home) {
  SteamSearch search;
  std::vector<std::string> seenLibraries;
  std::vector<std::string> seenInstalls;
  auto firstTime = [](std::vector<std::string>& seen, std::string key) {
    if (std::find(seen.begin(), seen.end(), key) != seen.end()) return false;
    seen.push_back(std::move(key));
    return true;
  };
  for (std::string_view below : kSteamFolders) {
    std::string steam = home;
    if (steam.back() != '/') steam.push_back('/');
    steam.append(below);
    search.steamFolders.push_back(steam);
    if (!fs.openDirectory(steam)) continue;
    for (const std::string& library : qorvex::steamLibraries(fs, steam, kSeparator)) {
      if (!firstTime(seenLibraries, sameFolderKey(library))) continue;
      search.libraries.push_back(library);
      std::string dir = qorvex::steamGameFolder(library, kSeparator);
      if (!qorvex::looksLikeGameInstall(fs, dir, kSeparator)) continue;
      if (!firstTime(seenInstalls, sameFolderKey(dir))) continue;
      search.installs.push_back({std::move(dir), library});
    }
  }
  return search;
}

// Why there is not exactly one install to use, with the folders looked at.
void reportNoSingleInstall(const SteamSearch& search) {
  if (search.installs.empty() && search.libraries.empty()) {
    std::fputs("qorvex-patch: no INSTALL_DIR given, and no Steam was found in:\n", stderr);
    for (const std::string& folder : search.steamFolders)
      std::fprintf(stderr, "  %s\n", folder.c_str());
  } else if (search.installs.empty()) {
    std::fputs(
        "qorvex-patch: no INSTALL_DIR given, and no game install was found in these Steam "
        "libraries:\n",
        stderr);
    for (const std::string& library : search.libraries)
      std::fprintf(stderr, "  %s\n", library.c_str());
  } else {
    std::fputs(
        "qorvex-patch: no INSTALL_DIR given, and the Steam libraries hold several game "
        "installs; name one as INSTALL_DIR:\n",
        stderr);
    for (const Found& install : search.installs)
      std::fprintf(stderr, "  %s\n", install.installDir.c_str());
  }
  if (search.installs.empty()) {
    std::fputs(
        "qorvex-patch: name the game's folder, the one that holds MissionEditor, as "
        "INSTALL_DIR\n",
        stderr);
  }
}

}  // namespace

std::optional<std::string> findInstallInSteamLibraries(FileSystem& fs) {
  const char* home = std::getenv("HOME");
  if (home == nullptr || !qorvex::isAbsolutePath(home)) {
    std::fputs(
        "qorvex-patch: no INSTALL_DIR given, and HOME does not name a folder to look for "
        "Steam in\n",
        stderr);
    return std::nullopt;
  }
  const SteamSearch search = searchSteamFolders(fs, home);
  if (search.installs.size() != 1) {
    reportNoSingleInstall(search);
    return std::nullopt;
  }
  const Found& install = search.installs.front();
  std::fprintf(stderr, "qorvex-patch: using the game install %s (found in the Steam library %s)\n",
               install.installDir.c_str(), install.library.c_str());
  return install.installDir;
}

}  // namespace qorvex::cli
