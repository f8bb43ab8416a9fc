#pragma once
// A wizard on the fake platform, file system and engine, with the steps most
// tests begin with.

#include <gtest/gtest.h>

#include "fake_platform.h"
#include "wizard.h"

namespace qorvex::wizard::testing {

class WizardFixture : public ::testing::Test {
 protected:
  WizardFixture() : wizard(platform, fs, '\\', runner) { runner.platform = &platform; }

  void start() {
    wizard.create();
    platform.events.clear();
  }
  // From the agreement, accepted, to the action page; what happened on the
  // way is forgotten.
  void toActionPage() {
    start();
    platform.click(wizard, ControlId::AcceptRadio);
    platform.click(wizard, ControlId::NextButton);
    ASSERT_EQ(wizard.page(), WizardPage::ACTION);
    platform.events.clear();
    fs.opened.clear();
  }
  bool enabled(ControlId id) { return platform.control(id).enabled; }

  FakePlatform platform;
  FakeFileSystem fs;
  FakeRunner runner;
  Wizard wizard;
};

}  // namespace qorvex::wizard::testing
