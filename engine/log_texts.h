#pragma once
// Every line the passes write into the run log and every entry they add to
// the summary's error list, in one place: the texts are what users and their
// scripts read, so each is written once, word for word.

#include <cstdint>
#include <string>
#include <string_view>

namespace qorvex::texts {

// Progress lines (each ends in LF; the log makes it CR LF).
std::string moduleLine(bool update, std::string_view moduleName);  // [CREATE] / [UPDATE]
std::string moduleUpToDate(std::string_view moduleName);
std::string patchingFile(std::string_view path, std::uint32_t applied,
                         std::uint32_t alreadyApplied);
std::string allApplied(std::string_view path, std::uint32_t alreadyApplied);
std::string migratingInitCall(std::string_view path, std::string_view id);
std::string insertingPanel(std::string_view path);
std::string panelPresent(std::string_view path, bool unmarked);
std::string removingBlocks(std::string_view path, std::uint32_t removed);
std::string removingPanel(std::string_view path);
std::string removingModule(std::string_view moduleName);
std::string backupMade(std::string_view backupName);

// The driver's lines for a run that cannot start (they end in CR LF).
std::string manifestNotLoaded(std::string_view errorName);
std::string installDirNotOpened(std::string_view installDir, std::string_view errorName);

// Error list entries (no line end).
std::string luaFileMissing(std::string_view path, std::size_t patches);
std::string dialogFileMissing(std::string_view path);
std::string luaAnchorNotFound(std::string_view path, std::string_view id);
std::string luaAnchorAmbiguous(std::string_view path, std::string_view id, std::size_t count);
std::string dialogAnchorNotFound(std::string_view path);
std::string dialogAnchorAmbiguous(std::string_view path, std::size_t count);
// `when` names the moment: "post-patch", "post-uninstall".
std::string unbalancedNotWritten(std::string_view path, std::string_view when,
                                 std::string_view fault);
std::string moduleUnbalanced(std::string_view moduleName, std::string_view fault);

}  // namespace qorvex::texts
