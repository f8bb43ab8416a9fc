#include "control_log_sink.h"

namespace qorvex::wizard {

void ControlLogSink::append(std::string_view utf8) {
  if (!platform_.hasControl(control_)) return;
  const int end = platform_.textLength(control_);
  platform_.setSelection(control_, end, end);
  TextResult<std::u16string> units = utf8ToUtf16(utf8);
  if (!units) return;
  platform_.replaceSelection(control_, units->c_str());
}

}  // namespace qorvex::wizard
