#include "run_log.h"

#include <gtest/gtest.h>

#include <string>

#include "run_context.h"

namespace qorvex {
namespace {

TEST(RunLog, LineEndsAndInvalidText) {
  StringLogSink sink;
  RunLog log(&sink);
  log.appendLog("[SKIP] a\n");
  log.appendLog("kept\r\n");
  log.appendLog("\n");
  log.appendLog("x\r\ny\nz\r\r\n");
  log.appendLog("bad \xC3\x28\n");
  log.appendLog("\xED\xA0\x80");  // an encoded surrogate is not UTF-8
  log.appendLog("\xC3\xA9");
  EXPECT_EQ(sink.text(), "[SKIP] a\r\nkept\r\n\r\nx\r\ny\r\nz\r\r\n\xC3\xA9");
  // Without a sink nothing happens.
  RunLog silent(nullptr);
  silent.appendLog("x\n");
}

TEST(RunLog, MessageSizeRule) {
  StringLogSink sink;
  RunLog log(&sink);
  const std::string exact(kMessageBufferSize, 'a');
  log.logMessage({exact});
  EXPECT_EQ(sink.text(), exact);
  sink.clear();
  log.logMessage({exact, "b"});
  log.logMessage({"next\r\n"});
  EXPECT_EQ(sink.text(), "[log message too long to display]\r\nnext\r\n");
}

TEST(RunLog, FramingLinesAndSummary) {
  StringLogSink sink;
  RunLog log(&sink);
  writeRunHeader(log, "C:\\Games\\DCS", "INSTALL");
  RunSummary summary;
  summary.filesPatched = 3;
  summary.filesSkipped = 4294967295u;
  writeSummary(log, summary);
  EXPECT_EQ(sink.text(),
            "\r\nGame install directory: C:\\Games\\DCS\r\nAction: INSTALL\r\n\r\n"
            "COMPLETED SUCCESSFULLY\r\n"
            "  3 files patched.\r\n"
            "  4294967295 files skipped (already up to date).\r\n"
            "  0 backups created.\r\n");
  sink.clear();
  summary.success = false;
  summary.errors = {"first", std::string(8185, 'e'), "third"};
  writeSummary(log, summary);
  writeFatalLine(log, "AccessDenied");
  EXPECT_EQ(sink.text(),
            "COMPLETED WITH ERRORS\r\n"
            "  3 files patched.\r\n"
            "  4294967295 files skipped (already up to date).\r\n"
            "  0 backups created.\r\n"
            "  Errors:\r\n"
            "    - first\r\n"
            "[log message too long to display]\r\n"
            "    - third\r\n"
            "\r\nFATAL: AccessDenied\r\n");
  // The entry of 8184 bytes makes a line of exactly 8192 bytes, which fits.
  sink.clear();
  summary.errors = {std::string(8184, 'e')};
  writeSummary(log, summary);
  EXPECT_NE(sink.text().find("    - " + std::string(8184, 'e') + "\r\n"), std::string::npos);
}

}  // namespace
}  // namespace qorvex
