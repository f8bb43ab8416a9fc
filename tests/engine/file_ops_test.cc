#include "file_ops.h"

#include <gtest/gtest.h>

#include <string>

#include "memory_file_system.h"
#include "run_context.h"
#include "temporary_file.h"

namespace qorvex {
namespace {

using testing::Fault;
using testing::MemoryFileSystem;
using testing::Op;

const std::string kToolbar = "MissionEditor\\modules\\me_toolbar.lua";
const std::string kFirstBackup = kToolbar + ".qorvex-backup_20250131_235959.bak";

struct Harness {
  MemoryFileSystem fs;
  std::unique_ptr<Directory> dir;
  PatchManifest manifest;
  EmbeddedPayload payload;
  StringLogSink sink;
  RunLog log{&sink};
  std::unique_ptr<RunContext> run;

  Harness() {
    fs.addFile(kToolbar, "stock");
    dir = std::move(*fs.openDirectory("/game"));
    run.reset(new RunContext{.fs = fs,
                             .installDir = *dir,
                             .clock = fs.clock,
                             .random = fs.clock,
                             .manifest = manifest,
                             .payload = payload,
                             .log = log});
  }
  std::size_t fileCount() const { return fs.files.size(); }
  // The operations that are not reads or lookups, in order.
  std::vector<std::string> writes() const {
    std::vector<std::string> result;
    for (const std::string& entry : fs.journal) {
      if (!entry.starts_with("read ") && !entry.starts_with("kind ")) result.push_back(entry);
    }
    return result;
  }
};

TEST(BackupStamp, CalendarAndClock) {
  EXPECT_EQ(formatBackupStamp(1738367999), "20250131_235959");
  EXPECT_EQ(formatBackupStamp(0), "19700101_000000");
  EXPECT_EQ(formatBackupStamp(951782400), "20000229_000000");   // a leap century
  EXPECT_EQ(formatBackupStamp(4107542399), "21000228_235959");  // 2100 is no leap year
  EXPECT_EQ(formatBackupStamp(4107542400), "21000301_000000");
  EXPECT_EQ(backupPathFor("a\\b.lua", "20250131_235959", 1),
            "a\\b.lua.qorvex-backup_20250131_235959.bak");
  EXPECT_EQ(backupPathFor("a\\b.lua", "20250131_235959", 3),
            "a\\b.lua.qorvex-backup_20250131_235959_3.bak");
}

TEST(TemporaryFiles, NamedAfterTheirFileAndRecognisedOnlyByTheirExactShape) {
  EXPECT_EQ(temporaryPrefixFor(kToolbar), "MissionEditor\\modules\\.me_toolbar.lua.qorvex-tmp-");
  EXPECT_EQ(temporaryPrefixFor("top.lua"), ".top.lua.qorvex-tmp-");
  struct Case {
    const char* entry;
    bool isTemporary;
  };
  const Case cases[] = {
      {".me_toolbar.lua.qorvex-tmp-AbCd0123-_xyzXYZ", true},
      {".me_toolbar.lua.qorvex-tmp-AbCd0123-_xyzXY", false},    // 15 characters
      {".me_toolbar.lua.qorvex-tmp-AbCd0123-_xyzXYZ0", false},  // 17
      {".me_toolbar.lua.qorvex-tmp-AbCd0123-_xyz.YZ", false},   // not the alphabet
      {".me_ship.lua.qorvex-tmp-AbCd0123-_xyzXYZ", false},      // another file's
      {"me_toolbar.lua.qorvex-tmp-AbCd0123-_xyzXYZ", false},    // no leading dot
      {"me_toolbar.lua", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(isTemporaryFileOf(c.entry, "me_toolbar.lua"), c.isTemporary) << c.entry;
}

TEST(Backup, AHardLinkNamedByStampThatNeverReplacesAnEarlierOne) {
  Harness h;
  ASSERT_TRUE(createBackup(*h.run, h.log, kToolbar, kToolbar));
  EXPECT_TRUE(h.fs.sameFile(kFirstBackup, kToolbar));
  h.fs.files[kToolbar] = "changed";
  h.fs.inodeOf[kToolbar] = h.fs.newInode();
  ASSERT_TRUE(createBackup(*h.run, h.log, kToolbar, kToolbar));
  EXPECT_EQ(h.fs.files[kFirstBackup], "stock");
  EXPECT_EQ(h.fs.files[kToolbar + ".qorvex-backup_20250131_235959_2.bak"], "changed");
  EXPECT_EQ(h.fileCount(), 3u);  // no temporary file
  EXPECT_EQ(h.run->summary.backupsCreated, 2u);
  EXPECT_EQ(h.sink.text(),
            "        backup -> me_toolbar.lua.qorvex-backup_20250131_235959.bak\r\n"
            "        backup -> me_toolbar.lua.qorvex-backup_20250131_235959_2.bak\r\n");
}

TEST(Backup, WithoutLinksACopyFlushedBeforeItIsNamed) {
  Harness h;
  h.fs.linksUnsupported = true;
  auto backup = createBackup(*h.run, h.log, kToolbar, kToolbar);
  ASSERT_TRUE(backup);
  EXPECT_EQ(*backup, kFirstBackup);
  EXPECT_EQ(h.fs.files[kFirstBackup], "stock");
  EXPECT_FALSE(h.fs.sameFile(kFirstBackup, kToolbar));
  const std::vector<std::string> ops = h.writes();
  ASSERT_EQ(ops.size(), 4u);
  EXPECT_TRUE(ops[0].starts_with("link "));
  EXPECT_TRUE(ops[1].starts_with("create MissionEditor\\modules\\.me_toolbar.lua.qorvex-tmp-"));
  EXPECT_EQ(ops[2], "flush");
  EXPECT_TRUE(ops[3].starts_with("rename ")) << ops[3];
  EXPECT_TRUE(ops[3].ends_with(" -> " + kFirstBackup));
}

TEST(Backup, AFailureAtAnyStepLeavesNoBackupAndNoTemporaryFile) {
  for (Op op : {Op::Read, Op::Create, Op::Write, Op::Commit, Op::Flush, Op::RenameNoReplace}) {
    Harness h;
    h.fs.linksUnsupported = true;
    h.fs.faults.push_back(Fault{op, 1, Error::NoSpaceLeft, 3});
    auto result = createBackup(*h.run, h.log, kToolbar, kToolbar);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), Error::NoSpaceLeft);
    EXPECT_EQ(h.fileCount(), 1u) << "op " << static_cast<int>(op);
    EXPECT_EQ(h.run->summary.backupsCreated, 0u);
    EXPECT_EQ(h.sink.text(), "");
  }
}

TEST(ChangeSet, StagedThenPutInPlaceAfterAFlush) {
  Harness h;
  ASSERT_TRUE(h.run->changes.stageReplacement(kToolbar, "new"));
  EXPECT_EQ(h.fs.files[kToolbar], "stock");  // nothing visible before publishing
  ASSERT_TRUE(h.run->changes.publish());
  EXPECT_EQ(h.fs.files[kToolbar], "new");
  EXPECT_EQ(h.fileCount(), 1u);
  const std::vector<std::string> ops = h.writes();
  ASSERT_EQ(ops.size(), 4u);
  EXPECT_TRUE(ops[0].starts_with("create MissionEditor\\modules\\.me_toolbar.lua.qorvex-tmp-"));
  EXPECT_EQ(ops[1], "flush");
  EXPECT_TRUE(ops[2].starts_with("rename ") && ops[2].ends_with(" -> " + kToolbar)) << ops[2];
  EXPECT_EQ(ops[3], "flush");
}

TEST(ChangeSet, AFailedWriteKeepsTheOldContentAndNoTemporaryFile) {
  for (Op op : {Op::Create, Op::Write, Op::Commit, Op::Flush, Op::RenameReplace}) {
    Harness h;
    // A full disk stores part of the data, then fails.
    h.fs.faults.push_back(Fault{op, 1, Error::NoSpaceLeft, 2});
    Result<void> result;
    if (auto staged = h.run->changes.stageReplacement(kToolbar, "new content"); !staged) {
      result = fail(staged.error());
    } else {
      result = h.run->changes.publish();
    }
    ASSERT_FALSE(result) << static_cast<int>(op);
    EXPECT_EQ(result.error(), Error::NoSpaceLeft);
    EXPECT_EQ(h.fs.files[kToolbar], "stock");
    EXPECT_EQ(h.fileCount(), 1u);
  }
}

TEST(ChangeSet, AFileHeldOpenIsWaitedForThenLeftAlone) {
  // Taken before the replacement: the new content never takes the name, and
  // the backup of that change is a copy of its own.
  Harness g;
  ASSERT_TRUE(createBackup(*g.run, g.log, kToolbar, kToolbar));
  ASSERT_TRUE(g.run->changes.stageReplacement(kToolbar, "new"));
  g.fs.busy.insert(kToolbar);
  Result<void> published = g.run->changes.publish();
  ASSERT_FALSE(published);
  EXPECT_EQ(published.error(), Error::FileBusy);
  EXPECT_EQ(g.run->changes.failedPath(), kToolbar);
  EXPECT_GE(g.fs.clock.sleptMilliseconds, 3000u);
  EXPECT_LT(g.fs.clock.sleptMilliseconds, 3500u);
  EXPECT_EQ(g.fs.files[kToolbar], "stock");
  EXPECT_EQ(g.fs.files[kFirstBackup], "stock");
  EXPECT_FALSE(g.fs.sameFile(kFirstBackup, kToolbar));
  EXPECT_EQ(g.fileCount(), 2u);

  // Let go within the wait, as a virus scanner does: replaced.
  Harness r;
  ASSERT_TRUE(createBackup(*r.run, r.log, kToolbar, kToolbar));
  ASSERT_TRUE(r.run->changes.stageReplacement(kToolbar, "new"));
  r.fs.busy.insert(kToolbar);
  r.fs.releaseBusyAfterMilliseconds = 1000;
  ASSERT_TRUE(r.run->changes.publish());
  EXPECT_EQ(r.fs.files[kToolbar], "new");
  EXPECT_EQ(r.fs.files[kFirstBackup], "stock");
  EXPECT_FALSE(r.fs.sameFile(kFirstBackup, kToolbar));
  EXPECT_LT(r.fs.clock.sleptMilliseconds, 1500u);
  EXPECT_EQ(r.fs.flushes, 2);
}

TEST(ReadWholeFile, AFileWithAPlannedChangeReadsAsThatChangeLeavesIt) {
  Harness h;
  ASSERT_TRUE(backUpAndWrite(*h.run, kToolbar, "first"));
  EXPECT_EQ(readWholeFile(*h.run, kToolbar).value(), "first");
  EXPECT_EQ(h.fs.files[kToolbar], "stock");  // planned, not written
  ASSERT_TRUE(backUpAndDelete(*h.run, kToolbar));
  EXPECT_EQ(readWholeFile(*h.run, kToolbar), fail(Error::FileNotFound));
  EXPECT_EQ(kindOf(*h.run, kToolbar), fail(Error::FileNotFound));
  EXPECT_EQ(h.run->summary.filesPatched, 2u);
  EXPECT_TRUE(h.fs.wroteNothing());
}

TEST(FilePaths, NothingOutsideTheInstallDirectory) {
  Harness h;
  for (const std::string& bad :
       std::vector<std::string>{"..\\x.lua", "MissionEditor\\..\\..\\x", "\\x", "/x", "C:\\x",
                                "C:x", "", std::string("me_toolbar.lua\0.bak", 19)}) {
    auto read = readWholeFile(*h.run, bad);
    ASSERT_FALSE(read) << bad;
    EXPECT_EQ(read.error(), Error::BadPathName) << bad;
    auto staged = h.run->changes.stageReplacement(bad, "x");
    ASSERT_FALSE(staged) << bad;
    EXPECT_EQ(staged.error(), Error::BadPathName) << bad;
    EXPECT_EQ(checkManifestPath(bad), fail(Error::BadPathName)) << bad;
  }
  EXPECT_EQ(h.fileCount(), 1u);
  EXPECT_TRUE(checkManifestPath("MissionEditor\\.\\modules//x.lua"));
  auto ok = toNativeRelativePath("MissionEditor\\.\\modules//x.lua", '/');
  ASSERT_TRUE(ok);
  EXPECT_EQ(*ok, "MissionEditor/modules/x.lua");
}

TEST(ReadWholeFile, SizeLimit) {
  Harness h;
  h.fs.addFile("big", std::string(kMaxFileSize, 'x'));
  EXPECT_TRUE(readWholeFile(*h.run, "big"));
  h.fs.files["big"].push_back('x');
  auto tooLong = readWholeFile(*h.run, "big");
  ASSERT_FALSE(tooLong);
  EXPECT_EQ(tooLong.error(), Error::StreamTooLong);
  h.fs.addFile("empty", "");
  EXPECT_EQ(readWholeFile(*h.run, "empty").value(), "");
}

TEST(MakeFolders, CreatesMissingFoldersAndRefusesFiles) {
  Harness h;
  ASSERT_TRUE(makeFolders(*h.dir, "A\\B\\C"));
  EXPECT_TRUE(h.fs.folders.count("A\\B\\C"));
  h.fs.addFile("F", "");
  auto result = makeFolders(*h.dir, "F\\G");
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), Error::NotDir);
}

}  // namespace
}  // namespace qorvex
