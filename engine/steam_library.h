#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "file_system.h"

namespace qorvex {

// The library folders named in the text of a Steam `libraryfolders.vdf`, in
// the file's order, with the file's escapes undone ("D:\\SteamLibrary" is
// D:\SteamLibrary). Both shapes Steam has written are read: the old one, where
// numbered keys hold the paths directly ("1" "D:\\SteamLibrary"), and the
// current one, where each numbered block holds a "path" key. A damaged file
// gives the paths read before the damage; nothing in it is an error.
std::vector<std::string> parseLibraryFolders(std::string_view vdf);

// Where a Steam install lists its libraries, relative to the Steam folder.
inline constexpr std::string_view kLibraryFoldersFile = "steamapps\\libraryfolders.vdf";
// A list larger than this is not Steam's; it is not read.
inline constexpr std::uint64_t kMaxLibraryFoldersBytes = 1 << 20;

// The libraries of the Steam install in `steamRoot`: the Steam folder itself
// (Steam's default library) first, then each absolute path that its
// libraryfolders.vdf names, each library once. A list that is missing or
// cannot be read adds nothing.
std::vector<std::string> steamLibraries(FileSystem& fs, std::string_view steamRoot, char separator);

// The game's folder inside a Steam library: {library}\steamapps\common\DCSWorld
// with the given separator.
std::string steamGameFolder(std::string_view library, char separator);

}  // namespace qorvex
