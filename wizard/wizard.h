#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "control_log_sink.h"
#include "error.h"
#include "file_system.h"
#include "preflight.h"
#include "survey.h"
#include "run.h"
#include "run_log.h"
#include "text_convert.h"
#include "wizard_platform.h"

namespace qorvex::wizard {

enum class WizardPage : unsigned char { AGREEMENT = 0, ACTION = 1, COMPLETE = 2 };

enum class SetupAction { CHECK, INSTALL, UNINSTALL };

// "CHECK", "INSTALL" or "UNINSTALL", as the run header shows it.
std::string_view setupActionName(SetupAction action);
RunRequest runRequestFor(SetupAction action, std::string_view installDir);

// The stored agreement text with every LF written as CR LF.
std::string agreementForDisplay(std::string_view stored);
// The confirmation box text for an action on the normalised directory; with
// the game running, INSTALL and UNINSTALL say that it must be restarted.
std::string confirmationText(SetupAction action, std::string_view dir, bool gameRunning = false);
// The rejection box text: the reason's name, an empty line, the field as read,
// and, when there is one, an empty line and the hint.
std::string rejectionText(Error reason, std::string_view fieldText, std::string_view hint = {});
// The box of a run that pre-flight stopped, naming the first files.
std::string preflightBoxText(const std::vector<PreflightProblem>& problems);
// The question asked before an INSTALL of which some changes cannot be made.
std::string blockedQuestion(const SurveyReport& report);
// The folder that holds the program file: the path without its last
// component (a drive or root folder keeps its separator).
std::string_view folderOfProgram(std::string_view programPath);

inline constexpr std::string_view kDefaultInstallDirs[] = {
    "C:\\Program Files\\Eagle Dynamics\\DCS World",
    "C:\\Program Files\\Eagle Dynamics\\DCS World OpenBeta",
    "D:\\DCS World",
    "D:\\DCS World OpenBeta",
};
// Where Steam installs itself unless told otherwise; its libraries are looked
// at after the folders above.
inline constexpr std::string_view kSteamFolder = "C:\\Program Files (x86)\\Steam";

// Hands a confirmed action to the patch engine. Tests put a fake in its place.
class Runner {
 public:
  virtual ~Runner() = default;
  virtual RunResult run(const RunRequest& request, RunLog& log) = 0;
  // What `run` would change and what stands in its way; writes no content.
  virtual PreflightReport preflight(const RunRequest& request) = 0;
  // Where the install stands against the manifest.
  virtual Result<SurveyReport> survey(std::string_view installDir) = 0;
};

// The real engine with the program's carried payload.
class EngineRunner : public Runner {
 public:
  explicit EngineRunner(FileSystem& fs) : fs_(fs) {}
  RunResult run(const RunRequest& request, RunLog& log) override;
  PreflightReport preflight(const RunRequest& request) override;
  Result<SurveyReport> survey(std::string_view installDir) override;

 private:
  FileSystem& fs_;
};

// The wizard's pages and actions, driven by the window system's events.
class Wizard {
 public:
  // `separator` joins paths for the game-install test ('\' on Windows).
  Wizard(WizardPlatform& platform, FileSystem& fs, char separator, Runner& runner);
  Wizard(const Wizard&) = delete;
  Wizard& operator=(const Wizard&) = delete;

  // Creates the controls and shows the agreement page (WM_CREATE).
  void create();
  // WM_COMMAND: the notification code and the control id.
  void onCommand(int controlId, int notification);
  // WM_COMMAND of an accelerator (Alt+letter): its button is pressed when the
  // user could press it, and nothing happens otherwise.
  void onAccelerator(int command);
  // An arrow key with the focus on a radio button: focus and check move to
  // the next usable button of its group (the previous one when `backward`),
  // round the group. False when the focus is on no radio button.
  bool onArrowKey(ControlId focused, bool backward);
  // The button Enter presses (DM_GETDEFID): a focused push button itself,
  // otherwise Next, which reads Close on the last page.
  ControlId defaultButton(std::optional<ControlId> focused) const;
  // The page's first visible, enabled tab stop takes the focus.
  void focusFirstControl();
  // WM_DPICHANGED: every control placed and every font made for the new DPI.
  void onDpiChanged(unsigned dpi);

  void showPage(WizardPage page);
  void updateNextEnabled();
  void handleNext();
  void browseForInstallDir();

  // The control's text as UTF-8 in buffer; 0 bytes for an absent control or
  // an empty text.
  TextResult<std::size_t> readWindowTextUtf8(ControlId control,
                                             char (&buffer)[kControlTextBufferSize]);
  void setWindowTextUtf8(ControlId control, std::string_view utf8);
  bool looksLikeGameInstall(std::string_view dir);
  std::optional<std::string> chooseDefaultInstallDir();

  WizardPage page() const { return page_; }
  unsigned dpi() const { return dpi_; }
  RunLog& log() { return log_; }

 private:
  bool isChecked(ControlId id);
  void show(ControlId id, bool visible);
  void setText(ControlId id, std::u16string_view text);
  void enable(ControlId id, bool enabled);
  void setRunControlsEnabled(bool enabled);
  void runActionSequence();
  // The folder of the directory field, or nothing after a box that says why
  // it is not a game install.
  std::optional<std::string_view> chosenInstallDir(char (&buffer)[kControlTextBufferSize]);
  // The confirmation of the action, and for an INSTALL that this game
  // version would leave incomplete, the answer to that question too.
  bool userAgrees(SetupAction action, std::string_view dir);
  void showOutcome(const RunResult& result);
  std::optional<SetupAction> chosenAction();
  bool confirm(std::string_view utf8, unsigned style, int accepting);
  void showBox(std::string_view utf8, unsigned style);
  void fillAgreementText();
  void makeFonts();
  std::u16string browseStartFolder();
  bool preflightStops(SetupAction action, std::string_view dir);
  bool blockedInstallDeclined(std::string_view dir);

  WizardPlatform& platform_;
  FileSystem& fs_;
  char separator_;
  Runner& runner_;
  WizardPage page_ = WizardPage::AGREEMENT;
  unsigned dpi_ = kBaseDpi;
  ControlLogSink sink_;
  RunLog log_;
};

}  // namespace qorvex::wizard
