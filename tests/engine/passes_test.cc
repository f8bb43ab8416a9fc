#include <gtest/gtest.h>

#include <string>

#include "memory_file_system.h"
#include "patch_block.h"
#include "run.h"
#include "run_fixture.h"

namespace qorvex {
namespace {

using testing::Fault;
using testing::Fixture;
using testing::kDlg;
using testing::kLua;
using testing::MemoryFileSystem;
using testing::Op;

TEST(Passes, InstallCheckUninstallRoundTrip) {
  Fixture f;
  RunResult check = f.go(false, true);
  EXPECT_FALSE(check.fatal);
  EXPECT_FALSE(check.success);
  EXPECT_TRUE(f.fs.wroteNothing());
  EXPECT_EQ(
      f.sink.text(),
      "[CREATE] modules/me_qorvex_undo.lua\r\n"
      "[PATCH] ME\\modules\\a.lua - applying 2 patch(es).\r\n"
      "[PATCH] ME\\modules\\d.dlg - inserting QORVEX panel block.\r\n"
      "COMPLETED WITH ERRORS\r\n"
      "  3 files patched.\r\n"
      "  0 files skipped (already up to date).\r\n"
      "  0 backups created.\r\n"
      "  Errors:\r\n"
      "    - ME\\modules\\missing.lua: file not found, skipped (1 patch(es) not applied)\r\n");

  RunResult install = f.go(false, false);
  EXPECT_FALSE(install.fatal);
  EXPECT_EQ(
      f.sink.text(),
      "[CREATE] modules/me_qorvex_undo.lua\r\n"
      "[PATCH] ME\\modules\\a.lua - applying 2 patch(es).\r\n"
      "        backup -> a.lua.qorvex-backup_20250131_235959.bak\r\n"
      "[PATCH] ME\\modules\\d.dlg - inserting QORVEX panel block.\r\n"
      "        backup -> d.dlg.qorvex-backup_20250131_235959.bak\r\n"
      "COMPLETED WITH ERRORS\r\n"
      "  3 files patched.\r\n"
      "  0 files skipped (already up to date).\r\n"
      "  2 backups created.\r\n"
      "  Errors:\r\n"
      "    - ME\\modules\\missing.lua: file not found, skipped (1 patch(es) not applied)\r\n");
  EXPECT_EQ(f.fs.files["ME\\modules\\a.lua"],
            "local x = 1\r\n-- QORVEX_PATCH_BEGIN[QORVEX_PATCH:ONE]\r\n\r\nlocal y = 2\r\n"
            "-- QORVEX_PATCH_END[QORVEX_PATCH:ONE]\r\n\r\nfunction f()\r\n\tinit()\r\n"
            "-- QORVEX_PATCH_BEGIN[QORVEX_PATCH:INIT_CALL]\r\nqorvex.init()\r\n"
            "-- QORVEX_PATCH_END[QORVEX_PATCH:INIT_CALL]\r\n\r\nend\r\n");
  EXPECT_EQ(f.fs.files["ME\\modules\\d.dlg"],
            "dialog = {\n\r\n-- QORVEX_PATCH_BEGIN[DLG_BLOCK:panel]\r\n\t[\"pQ\"] = {\r\n\t},\r\n"
            "-- QORVEX_PATCH_END[DLG_BLOCK:panel]\r\n\t[\"pMap\"] = {\n\t},\n}\n");
  EXPECT_EQ(f.fs.files["MissionEditor\\modules\\me_qorvex_undo.lua"], f.payload.module);

  f.go(false, false);
  EXPECT_EQ(
      f.sink.text(),
      "[SKIP] modules/me_qorvex_undo.lua is already up to date.\r\n"
      "[SKIP] ME\\modules\\a.lua - all 2 patch(es) already applied.\r\n"
      "[SKIP] ME\\modules\\d.dlg - QORVEX panel block already present.\r\n"
      "COMPLETED WITH ERRORS\r\n"
      "  0 files patched.\r\n"
      "  3 files skipped (already up to date).\r\n"
      "  0 backups created.\r\n"
      "  Errors:\r\n"
      "    - ME\\modules\\missing.lua: file not found, skipped (1 patch(es) not applied)\r\n");

  f.fs.clock.now += 1;
  RunResult uninstall = f.go(true, false);
  EXPECT_TRUE(uninstall.success);
  EXPECT_EQ(f.sink.text(),
            "[UNINSTALL] ME\\modules\\a.lua - removing 2 patch block(s).\r\n"
            "        backup -> a.lua.qorvex-backup_20250201_000000.bak\r\n"
            "[UNINSTALL] ME\\modules\\d.dlg - removing QORVEX panel block.\r\n"
            "        backup -> d.dlg.qorvex-backup_20250201_000000.bak\r\n"
            "[UNINSTALL] modules/me_qorvex_undo.lua - removing file.\r\n"
            "        backup -> me_qorvex_undo.lua.qorvex-backup_20250201_000000.bak\r\n"
            "COMPLETED SUCCESSFULLY\r\n"
            "  3 files patched.\r\n"
            "  0 files skipped (already up to date).\r\n"
            "  3 backups created.\r\n");
  EXPECT_EQ(f.fs.files["ME\\modules\\a.lua"], kLua);
  EXPECT_EQ(f.fs.files["ME\\modules\\d.dlg"], kDlg);
  EXPECT_EQ(f.fs.files.count("MissionEditor\\modules\\me_qorvex_undo.lua"), 0u);

  f.go(true, false);
  EXPECT_EQ(f.sink.text(),
            "COMPLETED SUCCESSFULLY\r\n"
            "  0 files patched.\r\n"
            "  3 files skipped (already up to date).\r\n"
            "  0 backups created.\r\n");
}

TEST(Passes, StaleInitCallInTheModuleLoopMovesToItsAnchor) {
  Fixture f;
  const std::string loop = "for k,modul in base.pairs(managerModulesME.modulesME) do";
  const std::string stale = "local x = 1\n" + loop + "\n\t" +
                            buildPatchBlock("QORVEX_PATCH:INIT_CALL", "qorvex.init()") +
                            "\tmodul.create()\nend\ninit()\n";
  f.fs.files["ME\\modules\\a.lua"] = stale;
  f.go(false, true);
  EXPECT_EQ(f.sink.text().substr(0, 200),
            std::string("[CREATE] modules/me_qorvex_undo.lua\r\n"
                        "[MIGRATE] ME\\modules\\a.lua [toolbar_init_call] - removing stale in-loop "
                        "qorvex.init() call for reinsertion at the fixed location.\r\n"
                        "[PATCH] ME\\modules\\a.lua - applying 2 patch(es).\r\n")
                .substr(0, 200));
  f.go(false, false);
  const std::string& patched = f.fs.files["ME\\modules\\a.lua"];
  // The loop gets back the text it had before the block went into it.
  EXPECT_NE(patched.find(loop + "\n\t\tmodul.create()"), std::string::npos);
  EXPECT_EQ(patched.find("QORVEX_PATCH_BEGIN[QORVEX_PATCH:INIT_CALL]"),
            patched.rfind("QORVEX_PATCH_BEGIN[QORVEX_PATCH:INIT_CALL]"));
  EXPECT_NE(patched.find("init()\r\n-- QORVEX_PATCH_BEGIN[QORVEX_PATCH:INIT_CALL]"),
            std::string::npos);

  // Anything but whitespace between the loop header and the block: left alone.
  Fixture g;
  g.fs.files["ME\\modules\\a.lua"] = "local x = 1\n" + loop + "\nfoo()\n" +
                                     buildPatchBlock("QORVEX_PATCH:INIT_CALL", "qorvex.init()") +
                                     "end\ninit()\n";
  g.go(false, true);
  EXPECT_EQ(g.sink.text().find("[MIGRATE]"), std::string::npos);
  EXPECT_NE(g.sink.text().find(
                "[PATCH] ME\\modules\\a.lua - applying 1 patch(es), 1 already applied.\r\n"),
            std::string::npos);
}

TEST(Passes, ModuleDeploymentComparesWithoutCr) {
  Fixture f;
  f.fs.addFile("MissionEditor\\modules\\me_qorvex_undo.lua", "local m = {}\r\nreturn m\r\n");
  f.go(false, false);
  EXPECT_EQ(f.sink.text().substr(0, 58),
            "[SKIP] modules/me_qorvex_undo.lua is already up to date.\r\n");
  EXPECT_EQ(f.fs.files["MissionEditor\\modules\\me_qorvex_undo.lua"],
            "local m = {}\r\nreturn m\r\n");

  Fixture g;
  g.fs.addFile("MissionEditor\\modules\\me_qorvex_undo.lua", "local m = {}\nreturn n\n");
  g.payload.module = "local m = {\nreturn m\n";  // unbalanced: written, then reported
  RunResult result = g.go(false, false);
  EXPECT_FALSE(result.success);
  EXPECT_EQ(
      g.sink.text().substr(0, 100),
      std::string("[UPDATE] modules/me_qorvex_undo.lua\r\n"
                  "        backup -> me_qorvex_undo.lua.qorvex-backup_20250131_235959.bak\r\n")
          .substr(0, 100));
  EXPECT_NE(
      g.sink.text().find("    - modules/me_qorvex_undo.lua: post-write balance check failed -> "
                         "Unbalanced braces: net count 1\r\n"),
      std::string::npos);
  EXPECT_EQ(g.fs.files["MissionEditor\\modules\\me_qorvex_undo.lua"], g.payload.module);
}

TEST(Passes, AFailedWriteIsFatalWithoutSummary) {
  // The second rename is a.lua's: its new content never takes the name, and
  // the dialog after it is given up with it.
  Fixture f;
  f.fs.faults.push_back(Fault{Op::RenameReplace, 2, Error::AccessDenied});
  RunResult result = f.go(false, false);
  EXPECT_TRUE(result.fatal);
  EXPECT_EQ(result.error, Error::AccessDenied);
  EXPECT_EQ(result.failedPath, "ME\\modules\\a.lua");
  EXPECT_EQ(f.sink.text(),
            "[CREATE] modules/me_qorvex_undo.lua\r\n"
            "[PATCH] ME\\modules\\a.lua - applying 2 patch(es).\r\n"
            "        backup -> a.lua.qorvex-backup_20250131_235959.bak\r\n"
            "[PATCH] ME\\modules\\d.dlg - inserting QORVEX panel block.\r\n"
            "        backup -> d.dlg.qorvex-backup_20250131_235959.bak\r\n");
  EXPECT_EQ(f.fs.files["MissionEditor\\modules\\me_qorvex_undo.lua"], f.payload.module);
  EXPECT_EQ(f.fs.files["ME\\modules\\a.lua"], kLua);
  EXPECT_EQ(f.fs.files["ME\\modules\\d.dlg"], kDlg);
  // Their backups hold the same bytes, each as a file of its own.
  EXPECT_EQ(f.fs.files["ME\\modules\\a.lua.qorvex-backup_20250131_235959.bak"], kLua);
  EXPECT_FALSE(
      f.fs.sameFile("ME\\modules\\a.lua.qorvex-backup_20250131_235959.bak", "ME\\modules\\a.lua"));
  EXPECT_FALSE(
      f.fs.sameFile("ME\\modules\\d.dlg.qorvex-backup_20250131_235959.bak", "ME\\modules\\d.dlg"));
  // The rerun finishes the job.
  f.fs.faults.clear();
  f.fs.clock.now += 1;
  RunResult again = f.go(false, false);
  EXPECT_FALSE(again.fatal);
  EXPECT_NE(f.fs.files["ME\\modules\\a.lua"], kLua);
}

TEST(Passes, DialogCases) {
  // The block without markers is recognised; a resource that is not carried
  // only matters when the block is needed.
  Fixture f;
  f.fs.files["ME\\modules\\d.dlg"] =
      "dialog = {\r\n\t[\"pQ\"] = {\r\n\t},\r\n\t[\"pMap\"] = {\n\t},\n}\n";
  f.go(false, true);
  EXPECT_NE(f.sink.text().find(
                "[SKIP] ME\\modules\\d.dlg - QORVEX panel block already present (unmarked).\r\n"),
            std::string::npos);

  Fixture g;
  g.payload.resources.clear();
  RunResult missing = g.go(false, true);
  EXPECT_TRUE(missing.fatal);
  EXPECT_EQ(missing.error, Error::EmbeddedResourceNotFound);
  g.fs.files["ME\\modules\\d.dlg"] = buildPatchBlock("DLG_BLOCK:panel", "x") + kDlg;
  EXPECT_FALSE(g.go(false, true).fatal);

  Fixture h;
  h.fs.files["ME\\modules\\d.dlg"] = kDlg + kDlg;
  h.go(false, true);
  EXPECT_NE(h.sink.text().find("    - ME\\modules\\d.dlg: anchor matched 2 times (ambiguous) - "
                               "skipped. Manual review required.\r\n"),
            std::string::npos);

  // Uninstall refuses to write a dialog that its removal would unbalance.
  Fixture u;
  u.fs.files["ME\\modules\\d.dlg"] = "x = { " + buildPatchBlock("DLG_BLOCK:panel", "}") + "\n";
  RunResult result = u.go(true, false);
  EXPECT_FALSE(result.success);
  EXPECT_NE(u.sink.text().find("    - ME\\modules\\d.dlg: post-uninstall balance check failed -> "
                               "Unbalanced braces: net count 1. File was NOT written.\r\n"),
            std::string::npos);
  EXPECT_EQ(u.fs.files["ME\\modules\\d.dlg"],
            "x = { " + buildPatchBlock("DLG_BLOCK:panel", "}") + "\n");
}

TEST(Passes, AnchorProblemsAndUnbalancedResults) {
  Fixture f;
  f.fs.files["ME\\modules\\a.lua"] = "local x = 1\nlocal x = 1\ninit()\n";
  f.go(false, false);
  EXPECT_NE(f.sink.text().find(
                "    - ME\\modules\\a.lua [a_one]: anchor matched 2 times (ambiguous) - skipped "
                "to avoid corrupting the file. Manual review required.\r\n"),
            std::string::npos);
  EXPECT_NE(f.sink.text().find("[PATCH] ME\\modules\\a.lua - applying 1 patch(es).\r\n"),
            std::string::npos);

  Fixture g;
  g.fs.files["ME\\modules\\a.lua"] = "nothing here\n";
  g.go(false, false);
  EXPECT_NE(g.sink.text().find("[SKIP] ME\\modules\\a.lua - all 0 patch(es) already applied.\r\n"),
            std::string::npos);
  EXPECT_NE(g.sink.text().find(
                "    - ME\\modules\\a.lua [toolbar_init_call]: anchor not found - DCS update may "
                "have changed this file's structure. Manual review required.\r\n"),
            std::string::npos);

  Fixture u;
  u.fs.files["ME\\modules\\a.lua"] = "local x = 1\n(\ninit()\n";
  u.go(false, false);
  EXPECT_NE(
      u.sink.text().find("    - ME\\modules\\a.lua: post-patch balance check failed -> Unbalanced "
                         "parentheses: net count 1. File was NOT written.\r\n"),
      std::string::npos);
  EXPECT_EQ(u.fs.files["ME\\modules\\a.lua"], "local x = 1\n(\ninit()\n");
}

TEST(Run, LoadAndOpenFailures) {
  Fixture f;
  f.payload.manifest = R"({"version": "1", "description": "d", "files": []})";
  RunResult result = f.go(false, false);
  EXPECT_FALSE(result.fatal);
  EXPECT_FALSE(result.success);
  EXPECT_EQ(f.sink.text(), "ERROR: Failed to load embedded patch manifest -> MissingField\r\n");

  Fixture g;
  g.sink.clear();
  RunResult notOpened =
      run(RunRequest{"/elsewhere", false, false}, g.fs, g.payload, g.log, g.fs.clock, g.fs.clock);
  EXPECT_FALSE(notOpened.success);
  EXPECT_EQ(g.sink.text(),
            "ERROR: Could not open game install directory '/elsewhere' -> FileNotFound\r\n");
  g.sink.clear();
  run(RunRequest{"relative", false, false}, g.fs, g.payload, g.log, g.fs.clock, g.fs.clock);
  EXPECT_EQ(g.sink.text(),
            "ERROR: Could not open game install directory 'relative' -> BadPathName\r\n");
}

// A manifest with one path that could leave the install, or that the platform
// cannot hold, is refused when it is loaded: nothing at all is written, not
// even the files that come before it.
TEST(Run, ManifestPathsAreCheckedBeforeAnythingIsWritten) {
  for (std::string bad : {std::string("..\\\\outside.lua"), std::string("C:outside.lua"),
                          std::string("ME\\\\modules\\\\a.lua\\u0000.bak")}) {
    for (bool inDialogs : {false, true}) {
      Fixture f;
      const std::string entry = "{\"relativePath\": \"" + bad + "\", ";
      f.payload.manifest =
          std::string(R"({"version": "1", "description": "d", "files": [)") +
          R"({"relativePath": "ME\\modules\\a.lua", "patches": []})" +
          (inDialogs ? "" : ", " + entry + R"("patches": []})") + R"(], "dlgFiles": [)" +
          (inDialogs ? entry + R"("insertBlockResource": "p.txt", "anchorBefore": "x"})" : "") +
          "]}";
      RunResult result = f.go(false, false);
      EXPECT_FALSE(result.fatal) << bad;
      EXPECT_FALSE(result.success) << bad;
      EXPECT_EQ(f.sink.text(), "ERROR: Failed to load embedded patch manifest -> BadPathName\r\n")
          << bad;
      EXPECT_TRUE(f.fs.wroteNothing()) << bad;
    }
  }
}

TEST(Run, OneRunAtATime) {
  // A second run waits a few seconds for the first, then stops having
  // changed nothing.
  Fixture f;
  f.fs.lockedElsewhere = true;
  RunResult result = f.go(false, false);
  EXPECT_TRUE(result.fatal);
  EXPECT_EQ(result.error, Error::InstallBusy);
  EXPECT_EQ(f.sink.text(), "");
  EXPECT_GE(f.fs.clock.sleptMilliseconds, 4000u);
  EXPECT_LE(f.fs.clock.sleptMilliseconds, 6000u);
  EXPECT_TRUE(f.fs.wroteNothing());
  // CHECK only reads: it shares the lock, so it waits for a writer but not
  // for another CHECK.
  Fixture g;
  g.go(false, true);
  EXPECT_EQ(g.fs.journal.front(), "lock shared");
  EXPECT_TRUE(g.fs.wroteNothing());
  Fixture h;
  h.go(false, false);
  EXPECT_EQ(h.fs.journal.front(), "lock exclusive");
}

TEST(Run, TemporaryFilesOfAKilledRunAreRemovedByTheNextRunThatWrites) {
  Fixture f;
  const std::string stale = "ME\\modules\\.a.lua.qorvex-tmp-AAAAAAAAAAAAAAAA";
  const std::string foreign = "ME\\modules\\.other.lua.qorvex-tmp-AAAAAAAAAAAAAAAA";
  f.fs.addFile(stale, "half");
  f.fs.addFile(foreign, "not ours to judge");
  f.go(false, true);
  EXPECT_TRUE(f.fs.files.count(stale));  // CHECK writes nothing
  RunResult result = f.go(false, false);
  EXPECT_FALSE(result.fatal);
  EXPECT_FALSE(f.fs.files.count(stale));
  EXPECT_TRUE(f.fs.files.count(foreign));
  for (const auto& [path, content] : f.fs.files) {
    EXPECT_EQ(path.find(".qorvex-tmp-"),
              path == foreign ? path.find(".qorvex-tmp-") : std::string::npos)
        << path;
  }
}

TEST(Run, AFileThatCannotBeReadStopsTheRunBeforeAnythingChanges) {
  Fixture f;
  f.fs.faults.push_back(Fault{Op::Read, 2, Error::InputOutput});  // the module, then a.lua
  RunResult result = f.go(false, false);
  EXPECT_TRUE(result.fatal);
  EXPECT_EQ(result.error, Error::InputOutput);
  EXPECT_EQ(result.failedPath, "ME\\modules\\a.lua");
  ASSERT_EQ(result.problems.size(), 1u);
  EXPECT_EQ(result.problems[0].path, "ME\\modules\\a.lua");
  EXPECT_TRUE(f.fs.wroteNothing());
  EXPECT_EQ(f.sink.text(), "");

  // UNINSTALL stops at a module lookup that fails for any reason but absence.
  Fixture u;
  u.fs.addFile("MissionEditor\\modules\\me_qorvex_undo.lua", "m");
  u.fs.faults.push_back(Fault{Op::KindOf, 1, Error::AccessDenied});
  RunResult uninstall = u.go(true, false);
  EXPECT_TRUE(uninstall.fatal);
  EXPECT_EQ(uninstall.error, Error::AccessDenied);
  EXPECT_EQ(uninstall.failedPath, "MissionEditor\\modules\\me_qorvex_undo.lua");
}

}  // namespace
}  // namespace qorvex
