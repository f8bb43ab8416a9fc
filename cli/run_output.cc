#include "run_output.h"

#include "json_text.h"

namespace qorvex::cli {
namespace {

std::string stringArray(const std::vector<std::string>& items) {
  std::string out = "[";
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += ", ";
    out += jsonString(items[i]);
  }
  return out + "]";
}

// The log's lines: it ends every line with CR LF.
std::vector<std::string> logLines(std::string_view log) {
  std::vector<std::string> lines;
  while (!log.empty()) {
    const std::size_t end = log.find("\r\n");
    if (end == std::string_view::npos) {
      lines.emplace_back(log);
      break;
    }
    lines.emplace_back(log.substr(0, end));
    log.remove_prefix(end + 2);
  }
  return lines;
}

}  // namespace

std::string runJson(const RunResult& result, std::string_view action, std::string_view installDir,
                    std::string_view log, HintStyle hintStyle) {
  std::string out = "{\"action\": " + jsonString(action) +
                    ", \"installDir\": " + jsonString(installDir) +
                    ", \"completed\": " + (result.summarized ? "true" : "false") +
                    ", \"success\": " + (result.summarized && result.success ? "true" : "false");
  out += ", \"fatal\": ";
  if (result.fatal) {
    out += "{\"error\": " + jsonString(errorName(result.error)) + ", \"path\": " +
           (result.failedPath.empty() ? std::string("null") : jsonString(result.failedPath)) + "}";
  } else {
    out += "null";
  }
  const RunSummary& summary = result.summary;
  out += ", \"filesPatched\": " + std::to_string(summary.filesPatched) +
         ", \"filesSkipped\": " + std::to_string(summary.filesSkipped) +
         ", \"backupsCreated\": " + std::to_string(summary.backupsCreated) +
         ", \"errors\": " + stringArray(summary.errors);
  out += ", \"problems\": [";
  for (std::size_t i = 0; i < result.problems.size(); ++i) {
    const PreflightProblem& problem = result.problems[i];
    if (i > 0) out += ", ";
    out += "{\"path\": " + (problem.path.empty() ? std::string("null") : jsonString(problem.path)) +
           ", \"error\": " + jsonString(errorName(problem.error)) +
           ", \"hint\": " + jsonString(problemHint(problem.error, problem.readOnly, hintStyle)) +
           "}";
  }
  out += "], \"log\": " + stringArray(logLines(log)) + "}";
  return out;
}

}  // namespace qorvex::cli
