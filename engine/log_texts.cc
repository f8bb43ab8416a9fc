#include "log_texts.h"

namespace qorvex::texts {
namespace {

std::string cat(std::initializer_list<std::string_view> parts) {
  std::size_t size = 0;
  for (std::string_view part : parts) size += part.size();
  std::string out;
  out.reserve(size);
  for (std::string_view part : parts) out.append(part);
  return out;
}

std::string number(std::size_t n) { return std::to_string(n); }

constexpr std::string_view kManualReview = "Manual review required.";

}  // namespace

std::string moduleLine(bool update, std::string_view moduleName) {
  return cat({update ? "[UPDATE] " : "[CREATE] ", moduleName, "\n"});
}

std::string moduleUpToDate(std::string_view moduleName) {
  return cat({"[SKIP] ", moduleName, " is already up to date.\n"});
}

std::string patchingFile(std::string_view path, std::uint32_t applied,
                         std::uint32_t alreadyApplied) {
  if (alreadyApplied == 0)
    return cat({"[PATCH] ", path, " - applying ", number(applied), " patch(es).\n"});
  return cat({"[PATCH] ", path, " - applying ", number(applied), " patch(es), ",
              number(alreadyApplied), " already applied.\n"});
}

std::string allApplied(std::string_view path, std::uint32_t alreadyApplied) {
  return cat({"[SKIP] ", path, " - all ", number(alreadyApplied), " patch(es) already applied.\n"});
}

std::string migratingInitCall(std::string_view path, std::string_view id) {
  return cat(
      {"[MIGRATE] ", path, " [", id,
       "] - removing stale in-loop qorvex.init() call for reinsertion at the fixed location.\n"});
}

std::string insertingPanel(std::string_view path) {
  return cat({"[PATCH] ", path, " - inserting QORVEX panel block.\n"});
}

std::string panelPresent(std::string_view path, bool unmarked) {
  return cat({"[SKIP] ", path, " - QORVEX panel block already present",
              unmarked ? " (unmarked)" : "", ".\n"});
}

std::string removingBlocks(std::string_view path, std::uint32_t removed) {
  return cat({"[UNINSTALL] ", path, " - removing ", number(removed), " patch block(s).\n"});
}

std::string removingPanel(std::string_view path) {
  return cat({"[UNINSTALL] ", path, " - removing QORVEX panel block.\n"});
}

std::string removingModule(std::string_view moduleName) {
  return cat({"[UNINSTALL] ", moduleName, " - removing file.\n"});
}

std::string backupMade(std::string_view backupName) {
  return cat({"        backup -> ", backupName, "\n"});
}

std::string manifestNotLoaded(std::string_view errorName) {
  return cat({"ERROR: Failed to load embedded patch manifest -> ", errorName, "\r\n"});
}

std::string installDirNotOpened(std::string_view installDir, std::string_view errorName) {
  return cat(
      {"ERROR: Could not open game install directory '", installDir, "' -> ", errorName, "\r\n"});
}

std::string luaFileMissing(std::string_view path, std::size_t patches) {
  return cat({path, ": file not found, skipped (", number(patches), " patch(es) not applied)"});
}

std::string dialogFileMissing(std::string_view path) {
  return cat({path, ": file not found, skipped."});
}

std::string luaAnchorNotFound(std::string_view path, std::string_view id) {
  return cat({path, " [", id,
              "]: anchor not found - DCS update may have changed this file's structure. ",
              kManualReview});
}

std::string luaAnchorAmbiguous(std::string_view path, std::string_view id, std::size_t count) {
  return cat({path, " [", id, "]: anchor matched ", number(count),
              " times (ambiguous) - skipped to avoid corrupting the file. ", kManualReview});
}

std::string dialogAnchorNotFound(std::string_view path) {
  return cat({path, ": anchor not found - DCS update may have changed this dialog's structure. ",
              kManualReview});
}

std::string dialogAnchorAmbiguous(std::string_view path, std::size_t count) {
  return cat(
      {path, ": anchor matched ", number(count), " times (ambiguous) - skipped. ", kManualReview});
}

std::string unbalancedNotWritten(std::string_view path, std::string_view when,
                                 std::string_view fault) {
  return cat({path, ": ", when, " balance check failed -> ", fault, ". File was NOT written."});
}

std::string moduleUnbalanced(std::string_view moduleName, std::string_view fault) {
  return cat({moduleName, ": post-write balance check failed -> ", fault});
}

}  // namespace qorvex::texts
