#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "file_system.h"
#include "run.h"
#include "wizard.h"
#include "wizard_platform.h"

namespace qorvex::wizard::testing {

std::string utf8(std::u16string_view units);

struct FakeControl {
  ControlSpec spec;
  std::u16string text;
  bool visible = false;
  bool enabled = true;
  int check = 0;
  std::optional<FontKind> font;
  std::optional<FontSpec> fontSpec;
  int selStart = 0;
  int selEnd = 0;
};

struct ShownBox {
  std::string text;
  std::string caption;
  unsigned style;
  bool operator==(const ShownBox&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const ShownBox& box) {
  return os << "{\"" << box.text << "\", \"" << box.caption << "\", 0x" << std::hex << box.style
            << std::dec << "}";
}

// An in-memory window system. It records every call in `events`, keeps the
// state of each control, answers boxes from a queue, and flags any operation
// on a control that was never created.
class FakePlatform : public WizardPlatform {
 public:
  bool createControl(const ControlSpec& spec) override;
  bool hasControl(ControlId id) override { return controls.count(id) != 0; }
  unsigned windowDpi() override { return dpi; }
  void useFonts(const FontSpec& normal, const FontSpec& title) override {
    fontSets.push_back({normal, title});
  }
  void setFont(ControlId id, FontKind font) override;
  void placeControl(ControlId id, const ControlRect& place) override;
  void showControl(ControlId id, bool show) override;
  void enableControl(ControlId id, bool enable) override;
  bool isUsable(ControlId id) override;
  void setFocus(ControlId id) override;
  void pressButton(ControlId id) override;
  void setText(ControlId id, const char16_t* text) override;
  int textLength(ControlId id) override;
  int readText(ControlId id, char16_t* buffer, int capacity) override;
  int checkState(ControlId id) override;
  void setChecked(ControlId id) override;
  void setSelection(ControlId id, int start, int end) override;
  void replaceSelection(ControlId id, const char16_t* text) override;
  int messageBox(const char16_t* text, const char16_t* caption, unsigned style) override;
  BrowseOutcome browseForFolder(const char16_t* title, unsigned flags,
                                const char16_t* initialFolder,
                                char16_t (&path)[kMaxPathUnits]) override;
  std::optional<std::u16string> programPath() override { return program; }
  bool isProgramRunning(const char16_t* exeName) override {
    askedForProgram = exeName;
    return gameRunning;
  }
  void destroyMainWindow() override;

  FakeControl& control(ControlId id);
  // What the user does: a click on a button or radio button (an auto radio
  // button checks itself and clears the others of its group), typing into
  // the directory field.
  void click(Wizard& wizard, ControlId id);
  void type(Wizard& wizard, std::u16string_view text);
  // The ids of the visible controls, in creation order.
  std::vector<int> visibleIds() const;
  std::string logText() const;

  // The font each control was given, as made by the last useFonts before.
  FontSpec fontOf(ControlId id) const;

  unsigned dpi = 96;
  std::vector<std::pair<FontSpec, FontSpec>> fontSets;  // normal, title
  std::optional<ControlId> focused;
  // pressButton clicks on this wizard's controls.
  Wizard* pressTarget = nullptr;
  std::u16string browseStartedAt;
  std::set<ControlId> failingControls;
  std::map<ControlId, FakeControl> controls;
  std::vector<ControlId> creationOrder;
  std::vector<std::string> events;
  std::vector<ShownBox> boxes;
  std::deque<int> answers;
  std::optional<std::u16string> program;
  bool gameRunning = false;
  std::u16string askedForProgram;
  BrowseOutcome browseOutcome = BrowseOutcome::Cancelled;
  std::u16string browsePath;
  bool fillWholeBrowseBuffer = false;
  int browseCalls = 0;
  int destroyed = 0;
  // Every box-showing call runs this first (used to look at the window while
  // a box is up).
  std::function<void()> onBox;

 private:
  FakeControl* find(ControlId id, const char* operation);
};

// Directories exist exactly when listed, and files can be read when listed by
// their absolute path ('\' separators) in a listed directory; nothing else works.
class FakeFileSystem : public FileSystem {
 public:
  Result<std::unique_ptr<Directory>> openDirectory(std::string_view absolutePath) override;

  std::set<std::string> directories;
  std::map<std::string, std::string> files;
  std::vector<std::string> opened;
  std::vector<std::string> read;
};

// Stands in for the engine: records each request and the state the wizard was
// in when it came, appends a line to the log and returns a set result.
class FakeRunner : public Runner {
 public:
  RunResult run(const RunRequest& request, RunLog& log) override;
  PreflightReport preflight(const RunRequest& request) override;
  Result<SurveyReport> survey(std::string_view installDir) override;

  struct Call {
    std::string installDir;
    bool uninstall;
    bool dryRun;
    std::string logBefore;
    std::vector<std::pair<int, bool>> enabledDuringRun;
  };
  FakePlatform* platform = nullptr;
  RunResult result{false, Error::Unexpected, true};
  PreflightReport preflightReport;
  int preflightCalls = 0;
  SurveyReport surveyReport;
  int surveyCalls = 0;
  std::string logLine = "[SKIP] engine line\n";
  std::vector<Call> calls;
};

}  // namespace qorvex::wizard::testing
