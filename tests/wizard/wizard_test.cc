#include "wizard.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_platform.h"
#include "wizard_fixture.h"
#include "hints.h"
#include "survey.h"
#include "payload.h"

namespace qorvex::wizard::testing {
namespace {

constexpr const char* kTitle = "Tindrelle \xE2\x80\x93 DCS ME Undo Setup";
constexpr unsigned kErrorBox = 0x10;
constexpr unsigned kCheckBox = 0x41;
constexpr unsigned kWarningBox = 0x34;
constexpr unsigned kInfoBox = 0x40;

const std::vector<int> kAgreementVisible = {90, 91, 92, 100, 101, 102, 93, 120, 121};
const std::vector<int> kActionVisible = {90,  91,  92,  110, 111, 112, 113, 114,
                                         115, 116, 117, 93,  122, 120, 121};
const std::vector<int> kCompleteVisible = {90,  91,  92,  110, 111, 112, 113,
                                           114, 115, 116, 117, 93,  120};

class WizardTest : public WizardFixture {
 protected:
  std::string text(ControlId id) { return utf8(platform.control(id).text); }
  void addInstall(const std::string& dir) { fs.directories.insert(dir + "\\MissionEditor"); }
};

std::string agreementShown() {
  const std::string_view* stored = findEmbeddedText("agreement.txt");
  EXPECT_NE(stored, nullptr);
  std::string out;
  for (char c : *stored) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

TEST_F(WizardTest, CreatesTheControlsInOrderWithAgreementTextAndDeclineChecked) {
  wizard.create();
  const std::vector<std::string> expected = {
      "create 90",       "create 91",       "create 92",       "create 100",      "text 100",
      "create 101",      "create 102",      "check 102",       "create 110",      "create 111",
      "create 112",      "create 113",      "create 114",      "create 115",      "create 116",
      "create 117",      "create 93",       "create 122",      "create 120",      "create 121",
      "font 90 title",   "font 91 normal",  "font 100 normal", "font 101 normal", "font 102 normal",
      "font 110 normal", "font 111 normal", "font 112 normal", "font 113 normal", "font 114 normal",
      "font 115 normal", "font 116 normal", "font 117 normal", "font 122 normal", "font 120 normal",
      "font 121 normal"};
  ASSERT_GE(platform.events.size(), expected.size());
  EXPECT_EQ(
      std::vector<std::string>(platform.events.begin(), platform.events.begin() + expected.size()),
      expected);
  EXPECT_EQ(text(ControlId::AgreementEdit), agreementShown());
  EXPECT_EQ(platform.control(ControlId::DeclineRadio).check, 1);
  EXPECT_EQ(platform.control(ControlId::AcceptRadio).check, 0);
  EXPECT_EQ(platform.control(ControlId::DryRunRadio).check, 0);
  EXPECT_EQ(platform.control(ControlId::InstallRadio).check, 0);
  EXPECT_EQ(platform.control(ControlId::UninstallRadio).check, 0);
  EXPECT_EQ(text(ControlId::DirEdit), "");
}

TEST_F(WizardTest, AgreementTextKeepsEveryCharacterAndAddsCrBeforeEachLf) {
  EXPECT_EQ(agreementForDisplay("A\nB\n\nC"), "A\r\nB\r\n\r\nC");
  EXPECT_EQ(agreementForDisplay("\n"), "\r\n");
  EXPECT_EQ(agreementForDisplay("no break"), "no break");
  EXPECT_EQ(agreementForDisplay(""), "");
}

TEST_F(WizardTest, StartsOnTheAgreementPageWithNextDisabled) {
  start();
  EXPECT_EQ(wizard.page(), WizardPage::AGREEMENT);
  EXPECT_EQ(platform.visibleIds(), kAgreementVisible);
  EXPECT_EQ(text(ControlId::TitleLabel), "License Agreement");
  EXPECT_EQ(text(ControlId::SubtitleLabel),
            "Please read the following important information before continuing.");
  EXPECT_EQ(text(ControlId::NextButton), "Next");
  EXPECT_EQ(text(ControlId::CancelButton), "Cancel");
  EXPECT_FALSE(enabled(ControlId::NextButton));
}

TEST_F(WizardTest, AcceptingEnablesNextAndDecliningDisablesItAgain) {
  start();
  platform.click(wizard, ControlId::AcceptRadio);
  EXPECT_TRUE(enabled(ControlId::NextButton));
  platform.click(wizard, ControlId::DeclineRadio);
  EXPECT_FALSE(enabled(ControlId::NextButton));
  platform.click(wizard, ControlId::NextButton);
  EXPECT_EQ(wizard.page(), WizardPage::AGREEMENT);
  EXPECT_EQ(platform.events.back(), "enable 120 0");
}

TEST_F(WizardTest, OnlyBstCheckedCountsAsChecked) {
  start();
  platform.control(ControlId::AcceptRadio).check = 2;  // BST_INDETERMINATE
  wizard.updateNextEnabled();
  EXPECT_FALSE(enabled(ControlId::NextButton));
  wizard.handleNext();
  EXPECT_EQ(wizard.page(), WizardPage::AGREEMENT);
}

TEST_F(WizardTest, ActionPageShowsItsControlsAndTexts) {
  toActionPage();
  EXPECT_EQ(platform.visibleIds(), kActionVisible);
  EXPECT_EQ(text(ControlId::TitleLabel), "Select Setup Action");
  EXPECT_EQ(text(ControlId::SubtitleLabel),
            "Choose whether to check, install, or uninstall the Undo feature.");
  EXPECT_EQ(text(ControlId::NextButton), "Next");
  EXPECT_EQ(text(ControlId::CancelButton), "Cancel");
  EXPECT_FALSE(enabled(ControlId::NextButton));
}

TEST_F(WizardTest, NextOnTheActionPageNeedsAnActionAndAnyText) {
  toActionPage();
  platform.type(wizard, u"C:\\Games\\DCS");
  EXPECT_FALSE(enabled(ControlId::NextButton));
  platform.click(wizard, ControlId::InstallRadio);
  EXPECT_TRUE(enabled(ControlId::NextButton));
  platform.type(wizard, u"");
  EXPECT_FALSE(enabled(ControlId::NextButton));
  platform.type(wizard, u" ");
  EXPECT_TRUE(enabled(ControlId::NextButton));
  platform.click(wizard, ControlId::UninstallRadio);
  EXPECT_TRUE(enabled(ControlId::NextButton));
  platform.click(wizard, ControlId::DryRunRadio);
  EXPECT_TRUE(enabled(ControlId::NextButton));
}

TEST_F(WizardTest, NextStaysDisabledWhenTheFieldCannotBeRead) {
  toActionPage();
  platform.click(wizard, ControlId::DryRunRadio);
  platform.type(wizard, std::u16string(1, char16_t(0xD800)) + u"x");
  EXPECT_FALSE(enabled(ControlId::NextButton));
}

TEST_F(WizardTest, BackReturnsToTheAgreementWithEverythingKept) {
  toActionPage();
  platform.type(wizard, u"D:\\Game");
  platform.click(wizard, ControlId::InstallRadio);
  platform.click(wizard, ControlId::BackButton);
  EXPECT_EQ(wizard.page(), WizardPage::AGREEMENT);
  EXPECT_EQ(platform.visibleIds(), kAgreementVisible);
  EXPECT_EQ(text(ControlId::TitleLabel), "License Agreement");
  EXPECT_EQ(platform.control(ControlId::AcceptRadio).check, 1);
  EXPECT_TRUE(enabled(ControlId::NextButton));
  platform.click(wizard, ControlId::NextButton);
  EXPECT_EQ(wizard.page(), WizardPage::ACTION);
  EXPECT_EQ(text(ControlId::DirEdit), "D:\\Game");
  EXPECT_EQ(platform.control(ControlId::InstallRadio).check, 1);
  EXPECT_TRUE(enabled(ControlId::NextButton));
}

TEST_F(WizardTest, BackDoesNothingOnTheAgreementPage) {
  start();
  wizard.onCommand(122, 0);
  EXPECT_EQ(wizard.page(), WizardPage::AGREEMENT);
  EXPECT_TRUE(platform.events.empty());
}

TEST_F(WizardTest, CancelDestroysTheWindowOnEveryPage) {
  start();
  platform.click(wizard, ControlId::CancelButton);
  EXPECT_EQ(platform.destroyed, 1);
  toActionPage();
  platform.click(wizard, ControlId::CancelButton);
  EXPECT_EQ(platform.destroyed, 2);
  EXPECT_TRUE(platform.boxes.empty());
}

TEST_F(WizardTest, CommandTableIgnoresOtherNotificationsAndIds) {
  toActionPage();
  platform.control(ControlId::DirEdit).text = u"x";
  platform.control(ControlId::InstallRadio).check = 1;
  wizard.onCommand(120, 0x300);  // EN_CHANGE from the Next button
  wizard.onCommand(110, 0x300);
  wizard.onCommand(121, 1);
  wizard.onCommand(999, 0);
  wizard.onCommand(90, 0);
  EXPECT_TRUE(platform.events.empty());
  EXPECT_EQ(platform.destroyed, 0);
  wizard.onCommand(111, 0x300);
  EXPECT_EQ(platform.events, std::vector<std::string>{"enable 120 1"});
}

TEST_F(WizardTest, FieldOfSpacesIsRejectedWithNoPathProvided) {
  toActionPage();
  platform.type(wizard, u"   ");
  platform.click(wizard, ControlId::DryRunRadio);
  ASSERT_TRUE(enabled(ControlId::NextButton));
  platform.answers = {kIdOk};
  platform.click(wizard, ControlId::NextButton);
  EXPECT_EQ(platform.boxes,
            (std::vector<ShownBox>{{"The selected directory does not look like a valid game "
                                    "install: NoPathProvided\n\n   ",
                                    kTitle, kErrorBox}}));
  EXPECT_EQ(wizard.page(), WizardPage::ACTION);
  EXPECT_EQ(platform.logText(), "");
  EXPECT_TRUE(runner.calls.empty());
  EXPECT_TRUE(fs.opened.empty());
}

TEST_F(WizardTest, FieldOfSlashesIsRejectedWithNoPathProvided) {
  toActionPage();
  platform.type(wizard, u"\\/\\\\");
  platform.click(wizard, ControlId::InstallRadio);
  platform.answers = {kIdOk};
  platform.click(wizard, ControlId::NextButton);
  EXPECT_EQ(platform.boxes,
            (std::vector<ShownBox>{{"The selected directory does not look like a valid game "
                                    "install: NoPathProvided\n\n\\/\\\\",
                                    kTitle, kErrorBox}}));
}

TEST_F(WizardTest, FolderWithoutMissionEditorIsRejectedShowingTheFieldAsTyped) {
  toActionPage();
  platform.type(wizard, u"  \"C:\\Games\\Elsewhere\\\"  ");
  platform.click(wizard, ControlId::UninstallRadio);
  platform.answers = {kIdOk};
  platform.click(wizard, ControlId::NextButton);
  // The install test, then the look at what the folder is, for the hint.
  EXPECT_EQ(fs.opened, (std::vector<std::string>{"C:\\Games\\Elsewhere\\MissionEditor",
                                                 "C:\\Games\\Elsewhere"}));
  EXPECT_EQ(
      platform.boxes,
      (std::vector<ShownBox>{{"The selected directory does not look like a valid game "
                              "install: MissionEditorFolderNotFound\n\n  \"C:\\Games\\"
                              "Elsewhere\\\"  \n\nThe folder C:\\Games\\Elsewhere does not exist.",
                              kTitle, kErrorBox}}));
  EXPECT_EQ(wizard.page(), WizardPage::ACTION);
  EXPECT_EQ(platform.logText(), "");
  EXPECT_TRUE(runner.calls.empty());
}

TEST_F(WizardTest, RelativeTextIsRejectedAsNotAnInstall) {
  addInstall("Games");
  toActionPage();
  platform.type(wizard, u"Games");
  platform.click(wizard, ControlId::InstallRadio);
  platform.answers = {kIdOk};
  platform.click(wizard, ControlId::NextButton);
  ASSERT_EQ(platform.boxes.size(), 1u);
  EXPECT_EQ(platform.boxes[0].text,
            "The selected directory does not look like a valid game install: "
            "MissionEditorFolderNotFound\n\nGames\n\nGames is not a full path; give the whole path "
            "of the game's root folder, the one that holds MissionEditor.");
}

TEST_F(WizardTest, UnreadableFieldShowsItsBoxAndNothingElse) {
  toActionPage();
  platform.click(wizard, ControlId::InstallRadio);
  platform.control(ControlId::DirEdit).text = u"C:\\" + std::u16string(1, char16_t(0xDC00));
  platform.answers = {kIdOk};
  wizard.handleNext();
  EXPECT_EQ(
      platform.boxes,
      (std::vector<ShownBox>{{"Failed to read the target directory field.", kTitle, kErrorBox}}));
  EXPECT_EQ(wizard.page(), WizardPage::ACTION);
  EXPECT_EQ(platform.logText(), "");
}

TEST_F(WizardTest, FieldLongerThanTheBufferCountsAsUnreadable) {
  toActionPage();
  platform.click(wizard, ControlId::InstallRadio);
  // 261 three-byte characters need 783 bytes.
  platform.type(wizard, std::u16string(261, u'\u0800'));
  EXPECT_FALSE(enabled(ControlId::NextButton));
  platform.answers = {kIdOk};
  wizard.handleNext();
  EXPECT_EQ(
      platform.boxes,
      (std::vector<ShownBox>{{"Failed to read the target directory field.", kTitle, kErrorBox}}));
}

TEST_F(WizardTest, NoActionCheckedStopsSilently) {
  addInstall("C:\\Game");
  toActionPage();
  platform.type(wizard, u"C:\\Game");
  wizard.handleNext();
  EXPECT_TRUE(platform.boxes.empty());
  EXPECT_EQ(platform.logText(), "");
  EXPECT_TRUE(runner.calls.empty());
}

TEST_F(WizardTest, QuotedPathIsNormalisedForTheBoxTheHeaderAndTheRun) {
  addInstall("C:\\Program Files\\DCS");
  toActionPage();
  platform.type(wizard, u"  \"C:\\Program Files\\DCS\\\"  ");
  platform.click(wizard, ControlId::InstallRadio);
  platform.answers = {kIdYes, kIdOk};
  platform.click(wizard, ControlId::NextButton);
  const std::vector<ShownBox> expectedBoxes = {
      {"About to INSTALL the Tindrelle undo patches against:\nC:\\Program Files\\DCS\n\nA "
       "backup of every modified file will be created first.\n\nProceed?",
       kTitle, kWarningBox},
      {"Completed successfully. See the log for details.", kTitle, kInfoBox}};
  EXPECT_EQ(platform.boxes, expectedBoxes);
  ASSERT_EQ(runner.calls.size(), 1u);
  EXPECT_EQ(runner.calls[0].installDir, "C:\\Program Files\\DCS");
  EXPECT_FALSE(runner.calls[0].uninstall);
  EXPECT_FALSE(runner.calls[0].dryRun);
  EXPECT_EQ(runner.calls[0].logBefore,
            "\r\nGame install directory: C:\\Program Files\\DCS\r\nAction: INSTALL\r\n\r\n");
  EXPECT_EQ(platform.logText(),
            "\r\nGame install directory: C:\\Program Files\\DCS\r\nAction: INSTALL\r\n\r\n"
            "[SKIP] engine line\r\n");
}

TEST_F(WizardTest, ConfirmationTextsForEachAction) {
  EXPECT_EQ(confirmationText(SetupAction::CHECK, "D:\\DCS World"),
            "Running a CHECK (dry run) against:\nD:\\DCS World\n\nNo files will be modified. The "
            "log will report what an install/uninstall would do.\n\nContinue?");
  EXPECT_EQ(confirmationText(SetupAction::INSTALL, "D:\\DCS World"),
            "About to INSTALL the Tindrelle undo patches against:\nD:\\DCS World\n\nA backup of "
            "every modified file will be created first.\n\nProceed?");
  EXPECT_EQ(confirmationText(SetupAction::UNINSTALL, "D:\\DCS World"),
            "About to UNINSTALL the Tindrelle undo patches from:\nD:\\DCS World\n\nThis will "
            "remove the patches and restore the original backed-up files. Make sure this is "
            "really what you want.\n\nProceed?");
}

TEST_F(WizardTest, WithTheGameRunningTheConfirmationSaysToRestartIt) {
  const std::string note =
      "\n\nDCS World is running. The Mission Editor loads these files when DCS World starts, so "
      "restart DCS World for the change to take effect.\n\nProceed?";
  EXPECT_EQ(confirmationText(SetupAction::INSTALL, "D:\\DCS World", true),
            "About to INSTALL the Tindrelle undo patches against:\nD:\\DCS World\n\nA backup of "
            "every modified file will be created first." +
                note);
  EXPECT_EQ(confirmationText(SetupAction::UNINSTALL, "D:\\DCS World", true),
            "About to UNINSTALL the Tindrelle undo patches from:\nD:\\DCS World\n\nThis will "
            "remove the patches and restore the original backed-up files. Make sure this is "
            "really what you want." +
                note);
  EXPECT_EQ(confirmationText(SetupAction::CHECK, "D:\\DCS World", true),
            confirmationText(SetupAction::CHECK, "D:\\DCS World"));

  addInstall("D:\\DCS World");
  platform.gameRunning = true;
  toActionPage();
  platform.type(wizard, u"D:\\DCS World");
  platform.click(wizard, ControlId::UninstallRadio);
  platform.answers = {kIdNo};
  platform.click(wizard, ControlId::NextButton);
  EXPECT_EQ(platform.askedForProgram, u"DCS.exe");
  ASSERT_EQ(platform.boxes.size(), 1u);
  EXPECT_EQ(platform.boxes[0].text,
            confirmationText(SetupAction::UNINSTALL, "D:\\DCS World", true));
}

// Files that a run could not change stop it before the confirmation: a box
// names the first five with their error and hint, the log names them all,
// and nothing runs. CHECK asks no pre-flight of its own here.
TEST_F(WizardTest, PreflightProblemsStopTheRunBeforeItIsConfirmed) {
  addInstall("D:\\DCS World");
  const std::vector<PreflightProblem> problems = {
      {"MissionEditor\\modules\\me_toolbar.lua", Error::FileBusy, false},
      {"MissionEditor\\modules\\me_ship.lua", Error::AccessDenied, true},
      {"MissionEditor\\modules\\me_static.lua", Error::AccessDenied, false},
      {"MissionEditor\\modules\\me_vehicle.lua", Error::NoSpaceLeft, false},
      {"MissionEditor\\modules\\me_showId.lua", Error::NoSpaceLeft, false},
      {"MissionEditor\\modules\\dialogs\\me_toolbar.dlg", Error::NoSpaceLeft, false},
      {"MissionEditor\\modules\\me_qorvex_undo.lua", Error::NoSpaceLeft, false},
  };
  runner.preflightReport.problems = problems;
  toActionPage();
  platform.type(wizard, u"D:\\DCS World");
  platform.click(wizard, ControlId::InstallRadio);
  platform.answers = {kIdOk};
  platform.click(wizard, ControlId::NextButton);
  const std::string busy =
      "another program has the file open; close DCS World or the program that has the file open, "
      "then retry";
  const std::string readOnly =
      "the file is marked read-only; clear its Read-only attribute (Properties), then retry";
  const std::string denied =
      "Windows refused the change; run the setup as administrator, then retry";
  const std::string full = "the drive is full; free space on that drive, then retry";
  ASSERT_EQ(platform.boxes.size(), 1u);
  EXPECT_EQ(
      platform.boxes[0],
      (ShownBox{"7 file(s) cannot be changed, so the run did not start. Nothing was changed.\n\n"
                "MissionEditor\\modules\\me_toolbar.lua: FileBusy\n" +
                    busy +
                    "\n\n"
                    "MissionEditor\\modules\\me_ship.lua: AccessDenied\n" +
                    readOnly +
                    "\n\n"
                    "MissionEditor\\modules\\me_static.lua: AccessDenied\n" +
                    denied +
                    "\n\n"
                    "MissionEditor\\modules\\me_vehicle.lua: NoSpaceLeft\n" +
                    full +
                    "\n\n"
                    "MissionEditor\\modules\\me_showId.lua: NoSpaceLeft\n" +
                    full +
                    "\n\n"
                    "... and 2 more (see the log).",
                kTitle, 0x30}));
  std::string log;
  for (const PreflightProblem& p : problems) {
    log += "Cannot change " + p.path + ": " + std::string(errorName(p.error)) + " - " +
           std::string(problemHint(p.error, p.readOnly, HintStyle::Windows)) + "\r\n";
  }
  EXPECT_EQ(platform.logText(), log + "The run did not start. Nothing was changed.\r\n");
  EXPECT_TRUE(runner.calls.empty());
  EXPECT_EQ(wizard.page(), WizardPage::ACTION);

  // CHECK changes nothing, so nothing stands in its way.
  platform.click(wizard, ControlId::DryRunRadio);
  platform.answers = {kIdOk};
  platform.click(wizard, ControlId::NextButton);
  EXPECT_EQ(runner.preflightCalls, 1);
  EXPECT_EQ(runner.calls.size(), 1u);
}

TEST_F(WizardTest, DecliningAddsAbortLinesThatStayAboveALaterRun) {
  addInstall("D:\\DCS World");
  toActionPage();
  platform.type(wizard, u"D:\\DCS World");
  platform.click(wizard, ControlId::InstallRadio);
  platform.answers = {kIdNo};
  platform.click(wizard, ControlId::NextButton);
  EXPECT_EQ(platform.logText(), "Aborted by user.\r\n");
  EXPECT_EQ(wizard.page(), WizardPage::ACTION);
  EXPECT_TRUE(enabled(ControlId::NextButton));

  platform.click(wizard, ControlId::DryRunRadio);
  platform.answers = {kIdCancel};
  platform.click(wizard, ControlId::NextButton);
  EXPECT_EQ(platform.logText(), "Aborted by user.\r\nAborted by user.\r\n");
  EXPECT_TRUE(runner.calls.empty());

  platform.answers = {kIdOk};
  platform.click(wizard, ControlId::NextButton);
  EXPECT_EQ(platform.logText(),
            "Aborted by user.\r\nAborted by user.\r\n\r\nGame install directory: D:\\DCS "
            "World\r\nAction: CHECK\r\n\r\n[SKIP] engine line\r\n");
  const std::vector<ShownBox> expectedBoxes = {
      {"About to INSTALL the Tindrelle undo patches against:\nD:\\DCS World\n\nA backup of "
       "every modified file will be created first.\n\nProceed?",
       kTitle, kWarningBox},
      {"Running a CHECK (dry run) against:\nD:\\DCS World\n\nNo files will be modified. The "
       "log will report what an install/uninstall would do.\n\nContinue?",
       kTitle, kCheckBox},
      {"Running a CHECK (dry run) against:\nD:\\DCS World\n\nNo files will be modified. The "
       "log will report what an install/uninstall would do.\n\nContinue?",
       kTitle, kCheckBox}};
  EXPECT_EQ(platform.boxes, expectedBoxes);
}

TEST_F(WizardTest, YesNoAnswerOtherThanYesDeclines) {
  addInstall("D:\\DCS World");
  toActionPage();
  platform.type(wizard, u"D:\\DCS World");
  platform.click(wizard, ControlId::UninstallRadio);
  platform.answers = {kIdOk};  // not the accepting answer of a Yes/No box
  platform.click(wizard, ControlId::NextButton);
  EXPECT_EQ(platform.logText(), "Aborted by user.\r\n");
  EXPECT_TRUE(runner.calls.empty());
}

TEST_F(WizardTest, ConfirmedCheckRunsDryWithControlsDisabledAndShowsNoBox) {
  addInstall("D:\\DCS World");
  toActionPage();
  platform.type(wizard, u"D:\\DCS World");
  platform.click(wizard, ControlId::DryRunRadio);
  platform.answers = {kIdOk};
  platform.click(wizard, ControlId::NextButton);
  ASSERT_EQ(runner.calls.size(), 1u);
  EXPECT_EQ(runner.calls[0].installDir, "D:\\DCS World");
  EXPECT_FALSE(runner.calls[0].uninstall);
  EXPECT_TRUE(runner.calls[0].dryRun);
  const std::vector<std::pair<int, bool>> duringRun = {
      {90, true},   {91, true},  {92, true},   {93, true},   {100, true},  {101, true},
      {102, true},  {110, true}, {111, false}, {112, false}, {113, false}, {114, false},
      {115, false}, {116, true}, {117, true},  {120, false}, {121, false}, {122, false}};
  EXPECT_EQ(runner.calls[0].enabledDuringRun, duringRun);
  EXPECT_EQ(platform.boxes.size(), 1u);
  EXPECT_EQ(wizard.page(), WizardPage::COMPLETE);
  EXPECT_EQ(platform.visibleIds(), kCompleteVisible);
  EXPECT_EQ(text(ControlId::TitleLabel), "Setup Complete");
  EXPECT_EQ(text(ControlId::SubtitleLabel), "Review the log below, then close this window.");
  EXPECT_EQ(text(ControlId::NextButton), "Close");
  for (int id : {111, 112, 113, 114, 115, 120, 121, 122}) {
    EXPECT_TRUE(enabled(static_cast<ControlId>(id))) << id;
  }
  EXPECT_EQ(platform.destroyed, 0);
  platform.click(wizard, ControlId::NextButton);
  EXPECT_EQ(platform.destroyed, 1);
}

TEST_F(WizardTest, CheckWithFatalResultLogsTheFatalLineAndShowsNoBox) {
  addInstall("D:\\DCS World");
  runner.result = RunResult{true, Error::AccessDenied, false};
  toActionPage();
  platform.type(wizard, u"D:\\DCS World");
  platform.click(wizard, ControlId::DryRunRadio);
  platform.answers = {kIdOk};
  platform.click(wizard, ControlId::NextButton);
  EXPECT_EQ(platform.boxes.size(), 1u);
  EXPECT_EQ(platform.logText(),
            "\r\nGame install directory: D:\\DCS World\r\nAction: CHECK\r\n\r\n[SKIP] engine "
            "line\r\n\r\nFATAL: AccessDenied\r\n");
  EXPECT_EQ(wizard.page(), WizardPage::COMPLETE);
}

TEST_F(WizardTest, UninstallSuccessShowsTheSuccessBoxThenEnablesTheControls) {
  addInstall("D:\\DCS World");
  toActionPage();
  platform.type(wizard, u"D:\\DCS World\\");
  platform.click(wizard, ControlId::UninstallRadio);
  platform.answers = {kIdYes, kIdOk};
  bool controlsDisabledUnderBox = false;
  platform.onBox = [&] {
    if (platform.boxes.size() == 1) {
      // The page switch has already enabled Close; the rest waits for the box.
      controlsDisabledUnderBox =
          !enabled(ControlId::DirEdit) && !enabled(ControlId::BrowseButton) &&
          enabled(ControlId::NextButton) && wizard.page() == WizardPage::COMPLETE;
    }
  };
  platform.click(wizard, ControlId::NextButton);
  ASSERT_EQ(runner.calls.size(), 1u);
  EXPECT_TRUE(runner.calls[0].uninstall);
  EXPECT_FALSE(runner.calls[0].dryRun);
  EXPECT_EQ(runner.calls[0].installDir, "D:\\DCS World");
  ASSERT_EQ(platform.boxes.size(), 2u);
  EXPECT_EQ(platform.boxes[0],
            (ShownBox{"About to UNINSTALL the Tindrelle undo patches from:\nD:\\DCS World\n\n"
                      "This will remove the patches and restore the original backed-up files. "
                      "Make sure this is really what you want.\n\nProceed?",
                      kTitle, kWarningBox}));
  EXPECT_EQ(platform.boxes[1],
            (ShownBox{"Completed successfully. See the log for details.", kTitle, kInfoBox}));
  EXPECT_TRUE(controlsDisabledUnderBox);
  EXPECT_TRUE(enabled(ControlId::NextButton));
  // The controls come back after the box, and the focus with them.
  ASSERT_GE(platform.events.size(), 2u);
  EXPECT_EQ(std::vector<std::string>(platform.events.end() - 2, platform.events.end()),
            (std::vector<std::string>{"enable 122 1", "focus 111"}));
  EXPECT_EQ(wizard.page(), WizardPage::COMPLETE);
  EXPECT_EQ(platform.destroyed, 0);
}

TEST_F(WizardTest, InstallCompletedWithErrorsShowsTheErrorBox) {
  addInstall("D:\\DCS World");
  runner.result = RunResult{false, Error::Unexpected, false};
  toActionPage();
  platform.type(wizard, u"D:\\DCS World");
  platform.click(wizard, ControlId::InstallRadio);
  platform.answers = {kIdYes, kIdOk};
  platform.click(wizard, ControlId::NextButton);
  ASSERT_EQ(platform.boxes.size(), 2u);
  EXPECT_EQ(platform.boxes[1],
            (ShownBox{"Completed WITH ERRORS. See the log for details.", kTitle, kErrorBox}));
  EXPECT_EQ(platform.logText(),
            "\r\nGame install directory: D:\\DCS World\r\nAction: INSTALL\r\n\r\n[SKIP] engine "
            "line\r\n");
  EXPECT_EQ(wizard.page(), WizardPage::COMPLETE);
}

TEST_F(WizardTest, FatalInstallLogsTheFatalLineAndShowsTheErrorBox) {
  addInstall("D:\\DCS World");
  runner.result = RunResult{true, Error::StreamTooLong, true};
  toActionPage();
  platform.type(wizard, u"D:\\DCS World");
  platform.click(wizard, ControlId::InstallRadio);
  platform.answers = {kIdYes, kIdOk};
  platform.click(wizard, ControlId::NextButton);
  ASSERT_EQ(platform.boxes.size(), 2u);
  EXPECT_EQ(platform.boxes[1],
            (ShownBox{"Completed WITH ERRORS. See the log for details.", kTitle, kErrorBox}));
  EXPECT_EQ(platform.logText(),
            "\r\nGame install directory: D:\\DCS World\r\nAction: INSTALL\r\n\r\n[SKIP] engine "
            "line\r\n\r\nFATAL: StreamTooLong\r\n");
}

// An INSTALL that this game version would leave incomplete asks once more,
// after the confirmation, with No as the default; No changes nothing.
TEST_F(WizardTest, ABlockedInstallAsksWhetherToMakeTheOtherChanges) {
  addInstall("D:\\DCS World");
  runner.surveyReport.verdict = Verdict::Blocked;
  for (EntryState state : {EntryState::Applied, EntryState::AnchorNotFound, EntryState::Pending,
                           EntryState::AnchorAmbiguous}) {
    EntryReport entry;
    entry.state = state;
    runner.surveyReport.entries.push_back(entry);
  }
  runner.surveyReport.dialogs.push_back(EntryReport{});
  const ShownBox question{
      "2 of the 5 changes cannot be made in this version of DCS World, so the "
      "Undo feature may not work.\n\nMake the other changes anyway?",
      kTitle, 0x134};
  toActionPage();
  platform.type(wizard, u"D:\\DCS World");
  platform.click(wizard, ControlId::InstallRadio);
  platform.answers = {kIdYes, kIdNo};
  platform.click(wizard, ControlId::NextButton);
  ASSERT_EQ(platform.boxes.size(), 2u);
  EXPECT_EQ(platform.boxes[1], question);
  EXPECT_EQ(platform.logText(), "Aborted by user.\r\n");
  EXPECT_TRUE(runner.calls.empty());

  platform.answers = {kIdYes, kIdYes, kIdOk};
  platform.click(wizard, ControlId::NextButton);
  ASSERT_EQ(platform.boxes.size(), 5u);
  EXPECT_EQ(platform.boxes[3], question);
  EXPECT_EQ(runner.calls.size(), 1u);
  // Only INSTALL asks: UNINSTALL and CHECK take no survey.
  EXPECT_EQ(runner.surveyCalls, 2);
}

TEST_F(WizardTest, AFatalRunNamesItsFileBelowTheFirstLine) {
  addInstall("D:\\DCS World");
  runner.result = RunResult{true, Error::FileBusy, false, "MissionEditor\\modules\\me_ship.lua"};
  toActionPage();
  platform.type(wizard, u"D:\\DCS World");
  platform.click(wizard, ControlId::InstallRadio);
  platform.answers = {kIdYes, kIdOk};
  platform.click(wizard, ControlId::NextButton);
  ASSERT_EQ(platform.boxes.size(), 2u);
  EXPECT_EQ(platform.boxes[1], (ShownBox{"Completed WITH ERRORS. See the log for details.\n\n"
                                         "MissionEditor\\modules\\me_ship.lua: FileBusy",
                                         kTitle, kErrorBox}));
}

TEST_F(WizardTest, CompletePageHasNoWayBack) {
  addInstall("D:\\DCS World");
  toActionPage();
  platform.type(wizard, u"D:\\DCS World");
  platform.click(wizard, ControlId::DryRunRadio);
  platform.answers = {kIdOk};
  platform.click(wizard, ControlId::NextButton);
  wizard.onCommand(122, 0);
  EXPECT_EQ(wizard.page(), WizardPage::COMPLETE);
  EXPECT_EQ(platform.visibleIds(), kCompleteVisible);
}

TEST_F(WizardTest, BrowseFillsTheFieldAndUpdatesNext) {
  toActionPage();
  platform.click(wizard, ControlId::InstallRadio);
  platform.browseOutcome = BrowseOutcome::Chosen;
  platform.browsePath = u"E:\\Spiele\\DCS \u00e9";
  platform.events.clear();
  platform.click(wizard, ControlId::BrowseButton);
  EXPECT_EQ(platform.browseCalls, 1);
  EXPECT_EQ(text(ControlId::DirEdit), "E:\\Spiele\\DCS \xC3\xA9");
  EXPECT_EQ(platform.events, (std::vector<std::string>{"text 111", "enable 120 1"}));
}

TEST_F(WizardTest, BrowseTakesAllUnitsWhenThePathFillsTheBuffer) {
  toActionPage();
  platform.browseOutcome = BrowseOutcome::Chosen;
  platform.browsePath = u"C:\\" + std::u16string(257, u'a');
  platform.click(wizard, ControlId::BrowseButton);
  EXPECT_EQ(text(ControlId::DirEdit), "C:\\" + std::string(257, 'a'));
}

TEST_F(WizardTest, BrowseCancelledOrWithoutPathLeavesTheField) {
  toActionPage();
  platform.type(wizard, u"kept");
  platform.events.clear();
  platform.browseOutcome = BrowseOutcome::Cancelled;
  platform.click(wizard, ControlId::BrowseButton);
  platform.browseOutcome = BrowseOutcome::NoPath;
  platform.click(wizard, ControlId::BrowseButton);
  EXPECT_EQ(platform.browseCalls, 2);
  EXPECT_EQ(text(ControlId::DirEdit), "kept");
  EXPECT_TRUE(platform.events.empty());
}

TEST_F(WizardTest, BrowsedPathThatDoesNotConvertLeavesTheField) {
  toActionPage();
  platform.type(wizard, u"kept");
  platform.browseOutcome = BrowseOutcome::Chosen;
  platform.browsePath = u"C:\\" + std::u16string(1, char16_t(0xD83D));
  platform.click(wizard, ControlId::BrowseButton);
  EXPECT_EQ(text(ControlId::DirEdit), "kept");
}

TEST_F(WizardTest, ProgramFolderWithMissionEditorIsPreferred) {
  platform.program = u"C:\\Games\\Mine\\TindrelleUndoSetup.exe";
  addInstall("C:\\Games\\Mine");
  addInstall("C:\\Program Files\\Eagle Dynamics\\DCS World");
  start();
  EXPECT_EQ(text(ControlId::DirEdit), "C:\\Games\\Mine");
}

TEST_F(WizardTest, StandardLocationsAreProbedInOrder) {
  platform.program = u"C:\\Downloads\\TindrelleUndoSetup.exe";
  addInstall("D:\\DCS World");
  addInstall("D:\\DCS World OpenBeta");
  start();
  EXPECT_EQ(text(ControlId::DirEdit), "D:\\DCS World");
  EXPECT_EQ(fs.opened, (std::vector<std::string>{
                           "C:\\Downloads\\MissionEditor",
                           "C:\\Program Files\\Eagle Dynamics\\DCS World\\MissionEditor",
                           "C:\\Program Files\\Eagle Dynamics\\DCS World OpenBeta\\MissionEditor",
                           "D:\\DCS World\\MissionEditor"}));
}

TEST_F(WizardTest, NoQualifyingCandidateLeavesTheFieldEmpty) {
  start();
  EXPECT_EQ(text(ControlId::DirEdit), "");
  // The four standard folders, then Steam's folder for its list, then its
  // default library.
  EXPECT_EQ(fs.opened,
            (std::vector<std::string>{
                "C:\\Program Files\\Eagle Dynamics\\DCS World\\MissionEditor",
                "C:\\Program Files\\Eagle Dynamics\\DCS World OpenBeta\\MissionEditor",
                "D:\\DCS World\\MissionEditor", "D:\\DCS World OpenBeta\\MissionEditor",
                "C:\\Program Files (x86)\\Steam",
                "C:\\Program Files (x86)\\Steam\\steamapps\\common\\DCSWorld\\MissionEditor"}));
}

constexpr const char* kSteam = "C:\\Program Files (x86)\\Steam";
constexpr const char* kSteamList = "C:\\Program Files (x86)\\Steam\\steamapps\\libraryfolders.vdf";
constexpr const char* kTwoLibraries = R"("libraryfolders"
{
	"0"
	{
		"path"		"C:\\Program Files (x86)\\Steam"
		"apps" { "228980" "1" }
	}
	"1"
	{
		"path"		"D:\\SteamLibrary"
	}
	"2"
	{
		"path"		"E:\\Games\\Steam"
	}
}
)";

TEST_F(WizardTest, SteamDefaultLibraryIsFoundWithoutTyping) {
  addInstall(std::string(kSteam) + "\\steamapps\\common\\DCSWorld");
  start();
  EXPECT_EQ(text(ControlId::DirEdit),
            "C:\\Program Files (x86)\\Steam\\steamapps\\common\\DCSWorld");
}

TEST_F(WizardTest, SteamLibrariesAreProbedInTheOrderSteamListsThem) {
  fs.directories.insert(kSteam);
  fs.files[kSteamList] = kTwoLibraries;
  addInstall("E:\\Games\\Steam\\steamapps\\common\\DCSWorld");
  addInstall("D:\\SteamLibrary\\steamapps\\common\\DCSWorld");
  start();
  EXPECT_EQ(text(ControlId::DirEdit), "D:\\SteamLibrary\\steamapps\\common\\DCSWorld");
  EXPECT_EQ(fs.read, std::vector<std::string>{kSteamList});
  // The default library, listed again in the file, is probed once.
  EXPECT_EQ(
      std::vector<std::string>(fs.opened.begin() + 4, fs.opened.end()),
      (std::vector<std::string>{
          kSteam, "C:\\Program Files (x86)\\Steam\\steamapps\\common\\DCSWorld\\MissionEditor",
          "D:\\SteamLibrary\\steamapps\\common\\DCSWorld\\MissionEditor"}));
}

TEST_F(WizardTest, SteamIsLookedAtOnlyAfterTheStandardLocations) {
  fs.directories.insert(kSteam);
  fs.files[kSteamList] = kTwoLibraries;
  addInstall("D:\\SteamLibrary\\steamapps\\common\\DCSWorld");
  addInstall("D:\\DCS World OpenBeta");
  start();
  EXPECT_EQ(text(ControlId::DirEdit), "D:\\DCS World OpenBeta");
  EXPECT_TRUE(fs.read.empty());
}

TEST_F(WizardTest, ABrokenSteamListStillGivesTheLibrariesBeforeTheDamage) {
  fs.directories.insert(kSteam);
  fs.files[kSteamList] =
      "\"libraryfolders\" { \"1\" { \"path\" \"D:\\\\Lib\" } \"2\" { \"path\" \"E:\\\\Li";
  addInstall("D:\\Lib\\steamapps\\common\\DCSWorld");
  start();
  EXPECT_EQ(text(ControlId::DirEdit), "D:\\Lib\\steamapps\\common\\DCSWorld");
}

TEST_F(WizardTest, AFolderThatIsNotAGameInstallIsNotTakenFromSteam) {
  fs.directories.insert(kSteam);
  fs.files[kSteamList] = kTwoLibraries;
  // The game's folder without MissionEditor, as a half-removed copy leaves it.
  fs.directories.insert("D:\\SteamLibrary\\steamapps\\common\\DCSWorld");
  start();
  EXPECT_EQ(text(ControlId::DirEdit), "");
}

TEST_F(WizardTest, ProgramInADriveRootIsLookedUpThere) {
  platform.program = u"E:\\TindrelleUndoSetup.exe";
  // The join adds no second separator after "E:\".
  fs.directories.insert("E:\\MissionEditor");
  start();
  EXPECT_EQ(text(ControlId::DirEdit), "E:\\");
}

TEST_F(WizardTest, FolderOfProgramDropsTheLastComponent) {
  EXPECT_EQ(folderOfProgram("C:\\a\\b\\setup.exe"), "C:\\a\\b");
  EXPECT_EQ(folderOfProgram("C:/a/setup.exe"), "C:/a");
  EXPECT_EQ(folderOfProgram("C:\\setup.exe"), "C:\\");
  EXPECT_EQ(folderOfProgram("\\setup.exe"), "\\");
  EXPECT_EQ(folderOfProgram("setup.exe"), "");
}

TEST_F(WizardTest, ReadWindowTextReportsEachConversionError) {
  start();
  char buffer[kControlTextBufferSize];
  platform.control(ControlId::DirEdit).text = std::u16string{u'a', char16_t(0xD800), u'b'};
  EXPECT_EQ(wizard.readWindowTextUtf8(ControlId::DirEdit, buffer),
            std::unexpected(TextError::ExpectedSecondSurrogateHalf));
  platform.control(ControlId::DirEdit).text = std::u16string{u'a', char16_t(0xD800)};
  EXPECT_EQ(wizard.readWindowTextUtf8(ControlId::DirEdit, buffer),
            std::unexpected(TextError::DanglingSurrogateHalf));
  platform.control(ControlId::DirEdit).text = std::u16string{char16_t(0xDFFF)};
  EXPECT_EQ(wizard.readWindowTextUtf8(ControlId::DirEdit, buffer),
            std::unexpected(TextError::UnexpectedSecondSurrogateHalf));
  platform.control(ControlId::DirEdit).text = u"";
  EXPECT_EQ(wizard.readWindowTextUtf8(ControlId::DirEdit, buffer), 0u);
  platform.control(ControlId::DirEdit).text = u"\U0001F600 \u00fc";
  ASSERT_EQ(wizard.readWindowTextUtf8(ControlId::DirEdit, buffer), 7u);
  EXPECT_EQ(std::string(buffer, 7), "\xF0\x9F\x98\x80 \xC3\xBC");
}

TEST_F(WizardTest, SetWindowTextUtf8LeavesTheTextOnInvalidUtf8) {
  start();
  wizard.setWindowTextUtf8(ControlId::DirEdit, "before");
  wizard.setWindowTextUtf8(ControlId::DirEdit, "bad \xC0\xAF");
  EXPECT_EQ(text(ControlId::DirEdit), "before");
}

TEST_F(WizardTest, MissingControlsAreSkippedEverywhere) {
  platform.failingControls = {ControlId::AgreementEdit, ControlId::LogEdit, ControlId::BackButton,
                              ControlId::TitleLabel};
  addInstall("D:\\DCS World");
  wizard.create();
  EXPECT_EQ(platform.controls.size(), 14u);
  // The Back command still works without its button.
  platform.click(wizard, ControlId::AcceptRadio);
  platform.click(wizard, ControlId::NextButton);
  wizard.onCommand(122, 0);
  EXPECT_EQ(wizard.page(), WizardPage::AGREEMENT);
  platform.click(wizard, ControlId::NextButton);
  platform.type(wizard, u"D:\\DCS World");
  platform.click(wizard, ControlId::InstallRadio);
  platform.answers = {kIdNo, kIdYes, kIdOk};
  platform.click(wizard, ControlId::NextButton);
  platform.click(wizard, ControlId::NextButton);
  EXPECT_EQ(runner.calls.size(), 1u);
  EXPECT_EQ(wizard.page(), WizardPage::COMPLETE);
  EXPECT_EQ(platform.boxes.size(), 3u);
}

TEST_F(WizardTest, WithoutNextButtonTheRuleDoesNothing) {
  platform.failingControls = {ControlId::NextButton};
  wizard.create();
  platform.events.clear();
  platform.click(wizard, ControlId::AcceptRadio);
  EXPECT_TRUE(platform.events.empty());
}

TEST_F(WizardTest, RunRequestsForEachAction) {
  const RunRequest check = runRequestFor(SetupAction::CHECK, "X:\\");
  EXPECT_EQ(check.installDir, "X:\\");
  EXPECT_FALSE(check.uninstall);
  EXPECT_TRUE(check.dryRun);
  const RunRequest install = runRequestFor(SetupAction::INSTALL, "X:\\");
  EXPECT_FALSE(install.uninstall);
  EXPECT_FALSE(install.dryRun);
  const RunRequest uninstall = runRequestFor(SetupAction::UNINSTALL, "X:\\");
  EXPECT_TRUE(uninstall.uninstall);
  EXPECT_FALSE(uninstall.dryRun);
  EXPECT_EQ(setupActionName(SetupAction::CHECK), "CHECK");
  EXPECT_EQ(setupActionName(SetupAction::INSTALL), "INSTALL");
  EXPECT_EQ(setupActionName(SetupAction::UNINSTALL), "UNINSTALL");
}

}  // namespace
}  // namespace qorvex::wizard::testing
