// The wizard from the keyboard (focus, arrows, Enter, Esc, Alt letters), at
// other DPI settings, and where the folder browser opens.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_platform.h"
#include "wizard.h"
#include "wizard_fixture.h"

namespace qorvex::wizard::testing {
namespace {

constexpr int kAccelerator = 1;  // the notification code of an accelerator's WM_COMMAND

class WizardKeysTest : public WizardFixture {
 protected:
  WizardKeysTest() { platform.pressTarget = &wizard; }

  bool checked(ControlId id) { return platform.control(id).check == kBstChecked; }
  std::vector<std::string> eventsStartingWith(const std::string& prefix) {
    std::vector<std::string> out;
    for (const std::string& e : platform.events) {
      if (e.rfind(prefix, 0) == 0) out.push_back(e);
    }
    return out;
  }
};

TEST_F(WizardKeysTest, FocusStartsOnEachPagesFirstTabStop) {
  start();
  EXPECT_EQ(platform.focused, ControlId::AcceptRadio);
  platform.click(wizard, ControlId::AcceptRadio);
  platform.click(wizard, ControlId::NextButton);
  EXPECT_EQ(platform.focused, ControlId::DirEdit);
  platform.click(wizard, ControlId::BackButton);
  EXPECT_EQ(platform.focused, ControlId::AcceptRadio);
}

TEST_F(WizardKeysTest, FocusSkipsControlsThatAreMissingOrDisabled) {
  platform.failingControls = {ControlId::AcceptRadio};
  start();
  EXPECT_EQ(platform.focused, ControlId::DeclineRadio);

  FakePlatform other;
  FakeFileSystem otherFs;
  FakeRunner otherRunner;
  Wizard second(other, otherFs, '\\', otherRunner);
  second.create();
  other.click(second, ControlId::AcceptRadio);
  other.enableControl(ControlId::DirEdit, false);
  other.click(second, ControlId::NextButton);
  EXPECT_EQ(other.focused, ControlId::BrowseButton);
}

TEST_F(WizardKeysTest, AfterARunTheFocusComesBackWithTheControls) {
  fs.directories.insert("D:\\DCS World\\MissionEditor");
  toActionPage();
  platform.type(wizard, u"D:\\DCS World");
  platform.click(wizard, ControlId::DryRunRadio);
  platform.answers = {kIdOk};
  platform.focused.reset();
  platform.click(wizard, ControlId::NextButton);
  ASSERT_EQ(wizard.page(), WizardPage::COMPLETE);
  EXPECT_EQ(platform.focused, ControlId::DirEdit);
  // While the run's controls are still disabled, Close is the page's only
  // usable tab stop; once they are back, the first one takes the focus.
  EXPECT_EQ(eventsStartingWith("focus"), (std::vector<std::string>{"focus 120", "focus 111"}));
  EXPECT_EQ(platform.events.back(), "focus 111");
}

TEST_F(WizardKeysTest, ArrowKeysGoRoundTheActionGroupCheckingAsTheyGo) {
  toActionPage();
  platform.type(wizard, u"D:\\x");
  platform.focused = ControlId::DryRunRadio;
  struct Step {
    ControlId from;
    bool backward;
    ControlId to;
  };
  const Step steps[] = {
      {ControlId::DryRunRadio, false, ControlId::InstallRadio},
      {ControlId::InstallRadio, false, ControlId::UninstallRadio},
      {ControlId::UninstallRadio, false, ControlId::DryRunRadio},
      {ControlId::DryRunRadio, true, ControlId::UninstallRadio},
      {ControlId::UninstallRadio, true, ControlId::InstallRadio},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(static_cast<int>(step.from));
    EXPECT_TRUE(wizard.onArrowKey(step.from, step.backward));
    EXPECT_EQ(platform.focused, step.to);
    for (ControlId id :
         {ControlId::DryRunRadio, ControlId::InstallRadio, ControlId::UninstallRadio}) {
      EXPECT_EQ(checked(id), id == step.to) << static_cast<int>(id);
    }
    // The press went through the command table, so Next follows.
    EXPECT_TRUE(enabled(ControlId::NextButton));
  }
}

TEST_F(WizardKeysTest, ArrowKeysOnTheAgreementRadiosMoveTheNextRuleToo) {
  start();
  EXPECT_TRUE(wizard.onArrowKey(ControlId::AcceptRadio, false));
  EXPECT_EQ(platform.focused, ControlId::DeclineRadio);
  EXPECT_TRUE(checked(ControlId::DeclineRadio));
  EXPECT_FALSE(enabled(ControlId::NextButton));
  EXPECT_TRUE(wizard.onArrowKey(ControlId::DeclineRadio, true));
  EXPECT_EQ(platform.focused, ControlId::AcceptRadio);
  EXPECT_TRUE(checked(ControlId::AcceptRadio));
  EXPECT_FALSE(checked(ControlId::DeclineRadio));
  EXPECT_TRUE(enabled(ControlId::NextButton));
}

TEST_F(WizardKeysTest, ArrowKeysSkipUnusableRadiosAndLeaveOtherControlsAlone) {
  platform.failingControls = {ControlId::InstallRadio};
  toActionPage();
  platform.enableControl(ControlId::UninstallRadio, false);
  platform.events.clear();
  // Alone in its group: the focus stays and nothing is pressed.
  EXPECT_TRUE(wizard.onArrowKey(ControlId::DryRunRadio, false));
  EXPECT_TRUE(platform.events.empty());
  platform.enableControl(ControlId::UninstallRadio, true);
  EXPECT_TRUE(wizard.onArrowKey(ControlId::DryRunRadio, false));
  EXPECT_EQ(platform.focused, ControlId::UninstallRadio);

  platform.events.clear();
  for (ControlId id : {ControlId::DirEdit, ControlId::NextButton, ControlId::LogEdit}) {
    EXPECT_FALSE(wizard.onArrowKey(id, false)) << static_cast<int>(id);
  }
  EXPECT_TRUE(platform.events.empty());
}

TEST_F(WizardKeysTest, EnterPressesAFocusedPushButtonOtherwiseNext) {
  start();
  struct Case {
    std::optional<ControlId> focused;
    ControlId pressed;
  };
  const Case cases[] = {
      {std::nullopt, ControlId::NextButton},
      {ControlId::AcceptRadio, ControlId::NextButton},
      {ControlId::DirEdit, ControlId::NextButton},
      {ControlId::LogEdit, ControlId::NextButton},
      {ControlId::NextButton, ControlId::NextButton},
      {ControlId::BackButton, ControlId::BackButton},
      {ControlId::CancelButton, ControlId::CancelButton},
      {ControlId::BrowseButton, ControlId::BrowseButton},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(wizard.defaultButton(c.focused), c.pressed)
        << (c.focused ? static_cast<int>(*c.focused) : 0);
  }
}

TEST_F(WizardKeysTest, EscCancelsAndOnTheLastPageCloses) {
  start();
  wizard.onCommand(kEscapeCommand, kBnClicked);
  EXPECT_EQ(platform.destroyed, 1);

  fs.directories.insert("D:\\DCS World\\MissionEditor");
  platform.click(wizard, ControlId::AcceptRadio);
  platform.click(wizard, ControlId::NextButton);
  platform.type(wizard, u"D:\\DCS World");
  platform.click(wizard, ControlId::DryRunRadio);
  wizard.onCommand(kEscapeCommand, kBnClicked);
  EXPECT_EQ(platform.destroyed, 2);

  // Cancel disabled: Esc does what a click could do, nothing.
  platform.enableControl(ControlId::CancelButton, false);
  wizard.onCommand(kEscapeCommand, kBnClicked);
  EXPECT_EQ(platform.destroyed, 2);
  platform.enableControl(ControlId::CancelButton, true);

  platform.answers = {kIdOk};
  platform.click(wizard, ControlId::NextButton);
  ASSERT_EQ(wizard.page(), WizardPage::COMPLETE);
  EXPECT_FALSE(platform.control(ControlId::CancelButton).visible);
  wizard.onCommand(kEscapeCommand, kBnClicked);
  EXPECT_EQ(platform.destroyed, 3);
  // Another notification from a control with that number is no Esc.
  wizard.onCommand(kEscapeCommand, kEnChange);
  EXPECT_EQ(platform.destroyed, 3);
}

TEST_F(WizardKeysTest, AltLettersPressTheirButtonsOnlyWhereTheUserCould) {
  start();
  wizard.onAccelerator(static_cast<int>(ControlId::NextButton));  // Next disabled
  EXPECT_EQ(wizard.page(), WizardPage::AGREEMENT);
  wizard.onAccelerator(static_cast<int>(ControlId::BackButton));    // Back hidden
  wizard.onAccelerator(static_cast<int>(ControlId::BrowseButton));  // Browse hidden
  EXPECT_EQ(platform.browseCalls, 0);
  EXPECT_EQ(wizard.page(), WizardPage::AGREEMENT);

  platform.click(wizard, ControlId::AcceptRadio);
  wizard.onAccelerator(static_cast<int>(ControlId::NextButton));
  EXPECT_EQ(wizard.page(), WizardPage::ACTION);
  wizard.onAccelerator(static_cast<int>(ControlId::BrowseButton));
  EXPECT_EQ(platform.browseCalls, 1);
  // Only the three letters' buttons: an accelerator command for Cancel is none.
  wizard.onAccelerator(static_cast<int>(ControlId::CancelButton));
  EXPECT_EQ(platform.destroyed, 0);
  wizard.onAccelerator(static_cast<int>(ControlId::BackButton));
  EXPECT_EQ(wizard.page(), WizardPage::AGREEMENT);
  // Through the command table an accelerator's code is not a click.
  wizard.onCommand(static_cast<int>(ControlId::NextButton), kAccelerator);
  EXPECT_EQ(wizard.page(), WizardPage::AGREEMENT);
}

TEST_F(WizardKeysTest, TheAcceleratorTableHasTheThreeLetters) {
  std::string keys;
  for (const Accelerator& a : kAccelerators) {
    keys += a.key;
    keys += std::to_string(static_cast<int>(a.button)) + " ";
  }
  EXPECT_EQ(keys, "N120 B122 R112 ");
  // The texts stay as they are: no '&' marks a letter.
  for (const ControlSpec& spec : kControls) {
    EXPECT_EQ(spec.text.find(u'&'), std::u16string_view::npos) << static_cast<int>(spec.id);
  }
}

TEST_F(WizardKeysTest, BrowseOpensAtTheTypedFolderWhenItIsThere) {
  fs.directories.insert("D:\\Games\\DCS");
  toActionPage();
  struct Case {
    std::u16string typed;
    std::u16string startsAt;
  };
  const Case cases[] = {
      {u" \"D:\\Games\\DCS\\\" ", u"D:\\Games\\DCS"},
      {u"D:\\Games\\DCS", u"D:\\Games\\DCS"},
      {u"D:\\Games\\Elsewhere", u""},
      {u"Games\\DCS", u""},
      {u"   ", u""},
      {u"", u""},
      {u"\xD800", u""},
  };
  for (const Case& c : cases) {
    platform.type(wizard, c.typed);
    platform.browseStartedAt = u"<not asked>";
    platform.click(wizard, ControlId::BrowseButton);
    EXPECT_EQ(utf8(platform.browseStartedAt), utf8(c.startsAt))
        << utf8(c.typed.substr(0, 1) == u"\xD800" ? u"(bad)" : c.typed);
  }
}

// ---------------------------------------------------------------------------
// Display scaling

TEST_F(WizardKeysTest, At96DpiEveryControlIsCreatedAsTheTableSays) {
  start();
  for (const ControlSpec& spec : kControls) {
    const ControlSpec& made = platform.control(spec.id).spec;
    EXPECT_EQ((ControlRect{made.x, made.y, made.w, made.h}),
              (ControlRect{spec.x, spec.y, spec.w, spec.h}))
        << static_cast<int>(spec.id);
  }
  ASSERT_EQ(platform.fontSets.size(), 1u);
  EXPECT_EQ(platform.fontSets[0].first, (FontSpec{u"Segoe UI", -14, 400}));
  EXPECT_EQ(platform.fontSets[0].second, (FontSpec{u"Segoe UI", -16, 700}));
}

TEST_F(WizardKeysTest, AtTheWindowsDpiControlsAndFontsAreScaled) {
  for (unsigned dpi : {144u, 192u}) {
    SCOPED_TRACE(dpi);
    FakePlatform scaled;
    scaled.dpi = dpi;
    FakeFileSystem noFiles;
    FakeRunner noRuns;
    Wizard w(scaled, noFiles, '\\', noRuns);
    w.create();
    EXPECT_EQ(w.dpi(), dpi);
    const int factor2 = static_cast<int>(dpi * 2 / 96);  // twice the factor: 3 or 4
    for (const ControlSpec& spec : kControls) {
      const ControlSpec& made = scaled.control(spec.id).spec;
      EXPECT_EQ((ControlRect{made.x, made.y, made.w, made.h}),
                (ControlRect{spec.x * factor2 / 2, spec.y * factor2 / 2, spec.w * factor2 / 2,
                             spec.h * factor2 / 2}))
          << static_cast<int>(spec.id);
    }
    EXPECT_EQ(scaled.fontOf(ControlId::TitleLabel).height, -16 * factor2 / 2);
    EXPECT_EQ(scaled.fontOf(ControlId::LogEdit).height, -14 * factor2 / 2);
    EXPECT_EQ(scaled.fontOf(ControlId::TitleLabel).weight, 700);
  }
}

TEST_F(WizardKeysTest, ADpiChangePlacesEveryControlAndRemakesTheFonts) {
  platform.failingControls = {ControlId::LogLabel};
  platform.dpi = 192;
  start();
  wizard.onDpiChanged(120);
  EXPECT_EQ(wizard.dpi(), 120u);
  ASSERT_EQ(platform.fontSets.size(), 2u);
  EXPECT_EQ(platform.fontSets[1].first, (FontSpec{u"Segoe UI", -18, 400}));
  EXPECT_EQ(platform.fontSets[1].second, (FontSpec{u"Segoe UI", -20, 700}));
  EXPECT_EQ(eventsStartingWith("place").size(), kControlCount - 1);
  // Separators get no font; every other control gets the new one.
  EXPECT_EQ(eventsStartingWith("font").size(), kControlCount - 3);
  EXPECT_EQ(platform.fontOf(ControlId::SubtitleLabel).height, -18);

  wizard.onDpiChanged(96);
  for (const ControlSpec& spec : kControls) {
    if (spec.id == ControlId::LogLabel) continue;
    const ControlSpec& now = platform.control(spec.id).spec;
    EXPECT_EQ((ControlRect{now.x, now.y, now.w, now.h}),
              (ControlRect{spec.x, spec.y, spec.w, spec.h}))
        << static_cast<int>(spec.id);
  }
  EXPECT_EQ(platform.fontOf(ControlId::TitleLabel), (FontSpec{u"Segoe UI", -16, 700}));
  EXPECT_EQ(platform.fontOf(ControlId::NextButton), (FontSpec{u"Segoe UI", -14, 400}));
  // A DPI of 0 is the system not knowing; nothing changes.
  platform.events.clear();
  wizard.onDpiChanged(0);
  EXPECT_TRUE(platform.events.empty());
  EXPECT_EQ(wizard.dpi(), 96u);
}

TEST_F(WizardKeysTest, AWindowWhoseDpiIsUnknownIsLaidOutFor96) {
  platform.dpi = 0;
  start();
  EXPECT_EQ(wizard.dpi(), 96u);
  EXPECT_EQ(platform.control(ControlId::CancelButton).spec.x, 556);
}

}  // namespace
}  // namespace qorvex::wizard::testing
