#include "control_log_sink.h"

#include <gtest/gtest.h>

#include "fake_platform.h"

namespace qorvex::wizard::testing {
namespace {

class ControlLogSinkTest : public ::testing::Test {
 protected:
  void SetUp() override { platform.createControl(controlSpec(ControlId::LogEdit)); }
  FakePlatform platform;
  ControlLogSink sink{platform, ControlId::LogEdit};
  RunLog log{&sink};
};

TEST_F(ControlLogSinkTest, AppendsAtTheEndOfTheControlText) {
  platform.control(ControlId::LogEdit).text = u"earlier\r\n";
  // A selection somewhere else must not decide where the text goes.
  platform.control(ControlId::LogEdit).selStart = 0;
  platform.control(ControlId::LogEdit).selEnd = 3;
  platform.events.clear();
  log.appendLog("next \xE2\x80\x93 line\n");
  EXPECT_EQ(platform.events, (std::vector<std::string>{"select 117 9 9", "replace 117"}));
  EXPECT_EQ(platform.logText(), "earlier\r\nnext \xE2\x80\x93 line\r\n");
}

TEST_F(ControlLogSinkTest, ShowsBareLineFeedsAsCrLf) {
  log.appendLog("[PATCH] a\n");
  log.appendLog("kept\r\n");
  log.appendLog("\n");
  log.appendLog("x\n\ny");
  EXPECT_EQ(platform.logText(), "[PATCH] a\r\nkept\r\n\r\nx\r\n\r\ny");
}

TEST_F(ControlLogSinkTest, DropsInvalidUtf8Whole) {
  log.appendLog("before\r\n");
  platform.events.clear();
  log.appendLog("bad \xFF text\n");
  EXPECT_EQ(platform.logText(), "before\r\n");
  sink.append("bad \xC0\xAF");
  EXPECT_EQ(platform.logText(), "before\r\n");
  EXPECT_EQ(std::count(platform.events.begin(), platform.events.end(), "replace 117"), 0);
}

TEST_F(ControlLogSinkTest, WithoutTheControlTextIsDropped) {
  FakePlatform bare;
  ControlLogSink orphan(bare, ControlId::LogEdit);
  RunLog orphanLog(&orphan);
  orphanLog.appendLog("lost\n");
  EXPECT_TRUE(bare.events.empty());
}

TEST_F(ControlLogSinkTest, FramingLinesReadAsTheyShould) {
  writeRunHeader(log, "C:\\DCS", "UNINSTALL");
  log.appendLog(kAbortedLine);
  writeFatalLine(log, "AccessDenied");
  EXPECT_EQ(platform.logText(),
            "\r\nGame install directory: C:\\DCS\r\nAction: UNINSTALL\r\n\r\nAborted by "
            "user.\r\n\r\nFATAL: AccessDenied\r\n");
}

}  // namespace
}  // namespace qorvex::wizard::testing
