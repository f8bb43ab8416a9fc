#pragma once

#include <string_view>

#include "run_log.h"
#include "wizard_platform.h"

namespace qorvex::wizard {

// Shows the RunLog in the log control: every text goes to the end of the
// control's text as a change that cannot be undone. Without the control, or
// for text that does not convert to UTF-16, the text is dropped.
class ControlLogSink : public LogSink {
 public:
  ControlLogSink(WizardPlatform& platform, ControlId control)
      : platform_(platform), control_(control) {}
  void append(std::string_view utf8) override;

 private:
  WizardPlatform& platform_;
  ControlId control_;
};

}  // namespace qorvex::wizard
