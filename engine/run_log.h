#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace qorvex {

// The display that receives the RunLog: the wizard's log control, stdout for
// the command line, a string in tests. It receives valid UTF-8 with CR LF
// line ends only.
class LogSink {
 public:
  virtual ~LogSink() = default;
  virtual void append(std::string_view utf8) = 0;
};

// Collects the log in memory.
class StringLogSink : public LogSink {
 public:
  void append(std::string_view utf8) override { text_.append(utf8); }
  const std::string& text() const { return text_; }
  void clear() { text_.clear(); }

 private:
  std::string text_;
};

inline constexpr std::size_t kMessageBufferSize = 8192;
inline constexpr std::string_view kTooLongLine = "[log message too long to display]\r\n";

// The append-only RunLog. It never fails: text without a sink, text that is not
// valid UTF-8, and messages over kMessageBufferSize bytes are lost one at a time.
class RunLog {
 public:
  explicit RunLog(LogSink* sink) : sink_(sink) {}

  // Appends text, turning every LF not preceded by CR within this text into CR LF.
  void appendLog(std::string_view text);
  // One composed message: appended whole when its pieces add up to at most
  // kMessageBufferSize bytes, otherwise replaced by kTooLongLine.
  void logMessage(std::initializer_list<std::string_view> pieces);
  // Step lines of the passes: every piece goes straight to appendLog, with no
  // size limit.
  void write(std::initializer_list<std::string_view> pieces);

 private:
  LogSink* sink_;
  char messageBuffer_[kMessageBufferSize];
};

// Lines that frame a run.
void writeRunHeader(RunLog& log, std::string_view installDir, std::string_view action);
void writeFatalLine(RunLog& log, std::string_view errorName);
inline constexpr std::string_view kAbortedLine = "Aborted by user.\r\n";

struct RunSummary;
void writeSummary(RunLog& log, const RunSummary& summary);

}  // namespace qorvex
