#include "backup_catalog.h"

#include <gtest/gtest.h>

#include <string>

#include "file_ops.h"
#include "manifest.h"
#include "run_fixture.h"
#include "temporary_file.h"

namespace qorvex {
namespace {

using testing::Fault;
using testing::MemoryFileSystem;
using testing::Op;
using testing::StringPayload;

const std::string kFolder = "ME\\modules\\";
const std::string kModule = "MissionEditor\\modules\\me_qorvex_undo.lua";

std::string parsed(std::string_view entry, std::string_view fileName) {
  auto name = parseBackupName(entry, fileName);
  if (!name) return "foreign";
  return name->stamp + " #" + std::to_string(name->number);
}

TEST(BackupNames, OnlyNamesARunCouldHaveWrittenAreBackups) {
  struct Case {
    const char* entry;
    const char* expected;
  };
  const Case cases[] = {
      {"a.lua.qorvex-backup_20250131_235959.bak", "20250131_235959 #1"},
      {"a.lua.qorvex-backup_20250131_235959_2.bak", "20250131_235959 #2"},
      {"a.lua.qorvex-backup_20250131_235959_9999.bak", "20250131_235959 #9999"},
      {"a.lua.qorvex-backup_19700101_000000.bak", "19700101_000000 #1"},
      {"a.lua.qorvex-backup_20240229_120000.bak", "20240229_120000 #1"},  // a leap year
      {"a.lua.qorvex-backup_20000229_120000.bak", "20000229_120000 #1"},  // a leap century
      // Numbers the engine never writes.
      {"a.lua.qorvex-backup_20250131_235959_1.bak", "foreign"},
      {"a.lua.qorvex-backup_20250131_235959_0.bak", "foreign"},
      {"a.lua.qorvex-backup_20250131_235959_02.bak", "foreign"},
      {"a.lua.qorvex-backup_20250131_235959_10000.bak", "foreign"},
      {"a.lua.qorvex-backup_20250131_235959_-2.bak", "foreign"},
      {"a.lua.qorvex-backup_20250131_235959_.bak", "foreign"},
      {"a.lua.qorvex-backup_20250131_235959_2_3.bak", "foreign"},
      {"a.lua.qorvex-backup_20250131_235959x2.bak", "foreign"},
      // Dates and times that never were.
      {"a.lua.qorvex-backup_20250229_120000.bak", "foreign"},
      {"a.lua.qorvex-backup_21000229_120000.bak", "foreign"},
      {"a.lua.qorvex-backup_20250431_120000.bak", "foreign"},
      {"a.lua.qorvex-backup_20251301_120000.bak", "foreign"},
      {"a.lua.qorvex-backup_20250001_120000.bak", "foreign"},
      {"a.lua.qorvex-backup_20250100_120000.bak", "foreign"},
      {"a.lua.qorvex-backup_20250131_240000.bak", "foreign"},
      {"a.lua.qorvex-backup_20250131_236000.bak", "foreign"},
      {"a.lua.qorvex-backup_20250131_235960.bak", "foreign"},
      // Near misses of the shape.
      {"a.lua.qorvex-backup_2025013_235959.bak", "foreign"},
      {"a.lua.qorvex-backup_20250131-235959.bak", "foreign"},
      {"a.lua.qorvex-backup_2025O131_235959.bak", "foreign"},
      {"a.lua.qorvex-backup_20250131_235959.BAK", "foreign"},
      {"a.lua.qorvex-backup_20250131_235959", "foreign"},
      {"a.lua.qorvex-backup_20250131_235959.bak.tmp", "foreign"},
      {"a.lua.qorvex-backup_20250131_235959 .bak", "foreign"},
      {"a.lua.QORVEX-BACKUP_20250131_235959.bak", "foreign"},
      {"a.lua.qorvex-backup-20250131_235959.bak", "foreign"},
      {".a.lua.qorvex-tmp-AAAAAAAAAAAAAAAA", "foreign"},
      // Backups of other files.
      {"b.lua.qorvex-backup_20250131_235959.bak", "foreign"},
      {"xa.lua.qorvex-backup_20250131_235959.bak", "foreign"},
      {"a.lua2.qorvex-backup_20250131_235959.bak", "foreign"},
      {"a.qorvex-backup_20250131_235959.bak", "foreign"},
      {"a.lua.qorvex-backup_20250131_235959.bak.qorvex-backup_20250131_235959.bak", "foreign"},
      {"a.lua", "foreign"},
      {"", "foreign"},
  };
  for (const Case& c : cases) EXPECT_EQ(parsed(c.entry, "a.lua"), c.expected) << c.entry;
}

TEST(BackupNames, EveryNameTheEngineWritesIsRecognisedWithItsStampAndNumber) {
  for (std::int64_t seconds : {std::int64_t{0}, std::int64_t{951782400}, std::int64_t{1738367999},
                               std::int64_t{4107542399}, std::int64_t{253402300799}}) {
    for (unsigned n : {1u, 2u, 10u, kMaxBackupNumber}) {
      const std::string stamp = formatBackupStamp(seconds);
      const std::string path = backupPathFor("ME\\me_toolbar.lua", stamp, n);
      EXPECT_EQ(parsed(path.substr(3), "me_toolbar.lua"), stamp + " #" + std::to_string(n)) << path;
    }
  }
  EXPECT_EQ(stampTime("20250131_235959"), "2025-01-31 23:59:59");
  EXPECT_EQ(stampTime("19700101_000000"), "1970-01-01 00:00:00");
}

std::string describe(const std::vector<BackedUpFile>& files) {
  std::string out;
  for (const BackedUpFile& file : files) {
    out += file.path + "\n";
    for (const Backup& b : file.backups) {
      out += "  " + b.name + " " + std::to_string(b.info.size) + " bytes, " +
             std::to_string(b.info.links) + " name(s)\n";
      EXPECT_EQ(b.path, std::string(folderOf(file.path)) + b.name);
    }
  }
  return out;
}

// The manifest of run_fixture.h names ME\modules\a.lua, ME\modules\missing.lua
// and ME\modules\d.dlg; the module lies in MissionEditor\modules.
struct Install {
  MemoryFileSystem fs;
  StringPayload payload;
  Install() { payload.manifest = testing::kManifest; }
  void backup(const std::string& name, const std::string& content) {
    fs.addFile(kFolder + name, content);
  }
};

TEST(BackupCatalog, FindsEachFilesBackupsOldestFirstAndNothingForeign) {
  Install in;
  in.fs.addFile(kFolder + "a.lua", "live");
  in.backup("a.lua.qorvex-backup_20250131_235959.bak", "second");
  in.backup("a.lua.qorvex-backup_20250131_235959_10.bak", "fifth");
  in.backup("a.lua.qorvex-backup_20250131_235959_2.bak", "third");
  in.backup("a.lua.qorvex-backup_20240101_000000.bak", "first");
  in.backup("a.lua.qorvex-backup_20250201_000000.bak", "sixth");
  in.backup("a.lua.qorvex-backup_20250131_235959_3.bak", "fourth");
  // Another name of the third: still a backup, listed with its two names.
  in.fs.files[kFolder + "a.lua.qorvex-backup_20250301_000000.bak"] = "third";
  in.fs.inodeOf[kFolder + "a.lua.qorvex-backup_20250301_000000.bak"] =
      in.fs.inodeOf[kFolder + "a.lua.qorvex-backup_20250131_235959_2.bak"];
  // Foreign: near misses, other files' backups, a user's file, and a link, a
  // folder and a FIFO that carry a backup's name.
  in.backup("a.lua.qorvex-backup_20250230_000000.bak", "near miss");
  in.backup("a.lua.qorvex-backup_20250131_235959_1.bak", "near miss");
  in.backup("a.lua.qorvex-backup_20250131_235959.bak.old", "near miss");
  in.backup("b.lua.qorvex-backup_20250131_235959.bak", "other file");
  in.backup("notes.txt", "mine");
  in.fs.addFile("ME\\a.lua.qorvex-backup_20250131_235959.bak", "other folder");
  in.fs.symlinks.insert(kFolder + "a.lua.qorvex-backup_20250131_235958.bak");
  in.fs.folders.insert(kFolder + "a.lua.qorvex-backup_20250131_235957.bak");
  in.fs.fifos.insert(kFolder + "a.lua.qorvex-backup_20250131_235956.bak");
  // A file that is missing keeps its backups; so does the module.
  in.backup("missing.lua.qorvex-backup_20250131_235959.bak", "was there");
  in.fs.addFile(kModule + ".qorvex-backup_20250131_235959.bak", "module");

  BackupListing listing = listBackups("/game", in.fs, in.payload, in.fs.clock);
  ASSERT_FALSE(listing.failure);
  EXPECT_EQ(describe(listing.files),
            "ME\\modules\\a.lua\n"
            "  a.lua.qorvex-backup_20240101_000000.bak 5 bytes, 1 name(s)\n"
            "  a.lua.qorvex-backup_20250131_235959.bak 6 bytes, 1 name(s)\n"
            "  a.lua.qorvex-backup_20250131_235959_2.bak 5 bytes, 2 name(s)\n"
            "  a.lua.qorvex-backup_20250131_235959_3.bak 6 bytes, 1 name(s)\n"
            "  a.lua.qorvex-backup_20250131_235959_10.bak 5 bytes, 1 name(s)\n"
            "  a.lua.qorvex-backup_20250201_000000.bak 5 bytes, 1 name(s)\n"
            "  a.lua.qorvex-backup_20250301_000000.bak 5 bytes, 2 name(s)\n"
            "ME\\modules\\missing.lua\n"
            "  missing.lua.qorvex-backup_20250131_235959.bak 9 bytes, 1 name(s)\n"
            "ME\\modules\\d.dlg\n"
            "MissionEditor\\modules\\me_qorvex_undo.lua\n"
            "  me_qorvex_undo.lua.qorvex-backup_20250131_235959.bak 6 bytes, 1 name(s)\n");
  EXPECT_TRUE(listing.files[0].backups[2].info.sameFileAs(listing.files[0].backups[6].info));
  EXPECT_FALSE(listing.files[0].backups[0].info.sameFileAs(listing.files[0].backups[4].info));
  // Listing reads under the lock of a run that only reads.
  EXPECT_EQ(in.fs.journal.front(), "lock shared");
  EXPECT_TRUE(in.fs.wroteNothing());
}

TEST(BackupCatalog, EachFileOnceAndTheModuleLast) {
  auto manifest = parseManifest(R"({"version": "1", "description": "d", "files": [
      {"relativePath": "ME\\a.lua", "patches": []},
      {"relativePath": "ME/a.lua", "patches": []},
      {"relativePath": "MissionEditor\\modules\\me_qorvex_undo.lua", "patches": []},
      {"relativePath": "ME\\b.lua", "patches": []}],
    "dlgFiles": [{"relativePath": "ME\\d.dlg", "insertBlockResource": "p.txt", "anchorBefore": "x"}]})");
  ASSERT_TRUE(manifest);
  auto engineForm = toEngineForm(std::move(*manifest), "m");
  ASSERT_TRUE(engineForm);
  EXPECT_EQ(backedUpFiles(*engineForm),
            (std::vector<std::string>{"ME\\a.lua", "MissionEditor\\modules\\me_qorvex_undo.lua",
                                      "ME\\b.lua", "ME\\d.dlg"}));
}

TEST(BackupCatalog, WhatStopsTheListingIsNamed) {
  struct Case {
    const char* name;
    void (*arrange)(Install&);
    Error error;
    const char* path;
    bool manifest;
  };
  const Case cases[] = {
      {"a folder that cannot be listed",
       [](Install& in) {
         in.fs.faults.push_back(Fault{Op::List, 1, Error::AccessDenied});
       },
       Error::AccessDenied, "ME\\modules", false},
      {"a backup that cannot be looked at",
       [](Install& in) {
         in.fs.faults.push_back(Fault{Op::Info, 1, Error::InputOutput});
       },
       Error::InputOutput, "ME\\modules\\a.lua.qorvex-backup_20250131_235959.bak", false},
      {"another run that writes", [](Install& in) { in.fs.lockedElsewhere = true; },
       Error::InstallBusy, "", false},
      {"a manifest that does not load", [](Install& in) { in.payload.manifest = "{"; },
       Error::UnexpectedEndOfInput, "", true},
  };
  for (const Case& c : cases) {
    Install in;
    in.backup("a.lua.qorvex-backup_20250131_235959.bak", "x");
    c.arrange(in);
    BackupListing listing = listBackups("/game", in.fs, in.payload, in.fs.clock);
    ASSERT_TRUE(listing.failure) << c.name;
    EXPECT_EQ(errorName(listing.failure->error), errorName(c.error)) << c.name;
    EXPECT_EQ(listing.failure->path, c.path) << c.name;
    EXPECT_EQ(listing.failure->manifest, c.manifest) << c.name;
    EXPECT_TRUE(listing.files.empty()) << c.name;
    EXPECT_TRUE(in.fs.wroteNothing()) << c.name;
  }
  // A run that writes is waited for, as a run waits for another.
  Install busy;
  busy.fs.lockedElsewhere = true;
  (void)listBackups("/game", busy.fs, busy.payload, busy.fs.clock);
  EXPECT_GE(busy.fs.clock.sleptMilliseconds, 5000u);
  // Folders that are not there hold no backups.
  Install empty;
  empty.fs.files.clear();
  empty.fs.folders.clear();
  BackupListing none = listBackups("/game", empty.fs, empty.payload, empty.fs.clock);
  ASSERT_FALSE(none.failure);
  EXPECT_EQ(describe(none.files),
            "ME\\modules\\a.lua\nME\\modules\\missing.lua\nME\\modules\\d.dlg\n"
            "MissionEditor\\modules\\me_qorvex_undo.lua\n");
}

}  // namespace
}  // namespace qorvex
