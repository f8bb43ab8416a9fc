// The wizard over the real engine and the real file system of this machine.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "fake_platform.h"
#include "payload.h"
#include "run.h"
#include "wizard.h"

namespace qorvex::wizard::testing {
namespace {

namespace stdfs = std::filesystem;

constexpr char kSeparator = static_cast<char>(stdfs::path::preferred_separator);
constexpr const char* kTitle = "Tindrelle \xE2\x80\x93 DCS ME Undo Setup";

std::map<std::string, std::string> snapshot(const stdfs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : stdfs::recursive_directory_iterator(root)) {
    const std::string rel = stdfs::relative(entry.path(), root).generic_string();
    if (entry.is_directory()) {
      files[rel + "/"] = "";
    } else {
      std::ifstream in(entry.path(), std::ios::binary);
      std::ostringstream bytes;
      bytes << in.rdbuf();
      files[rel] = bytes.str();
    }
  }
  return files;
}

void writeFile(const stdfs::path& path, std::string_view bytes) {
  stdfs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

class WizardEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = stdfs::temp_directory_path() /
           ("qorvex_wizard_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    stdfs::remove_all(root);
    game = root / "Game Dir";
    stdfs::create_directories(game / "MissionEditor" / "modules");
    writeFile(game / "MissionEditor" / "modules" / "me_toolbar.lua", "local base = _G\r\n");
    platform.program = u"/opt/nowhere/TindrelleUndoSetup.exe";
  }
  void TearDown() override { stdfs::remove_all(root); }

  void startOnActionPage(const std::string& dirText) {
    wizard.create();
    platform.click(wizard, ControlId::AcceptRadio);
    platform.click(wizard, ControlId::NextButton);
    std::u16string units;
    TextResult<std::u16string> converted = utf8ToUtf16(dirText);
    ASSERT_TRUE(converted.has_value());
    platform.type(wizard, *converted);
  }

  stdfs::path root;
  stdfs::path game;
  FakePlatform platform;
  std::unique_ptr<FileSystem> fs = makePlatformFileSystem();
  EngineRunner runner{*fs};
  Wizard wizard{platform, *fs, kSeparator, runner};
};

TEST_F(WizardEngineTest, ConfirmedCheckLogsTheRunAndChangesNothing) {
  const auto before = snapshot(root);
  const std::string dir = game.string();
  startOnActionPage(" \"" + dir + "/\" ");
  platform.click(wizard, ControlId::DryRunRadio);
  platform.answers = {kIdOk};
  platform.click(wizard, ControlId::NextButton);

  // The same dry run straight through the engine gives the text that must
  // follow the header.
  StringLogSink direct;
  RunLog directLog(&direct);
  EmbeddedPayload payload;
  const RunResult result = run(RunRequest{dir, false, true}, *fs, payload, directLog);
  EXPECT_FALSE(result.fatal);

  EXPECT_EQ(platform.logText(),
            "\r\nGame install directory: " + dir + "\r\nAction: CHECK\r\n\r\n" + direct.text());
  EXPECT_NE(direct.text().find("  0 backups created.\r\n"), std::string::npos) << direct.text();
  EXPECT_EQ(snapshot(root), before);
  EXPECT_EQ(platform.boxes.size(), 1u);
  EXPECT_EQ(wizard.page(), WizardPage::COMPLETE);
}

TEST_F(WizardEngineTest, InstallDeploysTheModuleAndUninstallTakesItAway) {
  const std::string dir = game.string();
  const stdfs::path module = game / "MissionEditor" / "modules" / "me_qorvex_undo.lua";
  startOnActionPage(dir);
  platform.click(wizard, ControlId::InstallRadio);
  // This stand-in game has none of the anchors: the install is blocked, and
  // the wizard asks whether to make the other changes anyway.
  platform.answers = {kIdYes, kIdYes, kIdOk};
  platform.click(wizard, ControlId::NextButton);
  ASSERT_EQ(platform.boxes.size(), 3u);
  EXPECT_EQ(
      platform.boxes[1],
      (ShownBox{"22 of the 22 changes cannot be made in this version of DCS World, so the Undo "
                "feature may not work.\n\nMake the other changes anyway?",
                kTitle, 0x134}));
  const bool succeeded = platform.logText().find("COMPLETED SUCCESSFULLY\r\n") != std::string::npos;
  EXPECT_EQ(platform.boxes[2],
            (ShownBox{succeeded ? "Completed successfully. See the log for details."
                                : "Completed WITH ERRORS. See the log for details.",
                      kTitle, succeeded ? 0x40u : 0x10u}));
  const std::string_view* carried = findEmbeddedText("me_qorvex_undo.lua");
  ASSERT_NE(carried, nullptr);
  ASSERT_TRUE(stdfs::exists(module));
  EXPECT_EQ(snapshot(module.parent_path())["me_qorvex_undo.lua"], std::string(*carried));

  FakePlatform second;
  Wizard again(second, *fs, kSeparator, runner);
  again.create();
  second.click(again, ControlId::AcceptRadio);
  second.click(again, ControlId::NextButton);
  second.type(again, *utf8ToUtf16(dir));
  second.click(again, ControlId::UninstallRadio);
  second.answers = {kIdYes, kIdOk};
  second.click(again, ControlId::NextButton);
  EXPECT_FALSE(stdfs::exists(module));
  EXPECT_NE(
      second.logText().find("\r\nGame install directory: " + dir + "\r\nAction: UNINSTALL\r\n\r\n"),
      std::string::npos);
}

TEST_F(WizardEngineTest, AWrongFolderIsToldPrecisely) {
  writeFile(root / "NotAGame" / "MissionEditor", "a file");
  writeFile(root / "Eagle Dynamics" / "DCS World" / "MissionEditor" / "MissionEditor.lua", "");
  writeFile(root / "Empty" / "readme.txt", "");
  const std::string gameDir = (root / "Eagle Dynamics" / "DCS World").string();
  const std::string prefix =
      "The selected directory does not look like a valid game install: "
      "MissionEditorFolderNotFound\n\n";
  struct Case {
    std::string field;
    std::string hint;
  };
  const Case cases[] = {
      {(root / "NotAGame").string(),
       "No MissionEditor folder is in " + (root / "NotAGame").string() +
           "; choose the game's root folder, the one that holds MissionEditor."},
      {(root / "Nowhere").string(),
       "The folder " + (root / "Nowhere").string() + " does not exist."},
      {(root / "Empty" / "readme.txt").string(),
       (root / "Empty" / "readme.txt").string() + " is a file, not a folder."},
      {gameDir + "/MissionEditor",
       "This is the game's MissionEditor folder; choose the folder that holds it: " + gameDir},
      {(root / "Eagle Dynamics").string(),
       "This folder holds a game install; choose that one: " + gameDir},
  };
  startOnActionPage("");
  platform.click(wizard, ControlId::InstallRadio);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    platform.type(wizard, *utf8ToUtf16(c.field));
    platform.boxes.clear();
    platform.answers = {kIdOk};
    platform.click(wizard, ControlId::NextButton);
    EXPECT_EQ(platform.boxes,
              (std::vector<ShownBox>{{prefix + c.field + "\n\n" + c.hint, kTitle, 0x10}}));
    EXPECT_EQ(platform.logText(), "");
  }
}

TEST_F(WizardEngineTest, ProgramFolderWithMissionEditorIsTheDefault) {
  platform.program = *utf8ToUtf16((game / "TindrelleUndoSetup.exe").string());
  wizard.create();
  EXPECT_EQ(utf8(platform.control(ControlId::DirEdit).text), game.string());
}

TEST_F(WizardEngineTest, ProgramFolderWithMissionEditorFileIsNotTheDefault) {
  const stdfs::path fake = root / "NotAGame";
  writeFile(fake / "MissionEditor", "a file");
  platform.program = *utf8ToUtf16((fake / "TindrelleUndoSetup.exe").string());
  wizard.create();
  EXPECT_EQ(utf8(platform.control(ControlId::DirEdit).text), "");
}

}  // namespace
}  // namespace qorvex::wizard::testing
