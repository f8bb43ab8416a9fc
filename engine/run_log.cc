#include "run_log.h"

#include <cstring>
#include <string>

#include "run_context.h"

namespace qorvex {

bool isValidUtf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  while (p < end) {
    unsigned char c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    std::size_t length;
    std::uint32_t codePoint;
    if ((c & 0xE0) == 0xC0) {
      length = 2;
      codePoint = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      length = 3;
      codePoint = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      length = 4;
      codePoint = c & 0x07;
    } else {
      return false;
    }
    if (static_cast<std::size_t>(end - p) < length) return false;
    for (std::size_t i = 1; i < length; ++i) {
      if ((p[i] & 0xC0) != 0x80) return false;
      codePoint = (codePoint << 6) | (p[i] & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if ((length == 2 && codePoint < 0x80) || (length == 3 && codePoint < 0x800) ||
        (length == 4 && codePoint < 0x10000) || codePoint > 0x10FFFF ||
        (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
      return false;
    }
    p += length;
  }
  return true;
}

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
