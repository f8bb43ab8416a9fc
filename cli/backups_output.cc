#include "backups_output.h"

#include "json_text.h"
#include "temporary_file.h"

namespace qorvex::cli {
namespace {

// "1 backup", "2 backups".
std::string counted(std::size_t count, std::string_view noun) {
  std::string text = std::to_string(count) + " " + std::string(noun);
  if (count != 1) text += "s";
  return text;
}

std::string pathOrNull(std::string_view path) { return path.empty() ? "null" : jsonString(path); }

std::string fatalJson(const std::optional<BackupsFailure>& failure) {
  if (!failure) return "null";
  return "{\"error\": " + jsonString(errorName(failure->error)) +
         ", \"path\": " + pathOrNull(failure->path) + "}";
}

std::string backupJson(const Backup& backup) {
  // ISO 8601 for scripts; the name's stamp is UTC.
  std::string time = stampTime(backup.stamp.stamp);
  time[10] = 'T';
  return "{\"name\": " + jsonString(backup.name) + ", \"path\": " + jsonString(backup.path) +
         ", \"size\": " + std::to_string(backup.info.size) +
         ", \"time\": " + jsonString(time + "Z") + "}";
}

std::string problemLine(std::string_view path, Error error, bool readOnly, HintStyle hintStyle) {
  return "qorvex-patch: " + std::string(path) + ": " + std::string(errorName(error)) + ": " +
         std::string(problemHint(error, readOnly, hintStyle)) + "\n";
}

}  // namespace

std::string backupsText(const BackupListing& listing, std::string_view installDir) {
  std::string out = "Game install directory: " + std::string(installDir) + "\n";
  std::size_t backups = 0;
  std::size_t files = 0;
  for (const BackedUpFile& file : listing.files) {
    if (file.backups.empty()) continue;
    ++files;
    out += file.path + "\n";
    for (const Backup& backup : file.backups) {
      ++backups;
      out += "  " + backup.name + "  " + std::to_string(backup.info.size) + " bytes  " +
             stampTime(backup.stamp.stamp) + " UTC\n";
    }
  }
  if (backups == 0) return out + "No backups.\n";
  return out + counted(backups, "backup") + " of " + counted(files, "file") + ".\n";
}

std::string backupsJson(const BackupListing& listing, std::string_view installDir) {
  std::string out = "{\"installDir\": " + jsonString(installDir) +
                    ", \"fatal\": " + fatalJson(listing.failure) + ", \"files\": [";
  for (std::size_t i = 0; i < listing.files.size(); ++i) {
    const BackedUpFile& file = listing.files[i];
    if (i > 0) out += ", ";
    out += "{\"path\": " + jsonString(file.path) + ", \"backups\": [";
    for (std::size_t k = 0; k < file.backups.size(); ++k) {
      if (k > 0) out += ", ";
      out += backupJson(file.backups[k]);
    }
    out += "]}";
  }
  return out + "]}";
}

std::string pruneText(const PruneReport& report, std::string_view installDir, bool dryRun) {
  std::string out = "Game install directory: " + std::string(installDir) + "\n";
  const std::string* heading = nullptr;
  for (const PrunedBackup& removed : report.removed) {
    if (heading == nullptr || *heading != removed.file) {
      heading = &removed.file;
      out += removed.file + "\n";
    }
    out += std::string(dryRun ? "  would remove " : "  removed ") + removed.backup.name +
           ": same bytes as " + std::string(fileNameOf(removed.sameAs)) + " (" +
           std::to_string(removed.freedBytes) + " bytes freed)\n";
  }
  const std::string tally = std::to_string(report.removed.size()) + " of " +
                            counted(report.backupsFound, "backup") + "; " +
                            std::to_string(report.bytesFreed()) + " bytes";
  out += dryRun ? "Would remove " + tally + " would be freed.\n" : "Removed " + tally + " freed.\n";
  if (!report.problems.empty()) {
    out += counted(report.problems.size(), "backup") + " that could go stayed.\n";
  }
  return out;
}

std::string pruneJson(const PruneReport& report, std::string_view installDir, bool dryRun,
                      HintStyle hintStyle) {
  std::string out =
      "{\"installDir\": " + jsonString(installDir) +
      ", \"dryRun\": " + (dryRun ? "true" : "false") + ", \"fatal\": " + fatalJson(report.failure) +
      ", \"backupsFound\": " + std::to_string(report.backupsFound) + ", \"removed\": [";
  for (std::size_t i = 0; i < report.removed.size(); ++i) {
    const PrunedBackup& removed = report.removed[i];
    if (i > 0) out += ", ";
    out += "{\"file\": " + jsonString(removed.file) +
           ", \"name\": " + jsonString(removed.backup.name) +
           ", \"path\": " + jsonString(removed.backup.path) +
           ", \"size\": " + std::to_string(removed.backup.info.size) +
           ", \"sameAs\": " + jsonString(removed.sameAs) +
           ", \"freedBytes\": " + std::to_string(removed.freedBytes) + "}";
  }
  out += "], \"bytesFreed\": " + std::to_string(report.bytesFreed()) + ", \"problems\": [";
  for (std::size_t i = 0; i < report.problems.size(); ++i) {
    const PruneProblem& problem = report.problems[i];
    if (i > 0) out += ", ";
    out += "{\"path\": " + jsonString(problem.path) +
           ", \"error\": " + jsonString(errorName(problem.error)) +
           ", \"hint\": " + jsonString(problemHint(problem.error, problem.readOnly, hintStyle)) +
           "}";
  }
  return out + "]}";
}

std::string pruneProblems(const PruneReport& report, std::string_view installDir,
                          HintStyle hintStyle) {
  std::string out;
  for (const PruneProblem& problem : report.problems) {
    out += problemLine(problem.path, problem.error, problem.readOnly, hintStyle);
  }
  if (report.failure) out += failureLine(*report.failure, installDir, hintStyle);
  return out;
}

std::string failureLine(const BackupsFailure& failure, std::string_view installDir,
                        HintStyle hintStyle) {
  if (failure.manifest) {
    return "qorvex-patch: the patch manifest does not load: " +
           std::string(errorName(failure.error)) + "\n";
  }
  return problemLine(failure.path.empty() ? installDir : std::string_view(failure.path),
                     failure.error, false, hintStyle);
}

}  // namespace qorvex::cli
