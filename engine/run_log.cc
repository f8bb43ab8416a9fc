#include "run_log.h"

#include "utf8.h"

#include <cstring>
#include <string>

#include "run_context.h"

namespace qorvex {

void RunLog::appendLog(std::string_view text) {
  if (sink_ == nullptr) return;
  if (!isValidUtf8(text)) return;
  if (text.find('\n') == std::string_view::npos) {
    sink_->append(text);
    return;
  }
  std::string converted;
  converted.reserve(text.size() + text.size() / 16 + 2);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) converted.push_back('\r');
    converted.push_back(text[i]);
  }
  sink_->append(converted);
}

void RunLog::logMessage(std::initializer_list<std::string_view> pieces) {
  std::size_t total = 0;
  for (std::string_view piece : pieces) total += piece.size();
  if (total > kMessageBufferSize) {
    appendLog(kTooLongLine);
    return;
  }
  std::size_t used = 0;
  for (std::string_view piece : pieces) {
    std::memcpy(messageBuffer_ + used, piece.data(), piece.size());
    used += piece.size();
  }
  appendLog(std::string_view(messageBuffer_, used));
}

void RunLog::write(std::initializer_list<std::string_view> pieces) {
  for (std::string_view piece : pieces) appendLog(piece);
}

void writeRunHeader(RunLog& log, std::string_view installDir, std::string_view action) {
  log.logMessage({"\r\nGame install directory: ", installDir, "\r\nAction: ", action, "\r\n\r\n"});
}

void writeFatalLine(RunLog& log, std::string_view errorName) {
  log.logMessage({"\r\nFATAL: ", errorName, "\r\n"});
}

void writeSummary(RunLog& log, const RunSummary& summary) {
  log.logMessage({summary.success ? "COMPLETED SUCCESSFULLY" : "COMPLETED WITH ERRORS", "\r\n"});
  log.logMessage({"  ", std::to_string(summary.filesPatched), " files patched.\r\n"});
  log.logMessage(
      {"  ", std::to_string(summary.filesSkipped), " files skipped (already up to date).\r\n"});
  log.logMessage({"  ", std::to_string(summary.backupsCreated), " backups created.\r\n"});
  if (summary.errors.empty()) return;
  log.logMessage({"  Errors:\r\n"});
  for (const std::string& entry : summary.errors) log.logMessage({"    - ", entry, "\r\n"});
}

}  // namespace qorvex
