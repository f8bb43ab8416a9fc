#pragma once

#include <cstddef>
#include <string_view>

// Every text the wizard shows, in one place.
namespace qorvex::wizard::text {

// A confirmation: its first words, the folder, then the rest.
struct Confirmation {
  std::string_view prefix;
  std::string_view suffix;
};

inline constexpr std::u16string_view kWindowTitle = u"Tindrelle \u2013 DCS ME Undo Setup";
inline constexpr std::u16string_view kWindowClass = u"QorvexUndoInstallerWindow";

inline constexpr std::u16string_view kAgreementTitle = u"License Agreement";
inline constexpr std::u16string_view kAgreementSubtitle =
    u"Please read the following important information before continuing.";
inline constexpr std::u16string_view kActionTitle = u"Select Setup Action";
inline constexpr std::u16string_view kActionSubtitle =
    u"Choose whether to check, install, or uninstall the Undo feature.";
inline constexpr std::u16string_view kCompleteTitle = u"Setup Complete";
inline constexpr std::u16string_view kCompleteSubtitle =
    u"Review the log below, then close this window.";
inline constexpr std::u16string_view kNext = u"Next";
inline constexpr std::u16string_view kBack = u"< Back";
inline constexpr std::u16string_view kAccept = u"I accept the agreement";
inline constexpr std::u16string_view kDecline = u"I do not accept the agreement";
inline constexpr std::u16string_view kDirLabel = u"Game install directory:";
inline constexpr std::u16string_view kBrowse = u"Browse...";
inline constexpr std::u16string_view kDryRunChoice = u"Dry run (logging only)";
inline constexpr std::u16string_view kInstallChoice = u"Install";
inline constexpr std::u16string_view kUninstallChoice = u"Uninstall";
inline constexpr std::u16string_view kLogLabel = u"Log:";
inline constexpr std::u16string_view kClose = u"Close";
inline constexpr std::u16string_view kCancel = u"Cancel";

inline constexpr std::string_view kFieldUnreadable = "Failed to read the target directory field.";
inline constexpr Confirmation kConfirmCheck{
    "Running a CHECK (dry run) against:\n",
    "\n\nNo files will be modified. The log will report what an install/uninstall would do."
    "\n\nContinue?"};
inline constexpr Confirmation kConfirmInstall{
    "About to INSTALL the Tindrelle undo patches against:\n",
    "\n\nA backup of every modified file will be created first.\n\nProceed?"};
// Put before the question of an INSTALL or UNINSTALL confirmation when DCS
// World is running.
inline constexpr std::string_view kGameRunningNote =
    "\n\nDCS World is running. The Mission Editor loads these files when DCS World starts, so "
    "restart DCS World for the change to take effect.";
inline constexpr std::string_view kProceedQuestion = "\n\nProceed?";
// The program whose process shows that the game is running.
inline constexpr std::u16string_view kGameProgram = u"DCS.exe";
inline constexpr Confirmation kConfirmUninstall{
    "About to UNINSTALL the Tindrelle undo patches from:\n",
    "\n\nThis will remove the patches and restore the original backed-up files. Make sure this "
    "is really what you want.\n\nProceed?"};
inline constexpr std::string_view kCompletedOk = "Completed successfully. See the log for details.";
inline constexpr std::string_view kCompletedWithErrors =
    "Completed WITH ERRORS. See the log for details.";

// Pre-flight: the run did not start because files cannot be changed. The box
// names at most kPreflightBoxFiles of them; the log names all.
inline constexpr std::size_t kPreflightBoxFiles = 5;
inline constexpr std::string_view kPreflightFirstLine =
    " file(s) cannot be changed, so the run did not start. Nothing was changed.";
inline constexpr std::string_view kPreflightMorePrefix = "\n\n... and ";
inline constexpr std::string_view kPreflightMoreSuffix = " more (see the log).";
inline constexpr std::string_view kPreflightLogPrefix = "Cannot change ";
// The survey found changes that this game version does not allow: "{n}"
// and "{total}" are numbers.
inline constexpr std::string_view kBlockedOf = " of the ";
inline constexpr std::string_view kBlockedQuestion =
    " changes cannot be made in this version of DCS World, so the Undo feature may not work."
    "\n\nMake the other changes anyway?";

inline constexpr std::string_view kPreflightLogEnd =
    "The run did not start. Nothing was changed.\r\n";

inline constexpr std::u16string_view kBrowseTitle = u"Select your game install directory.";

// Name of the carried agreement text.
inline constexpr std::string_view kAgreementName = "agreement.txt";

}  // namespace qorvex::wizard::text
