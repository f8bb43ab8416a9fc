#include "status_output.h"

#include "json_text.h"

namespace qorvex::cli {
namespace {

constexpr std::string_view kModuleName = "modules/me_qorvex_undo.lua";

std::string joinedLines(const std::vector<std::size_t>& lines) {
  std::string out;
  for (std::size_t line : lines) {
    if (!out.empty()) out += ", ";
    out += std::to_string(line);
  }
  return out;
}

// "{file} [{id}]: {state}", with the error of an unreadable file.
std::string entryLine(const EntryReport& entry) {
  std::string line =
      entry.file + " [" + entry.id + "]: " + std::string(entryStateName(entry.state));
  if (entry.state == EntryState::Unreadable)
    line += " (" + std::string(errorName(entry.error)) + ")";
  return line;
}

void appendEntry(std::string& out, const EntryReport& entry, std::string_view newline) {
  out += entryLine(entry);
  out += newline;
  if (entry.state == EntryState::AnchorAmbiguous) {
    out += "    matches at lines " + joinedLines(entry.matchLines) + "; a longer anchor is needed";
    out += newline;
  }
  if (entry.nearest) {
    out += "    nearest text at line " + std::to_string(entry.nearest->line) + ", " +
           std::to_string(entry.nearest->matchedTokens) + " of " +
           std::to_string(entry.nearest->anchorTokens) + " tokens matching:";
    out += newline;
    out += "    " + entry.nearest->diff;
    out += newline;
  }
}

std::string optionalJson(const std::optional<std::string>& value) {
  return value ? jsonString(*value) : "null";
}

std::string entryJson(const EntryReport& entry) {
  std::string out = "{\"file\": " + jsonString(entry.file) + ", \"id\": " + jsonString(entry.id) +
                    ", \"marker\": " + jsonString(entry.marker) +
                    ", \"state\": " + jsonString(entryStateName(entry.state));
  if (entry.state == EntryState::Unreadable)
    out += ", \"error\": " + jsonString(errorName(entry.error));
  if (entry.state == EntryState::AnchorAmbiguous)
    out += ", \"matchLines\": [" + joinedLines(entry.matchLines) + "]";
  if (entry.nearest) {
    out += ", \"nearest\": {\"line\": " + std::to_string(entry.nearest->line) +
           ", \"matchedTokens\": " + std::to_string(entry.nearest->matchedTokens) +
           ", \"anchorTokens\": " + std::to_string(entry.nearest->anchorTokens) +
           ", \"diff\": " + jsonString(entry.nearest->diff) + "}";
  }
  return out + "}";
}

std::string entriesJson(const std::vector<EntryReport>& entries) {
  std::string out = "[";
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (i > 0) out += ", ";
    out += entryJson(entries[i]);
  }
  return out + "]";
}

}  // namespace

std::string statusText(const SurveyReport& report, std::string_view installDir,
                       std::string_view newline) {
  std::string out = "Game install directory: " + std::string(installDir);
  out += newline;
  out += "Game version: ";
  out += report.gameVersion ? *report.gameVersion : "unknown";
  if (report.gameBranch) out += " (" + *report.gameBranch + ")";
  out += newline;
  out += "Verdict: " + std::string(verdictName(report.verdict));
  out += newline;
  out += "Module " + std::string(kModuleName) + ": " + std::string(moduleStateName(report.module));
  if (report.module == ModuleState::Unreadable)
    out += " (" + std::string(errorName(report.moduleError)) + ")";
  out += newline;
  for (const auto* list : {&report.entries, &report.dialogs}) {
    for (const EntryReport& entry : *list) appendEntry(out, entry, newline);
  }
  return out;
}

std::string statusJson(const SurveyReport& report, std::string_view installDir) {
  std::string out = "{\"installDir\": " + jsonString(installDir) +
                    ", \"gameVersion\": " + optionalJson(report.gameVersion) +
                    ", \"gameBranch\": " + optionalJson(report.gameBranch) +
                    ", \"verdict\": " + jsonString(verdictName(report.verdict)) +
                    ", \"module\": {\"state\": " + jsonString(moduleStateName(report.module));
  if (report.module == ModuleState::Unreadable)
    out += ", \"error\": " + jsonString(errorName(report.moduleError));
  out += "}, \"entries\": " + entriesJson(report.entries) +
         ", \"dialogs\": " + entriesJson(report.dialogs) + "}";
  return out;
}

int statusExitCode(Verdict verdict) {
  switch (verdict) {
    case Verdict::Installed: return 0;
    case Verdict::NotInstalled: return 3;
    case Verdict::Partial: return 4;
    case Verdict::Blocked: return 5;
  }
  return 5;
}

std::string blockingEntries(const SurveyReport& report, std::string_view newline) {
  std::string out;
  if (report.module == ModuleState::Unreadable) {
    out += "qorvex-patch: " + std::string(kModuleName) + ": unreadable (" +
           std::string(errorName(report.moduleError)) + ")";
    out += newline;
  }
  for (const auto* list : {&report.entries, &report.dialogs}) {
    for (const EntryReport& entry : *list) {
      if (entry.state != EntryState::AnchorNotFound && entry.state != EntryState::AnchorAmbiguous &&
          entry.state != EntryState::FileMissing && entry.state != EntryState::Unreadable) {
        continue;
      }
      out += "qorvex-patch: " + entryLine(entry);
      if (entry.nearest)
        out += " (nearest text at line " + std::to_string(entry.nearest->line) + ")";
      if (entry.state == EntryState::AnchorAmbiguous)
        out += " (lines " + joinedLines(entry.matchLines) + ")";
      out += newline;
    }
  }
  return out;
}

}  // namespace qorvex::cli
