#include "wizard.h"

#include <algorithm>
#include <iterator>
#include <span>
#include <memory>
#include <new>

#include "hints.h"
#include "install_dir.h"
#include "payload.h"
#include "steam_library.h"
#include "wizard_texts.h"

namespace qorvex::wizard {

std::string_view setupActionName(SetupAction action) {
  switch (action) {
    case SetupAction::CHECK: return "CHECK";
    case SetupAction::INSTALL: return "INSTALL";
    case SetupAction::UNINSTALL: return "UNINSTALL";
  }
  return "CHECK";
}

RunRequest runRequestFor(SetupAction action, std::string_view installDir) {
  RunRequest request;
  request.installDir = installDir;
  request.uninstall = action == SetupAction::UNINSTALL;
  request.dryRun = action == SetupAction::CHECK;
  return request;
}

std::string agreementForDisplay(std::string_view stored) {
  std::string out;
  out.reserve(stored.size() + stored.size() / 16);
  for (char c : stored) {
    if (c == '\n') out.push_back('\r');
    out.push_back(c);
  }
  return out;
}

std::string confirmationText(SetupAction action, std::string_view dir, bool gameRunning) {
  const text::Confirmation& confirmation = action == SetupAction::CHECK ? text::kConfirmCheck
                                           : action == SetupAction::INSTALL
                                               ? text::kConfirmInstall
                                               : text::kConfirmUninstall;
  const std::string_view prefix = confirmation.prefix;
  std::string_view suffix = confirmation.suffix;
  std::string out;
  out.append(prefix).append(dir);
  // The note goes before the question, which stays the last line.
  if (gameRunning && action != SetupAction::CHECK && suffix.ends_with(text::kProceedQuestion)) {
    suffix.remove_suffix(text::kProceedQuestion.size());
    out.append(suffix).append(text::kGameRunningNote).append(text::kProceedQuestion);
  } else {
    out.append(suffix);
  }
  return out;
}

std::string rejectionText(Error reason, std::string_view fieldText, std::string_view hint) {
  std::string out(kNotAGameInstall);
  out.append(errorName(reason)).append("\n\n").append(fieldText);
  if (!hint.empty()) out.append("\n\n").append(hint);
  return out;
}

std::string preflightBoxText(const std::vector<PreflightProblem>& problems) {
  std::string out = std::to_string(problems.size());
  out.append(text::kPreflightFirstLine);
  const std::size_t shown = std::min(problems.size(), text::kPreflightBoxFiles);
  for (std::size_t i = 0; i < shown; ++i) {
    const PreflightProblem& problem = problems[i];
    out.append("\n\n").append(problem.path).append(": ").append(errorName(problem.error));
    out.append("\n").append(problemHint(problem.error, problem.readOnly, HintStyle::Windows));
  }
  if (problems.size() > shown) {
    out.append(text::kPreflightMorePrefix)
        .append(std::to_string(problems.size() - shown))
        .append(text::kPreflightMoreSuffix);
  }
  return out;
}

std::string blockedQuestion(const SurveyReport& report) {
  std::size_t blocked = 0;
  std::size_t total = 0;
  for (const auto* list : {&report.entries, &report.dialogs}) {
    for (const EntryReport& entry : *list) {
      ++total;
      if (entry.state == EntryState::AnchorNotFound || entry.state == EntryState::AnchorAmbiguous ||
          entry.state == EntryState::FileMissing || entry.state == EntryState::Unreadable) {
        ++blocked;
      }
    }
  }
  std::string out = std::to_string(blocked);
  out.append(text::kBlockedOf).append(std::to_string(total)).append(text::kBlockedQuestion);
  return out;
}

std::string_view folderOfProgram(std::string_view programPath) {
  const std::size_t slash = programPath.find_last_of("\\/");
  if (slash == std::string_view::npos) return {};
  // "C:\setup.exe" lies in "C:\", "\setup.exe" in "\": keep the separator of a root.
  if (slash == 0 || (slash == 2 && programPath[1] == ':')) return programPath.substr(0, slash + 1);
  return programPath.substr(0, slash);
}

RunResult EngineRunner::run(const RunRequest& request, RunLog& log) {
  EmbeddedPayload payload;
  return qorvex::run(request, fs_, payload, log);
}

Result<SurveyReport> EngineRunner::survey(std::string_view installDir) {
  EmbeddedPayload payload;
  return surveyInstall(installDir, fs_, payload);
}

PreflightReport EngineRunner::preflight(const RunRequest& request) {
  EmbeddedPayload payload;
  return qorvex::preflight(request, fs_, payload);
}

Wizard::Wizard(WizardPlatform& platform, FileSystem& fs, char separator, Runner& runner)
    : platform_(platform),
      fs_(fs),
      separator_(separator),
      runner_(runner),
      sink_(platform, ControlId::LogEdit),
      log_(&sink_) {}

void Wizard::makeFonts() {
  platform_.useFonts(scaledFont(kNormalFont, dpi_), scaledFont(kTitleFont, dpi_));
}

void Wizard::create() {
  const unsigned dpi = platform_.windowDpi();
  dpi_ = dpi == 0 ? kBaseDpi : dpi;
  makeFonts();
  std::size_t next = 0;
  const auto createUpTo = [&](ControlId last) {
    while (next < kControls.size()) {
      const ControlSpec& spec = kControls[next++];
      ControlSpec placed = spec;
      const ControlRect place = scaledPlace(spec, dpi_);
      placed.x = place.x;
      placed.y = place.y;
      placed.w = place.w;
      placed.h = place.h;
      platform_.createControl(placed);
      if (spec.id == last) break;
    }
  };
  createUpTo(ControlId::AgreementEdit);
  fillAgreementText();
  createUpTo(ControlId::DeclineRadio);
  if (platform_.hasControl(ControlId::DeclineRadio)) platform_.setChecked(ControlId::DeclineRadio);
  createUpTo(ControlId::CancelButton);

  for (const ControlSpec& spec : kControls) {
    if (spec.hasFont && platform_.hasControl(spec.id)) platform_.setFont(spec.id, spec.font);
  }
  if (std::optional<std::string> dir = chooseDefaultInstallDir()) {
    setWindowTextUtf8(ControlId::DirEdit, *dir);
  }
  showPage(WizardPage::AGREEMENT);
}

void Wizard::fillAgreementText() {
  if (!platform_.hasControl(ControlId::AgreementEdit)) return;
  const std::string_view* stored = findEmbeddedText(text::kAgreementName);
  if (stored == nullptr) return;
  std::string display;
  try {
    display = agreementForDisplay(*stored);
  } catch (const std::bad_alloc&) {
    return;
  }
  setWindowTextUtf8(ControlId::AgreementEdit, display);
}

void Wizard::onDpiChanged(unsigned dpi) {
  if (dpi == 0) return;
  dpi_ = dpi;
  makeFonts();
  for (const ControlSpec& spec : kControls) {
    if (!platform_.hasControl(spec.id)) continue;
    platform_.placeControl(spec.id, scaledPlace(spec, dpi_));
    if (spec.hasFont) platform_.setFont(spec.id, spec.font);
  }
}

void Wizard::onCommand(int controlId, int notification) {
  if (controlId == kEscapeCommand && notification == kBnClicked) {
    // Esc is Cancel; the last page has no Cancel, and there it is Close.
    const ControlId button =
        page_ == WizardPage::COMPLETE ? ControlId::NextButton : ControlId::CancelButton;
    if (platform_.hasControl(button) && platform_.isUsable(button)) {
      onCommand(static_cast<int>(button), kBnClicked);
    }
    return;
  }
  const auto id = static_cast<ControlId>(controlId);
  if (notification == kEnChange && id == ControlId::DirEdit) {
    updateNextEnabled();
    return;
  }
  if (notification != kBnClicked) return;
  switch (id) {
    case ControlId::AcceptRadio:
    case ControlId::DeclineRadio:
    case ControlId::DryRunRadio:
    case ControlId::InstallRadio:
    case ControlId::UninstallRadio: updateNextEnabled(); break;
    case ControlId::BrowseButton: browseForInstallDir(); break;
    case ControlId::NextButton: handleNext(); break;
    case ControlId::CancelButton: platform_.destroyMainWindow(); break;
    case ControlId::BackButton:
      if (page_ == WizardPage::ACTION) showPage(WizardPage::AGREEMENT);
      break;
    default: break;
  }
}

namespace {

// The arrow keys go round these groups. The window system's own groups would
// run on past the last radio button to the labels after it, since no control
// after a group starts a new one.
constexpr ControlId kAgreementRadios[] = {ControlId::AcceptRadio, ControlId::DeclineRadio};
constexpr ControlId kActionRadios[] = {ControlId::DryRunRadio, ControlId::InstallRadio,
                                       ControlId::UninstallRadio};
constexpr std::span<const ControlId> kRadioGroups[] = {kAgreementRadios, kActionRadios};

constexpr ControlId kPushButtons[] = {ControlId::BrowseButton, ControlId::BackButton,
                                      ControlId::NextButton, ControlId::CancelButton};

constexpr ControlId kAgreementControls[] = {ControlId::AgreementEdit, ControlId::AcceptRadio,
                                            ControlId::DeclineRadio};
constexpr ControlId kActionControls[] = {ControlId::DirLabel,     ControlId::DirEdit,
                                         ControlId::BrowseButton, ControlId::DryRunRadio,
                                         ControlId::InstallRadio, ControlId::UninstallRadio,
                                         ControlId::LogLabel,     ControlId::LogEdit};
constexpr ControlId kRunControls[] = {ControlId::DirEdit,        ControlId::BrowseButton,
                                      ControlId::DryRunRadio,    ControlId::InstallRadio,
                                      ControlId::UninstallRadio, ControlId::NextButton,
                                      ControlId::CancelButton,   ControlId::BackButton};

}  // namespace

void Wizard::onAccelerator(int command) {
  for (const Accelerator& accelerator : kAccelerators) {
    if (static_cast<int>(accelerator.button) != command) continue;
    if (platform_.hasControl(accelerator.button) && platform_.isUsable(accelerator.button)) {
      onCommand(command, kBnClicked);
    }
    return;
  }
}

bool Wizard::onArrowKey(ControlId focused, bool backward) {
  for (std::span<const ControlId> group : kRadioGroups) {
    const auto at = std::find(group.begin(), group.end(), focused);
    if (at == group.end()) continue;
    const std::size_t size = group.size();
    const std::size_t from = static_cast<std::size_t>(at - group.begin());
    for (std::size_t step = 1; step < size; ++step) {
      const ControlId candidate = group[(from + (backward ? size - step : step)) % size];
      if (platform_.hasControl(candidate) && platform_.isUsable(candidate)) {
        platform_.setFocus(candidate);
        platform_.pressButton(candidate);
        break;
      }
    }
    return true;
  }
  return false;
}

ControlId Wizard::defaultButton(std::optional<ControlId> focused) const {
  if (focused && std::find(std::begin(kPushButtons), std::end(kPushButtons), *focused) !=
                     std::end(kPushButtons)) {
    return *focused;
  }
  return ControlId::NextButton;
}

void Wizard::focusFirstControl() {
  for (const ControlSpec& spec : kControls) {
    if ((spec.style & style::kTabStop) && platform_.hasControl(spec.id) &&
        platform_.isUsable(spec.id)) {
      platform_.setFocus(spec.id);
      return;
    }
  }
}

void Wizard::showPage(WizardPage page) {
  page_ = page;
  const bool agreement = page == WizardPage::AGREEMENT;
  for (ControlId id : kAgreementControls) show(id, agreement);
  for (ControlId id : kActionControls) show(id, !agreement);
  // What each page shows in the parts all pages share.
  struct PageLook {
    std::u16string_view title, subtitle, next;
    bool cancel, back;
  };
  static constexpr PageLook kAgreementLook{text::kAgreementTitle, text::kAgreementSubtitle,
                                           text::kNext, true, false};
  static constexpr PageLook kActionLook{text::kActionTitle, text::kActionSubtitle, text::kNext,
                                        true, true};
  static constexpr PageLook kCompleteLook{text::kCompleteTitle, text::kCompleteSubtitle,
                                          text::kClose, false, false};
  const PageLook& look = page == WizardPage::AGREEMENT ? kAgreementLook
                         : page == WizardPage::ACTION  ? kActionLook
                                                       : kCompleteLook;
  setText(ControlId::TitleLabel, look.title);
  setText(ControlId::SubtitleLabel, look.subtitle);
  setText(ControlId::NextButton, look.next);
  if (look.cancel) setText(ControlId::CancelButton, text::kCancel);
  show(ControlId::CancelButton, look.cancel);
  show(ControlId::BackButton, look.back);
  updateNextEnabled();
  focusFirstControl();
}

void Wizard::updateNextEnabled() {
  if (!platform_.hasControl(ControlId::NextButton)) return;
  bool enabled = false;
  switch (page_) {
    case WizardPage::AGREEMENT: enabled = isChecked(ControlId::AcceptRadio); break;
    case WizardPage::ACTION: {
      if (chosenAction().has_value()) {
        char buffer[kControlTextBufferSize];
        TextResult<std::size_t> read = readWindowTextUtf8(ControlId::DirEdit, buffer);
        enabled = read.has_value() && *read > 0;
      }
      break;
    }
    case WizardPage::COMPLETE: enabled = true; break;
  }
  platform_.enableControl(ControlId::NextButton, enabled);
}

void Wizard::handleNext() {
  switch (page_) {
    case WizardPage::AGREEMENT:
      if (isChecked(ControlId::AcceptRadio)) showPage(WizardPage::ACTION);
      break;
    case WizardPage::ACTION: runActionSequence(); break;
    case WizardPage::COMPLETE: platform_.destroyMainWindow(); break;
  }
}

std::optional<std::string_view> Wizard::chosenInstallDir(char (&buffer)[kControlTextBufferSize]) {
  TextResult<std::size_t> read = readWindowTextUtf8(ControlId::DirEdit, buffer);
  if (!read) {
    showBox(text::kFieldUnreadable, kMbOk | kMbIconError);
    return std::nullopt;
  }
  const std::string_view field(buffer, *read);

  // The directory is a sub-range of the field text; nothing is copied.
  Result<std::string_view> normalized = normalizeInstallDir(field);
  std::optional<Error> rejection;
  if (!normalized) {
    rejection = normalized.error();
  } else if (!looksLikeGameInstall(*normalized)) {
    rejection = Error::MissionEditorFolderNotFound;
  }
  if (!rejection) return *normalized;
  std::string hint;
  if (normalized)
    hint = installDirHint(diagnoseInstallDir(fs_, *normalized, separator_), *normalized);
  showBox(rejectionText(*rejection, field, hint), kMbOk | kMbIconError);
  return std::nullopt;
}

bool Wizard::userAgrees(SetupAction action, std::string_view dir) {
  std::string question;
  try {
    const bool gameRunning = platform_.isProgramRunning(std::u16string(text::kGameProgram).c_str());
    question = confirmationText(action, dir, gameRunning);
  } catch (const std::bad_alloc&) {
    return false;
  }
  const bool accepted = action == SetupAction::CHECK
                            ? confirm(question, kMbOkCancel | kMbIconInformation, kIdOk)
                            : confirm(question, kMbYesNo | kMbIconWarning, kIdYes);
  return accepted && !(action == SetupAction::INSTALL && blockedInstallDeclined(dir));
}

void Wizard::showOutcome(const RunResult& result) {
  if (!result.fatal && result.success) {
    showBox(text::kCompletedOk, kMbOk | kMbIconInformation);
  } else if (result.fatal && !result.failedPath.empty()) {
    // The first line as always; below it, the file the run stopped at.
    std::string box(text::kCompletedWithErrors);
    box.append("\n\n").append(result.failedPath).append(": ").append(errorName(result.error));
    showBox(box, kMbOk | kMbIconError);
  } else {
    showBox(text::kCompletedWithErrors, kMbOk | kMbIconError);
  }
}

void Wizard::runActionSequence() {
  char buffer[kControlTextBufferSize];
  const std::optional<std::string_view> dir = chosenInstallDir(buffer);
  if (!dir) return;
  const std::optional<SetupAction> action = chosenAction();
  if (!action) return;

  // A run that could not finish does not start: nothing is asked, nothing
  // is changed, and the log and a box say which files stand in the way.
  if (*action != SetupAction::CHECK && preflightStops(*action, *dir)) return;
  if (!userAgrees(*action, *dir)) {
    log_.appendLog(kAbortedLine);
    return;
  }

  setRunControlsEnabled(false);
  writeRunHeader(log_, *dir, setupActionName(*action));
  const RunResult result = runner_.run(runRequestFor(*action, *dir), log_);
  if (result.fatal) writeFatalLine(log_, errorName(result.error));

  showPage(WizardPage::COMPLETE);
  if (*action != SetupAction::CHECK) showOutcome(result);
  setRunControlsEnabled(true);
  // Disabling took the focus from whatever had it.
  focusFirstControl();
}

bool Wizard::preflightStops(SetupAction action, std::string_view dir) {
  const PreflightReport report = runner_.preflight(runRequestFor(action, dir));
  if (report.problems.empty()) return false;
  for (const PreflightProblem& problem : report.problems) {
    const std::string path = problem.path.empty() ? std::string(dir) : problem.path;
    log_.write({text::kPreflightLogPrefix, path, ": ", errorName(problem.error), " - ",
                problemHint(problem.error, problem.readOnly, HintStyle::Windows), "\r\n"});
  }
  log_.appendLog(text::kPreflightLogEnd);
  showBox(preflightBoxText(report.problems), kMbOk | kMbIconWarning);
  return true;
}

// An INSTALL that this game version would leave incomplete asks once more,
// with No as the answer Enter gives. An install that is not blocked asks
// nothing more.
bool Wizard::blockedInstallDeclined(std::string_view dir) {
  const Result<SurveyReport> report = runner_.survey(dir);
  if (!report || report->verdict != Verdict::Blocked) return false;
  return !confirm(blockedQuestion(*report), kMbYesNo | kMbIconWarning | kMbDefButton2, kIdYes);
}

std::u16string Wizard::browseStartFolder() {
  char buffer[kControlTextBufferSize];
  TextResult<std::size_t> read = readWindowTextUtf8(ControlId::DirEdit, buffer);
  if (!read) return {};
  Result<std::string_view> dir = normalizeInstallDir(std::string_view(buffer, *read));
  // The browser can only open at a folder that is there.
  if (!dir || !isAbsolutePath(*dir) || !fs_.openDirectory(*dir)) return {};
  TextResult<std::u16string> units = utf8ToUtf16(*dir);
  return units ? *units : std::u16string();
}

void Wizard::browseForInstallDir() {
  char16_t path[kMaxPathUnits] = {};
  const std::u16string start = browseStartFolder();
  if (platform_.browseForFolder(std::u16string(text::kBrowseTitle).c_str(), kBrowseFlags,
                                start.c_str(), path) != BrowseOutcome::Chosen) {
    return;
  }
  std::size_t units = 0;
  while (units < kMaxPathUnits && path[units] != u'\0') ++units;
  char utf8[kControlTextBufferSize];
  TextResult<std::size_t> converted =
      utf16ToUtf8(std::u16string_view(path, units), utf8, sizeof utf8);
  if (!converted) return;
  setWindowTextUtf8(ControlId::DirEdit, std::string_view(utf8, *converted));
  updateNextEnabled();
}

TextResult<std::size_t> Wizard::readWindowTextUtf8(ControlId control,
                                                   char (&buffer)[kControlTextBufferSize]) {
  if (!platform_.hasControl(control)) return 0;
  const int length = platform_.textLength(control);
  if (length <= 0) return 0;
  std::unique_ptr<char16_t[]> units(new (std::nothrow) char16_t[std::size_t(length) + 1]);
  if (!units) return std::unexpected(TextError::OutOfMemory);
  const int copied = platform_.readText(control, units.get(), length + 1);
  if (copied <= 0) return 0;
  const std::size_t count = copied > length ? std::size_t(length) : std::size_t(copied);
  return utf16ToUtf8(std::u16string_view(units.get(), count), buffer, sizeof buffer);
}

void Wizard::setWindowTextUtf8(ControlId control, std::string_view utf8) {
  if (!platform_.hasControl(control)) return;
  TextResult<std::u16string> units = utf8ToUtf16(utf8);
  if (!units) return;
  platform_.setText(control, units->c_str());
}

bool Wizard::looksLikeGameInstall(std::string_view dir) {
  return qorvex::looksLikeGameInstall(fs_, dir, separator_);
}

std::optional<std::string> Wizard::chooseDefaultInstallDir() {
  if (std::optional<std::u16string> program = platform_.programPath()) {
    std::string utf8(program->size() * 3, '\0');
    if (TextResult<std::size_t> n = utf16ToUtf8(*program, utf8.data(), utf8.size())) {
      utf8.resize(*n);
      const std::string_view folder = folderOfProgram(utf8);
      if (!folder.empty() && looksLikeGameInstall(folder)) return std::string(folder);
    }
  }
  for (std::string_view dir : kDefaultInstallDirs) {
    if (looksLikeGameInstall(dir)) return std::string(dir);
  }
  // A Steam copy lies in one of Steam's libraries. Steam's own list names them
  // all; the registry is not asked, so a Steam moved elsewhere is not found.
  for (const std::string& library : steamLibraries(fs_, kSteamFolder, separator_)) {
    std::string dir = steamGameFolder(library, separator_);
    if (looksLikeGameInstall(dir)) return dir;
  }
  return std::nullopt;
}

std::optional<SetupAction> Wizard::chosenAction() {
  if (isChecked(ControlId::DryRunRadio)) return SetupAction::CHECK;
  if (isChecked(ControlId::InstallRadio)) return SetupAction::INSTALL;
  if (isChecked(ControlId::UninstallRadio)) return SetupAction::UNINSTALL;
  return std::nullopt;
}

bool Wizard::confirm(std::string_view utf8, unsigned style, int accepting) {
  TextResult<std::u16string> units = utf8ToUtf16(utf8);
  // A text that cannot be shown cannot be agreed to.
  if (!units) return false;
  return platform_.messageBox(units->c_str(), std::u16string(text::kWindowTitle).c_str(), style) ==
         accepting;
}

void Wizard::showBox(std::string_view utf8, unsigned style) {
  TextResult<std::u16string> units = utf8ToUtf16(utf8);
  if (!units) return;
  platform_.messageBox(units->c_str(), std::u16string(text::kWindowTitle).c_str(), style);
}

bool Wizard::isChecked(ControlId id) {
  return platform_.hasControl(id) && platform_.checkState(id) == kBstChecked;
}

void Wizard::show(ControlId id, bool visible) {
  if (platform_.hasControl(id)) platform_.showControl(id, visible);
}

void Wizard::setText(ControlId id, std::u16string_view text) {
  if (platform_.hasControl(id)) platform_.setText(id, std::u16string(text).c_str());
}

void Wizard::enable(ControlId id, bool enabled) {
  if (platform_.hasControl(id)) platform_.enableControl(id, enabled);
}

void Wizard::setRunControlsEnabled(bool enabled) {
  for (ControlId id : kRunControls) enable(id, enabled);
}

}  // namespace qorvex::wizard
