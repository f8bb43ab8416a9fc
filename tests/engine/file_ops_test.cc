#include "file_ops.h"

#include <gtest/gtest.h>

#include <string>

#include "memory_file_system.h"
#include "run_context.h"

namespace qorvex {
namespace {

using testing::Fault;
using testing::MemoryFileSystem;
using testing::Op;

struct Harness {
  MemoryFileSystem fs;
  std::unique_ptr<Directory> dir;
  PatchManifest manifest;
  EmbeddedPayload payload;
  StringLogSink sink;
  RunLog log{&sink};
  std::unique_ptr<RunContext> run;

  Harness() {
    fs.addFile("MissionEditor\\modules\\me_toolbar.lua", "stock");
    dir = std::move(*fs.openDirectory("/game"));
    run.reset(new RunContext{fs, *dir, manifest, payload, log, {}, false, false});
  }
  std::size_t fileCount() const { return fs.files.size(); }
};

TEST(BackupStamp, CalendarAndClock) {
  EXPECT_EQ(formatBackupStamp(1738367999), "20250131_235959");
  EXPECT_EQ(formatBackupStamp(0), "19700101_000000");
  EXPECT_EQ(formatBackupStamp(951782400), "20000229_000000");  // a leap century
  EXPECT_EQ(formatBackupStamp(4107542399), "21000228_235959");  // 2100 is no leap year
  EXPECT_EQ(formatBackupStamp(4107542400), "21000301_000000");
  EXPECT_EQ(backupPathFor("a\\b.lua", "20250131_235959", 1), "a\\b.lua.qorvex-backup_20250131_235959.bak");
  EXPECT_EQ(backupPathFor("a\\b.lua", "20250131_235959", 3), "a\\b.lua.qorvex-backup_20250131_235959_3.bak");
}

TEST(Backup, NamedByStampAndNeverReplacingAnEarlierOne) {
  Harness h;
  const std::string path = "MissionEditor\\modules\\me_toolbar.lua";
  ASSERT_TRUE(createBackup(*h.run, path));
  h.fs.files[path] = "changed";
  ASSERT_TRUE(createBackup(*h.run, path));
  EXPECT_EQ(h.fs.files[path + ".qorvex-backup_20250131_235959.bak"], "stock");
  EXPECT_EQ(h.fs.files[path + ".qorvex-backup_20250131_235959_2.bak"], "changed");
  EXPECT_EQ(h.fileCount(), 3u);  // no temporary file left
  EXPECT_EQ(h.run->summary.backupsCreated, 2u);
  EXPECT_EQ(h.sink.text(),
            "        backup -> me_toolbar.lua.qorvex-backup_20250131_235959.bak\r\n"
            "        backup -> me_toolbar.lua.qorvex-backup_20250131_235959_2.bak\r\n");
}

TEST(Backup, AFailureAtAnyStepLeavesNoBackupAndNoTemporaryFile) {
  for (Op op : {Op::Read, Op::Create, Op::Write, Op::Commit, Op::RenameNoReplace}) {
    Harness h;
    h.fs.faults.push_back(Fault{op, 1, Error::AccessDenied, 3});
    auto result = createBackup(*h.run, "MissionEditor\\modules\\me_toolbar.lua");
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), Error::AccessDenied);
    EXPECT_EQ(h.fileCount(), 1u) << "op " << static_cast<int>(op);
    EXPECT_EQ(h.run->summary.backupsCreated, 0u);
    EXPECT_EQ(h.sink.text(), "");
  }
}

TEST(WriteWholeFile, ReplacesThroughATemporaryFile) {
  Harness h;
  const std::string path = "MissionEditor\\modules\\me_toolbar.lua";
  ASSERT_TRUE(writeWholeFile(h.fs, *h.dir, path, "new"));
  EXPECT_EQ(h.fs.files[path], "new");
  EXPECT_EQ(h.fileCount(), 1u);
  ASSERT_EQ(h.fs.journal.size(), 2u);
  EXPECT_EQ(h.fs.journal[1].substr(0, 7), "rename ");
  EXPECT_EQ(h.fs.journal[1].substr(h.fs.journal[1].size() - path.size()), path);
}

TEST(WriteWholeFile, AFailedWriteKeepsTheOldContentAndNoTemporaryFile) {
  for (Op op : {Op::Create, Op::Write, Op::Commit, Op::RenameReplace}) {
    Harness h;
    // A full disk stores part of the data, then fails.
    h.fs.faults.push_back(Fault{op, 1, Error::Unexpected, 2});
    const std::string path = "MissionEditor\\modules\\me_toolbar.lua";
    auto result = writeWholeFile(h.fs, *h.dir, path, "new content");
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), Error::Unexpected);
    EXPECT_EQ(h.fs.files[path], "stock");
    EXPECT_EQ(h.fileCount(), 1u);
  }
}

TEST(WriteWholeFile, WritesInPlaceWhenTheFileIsHeldOpen) {
  Harness h;
  const std::string path = "MissionEditor\\modules\\me_toolbar.lua";
  h.fs.busy.insert(path);
  ASSERT_TRUE(writeWholeFile(h.fs, *h.dir, path, "new"));
  EXPECT_EQ(h.fs.files[path], "new");
  EXPECT_EQ(h.fileCount(), 1u);
}

TEST(FilePaths, NothingOutsideTheInstallDirectory) {
  Harness h;
  for (std::string bad : {"..\\x.lua", "MissionEditor\\..\\..\\x", "\\x", "/x", "C:\\x", "C:x", ""}) {
    auto read = readWholeFile(*h.dir, bad);
    ASSERT_FALSE(read) << bad;
    EXPECT_EQ(read.error(), Error::BadPathName) << bad;
    auto written = writeWholeFile(h.fs, *h.dir, bad, "x");
    ASSERT_FALSE(written) << bad;
    EXPECT_EQ(written.error(), Error::BadPathName) << bad;
  }
  EXPECT_EQ(h.fileCount(), 1u);
  auto ok = toNativeRelativePath("MissionEditor\\.\\modules//x.lua", '/');
  ASSERT_TRUE(ok);
  EXPECT_EQ(*ok, "MissionEditor/modules/x.lua");
}

TEST(ReadWholeFile, SizeLimit) {
  Harness h;
  h.fs.addFile("big", std::string(kMaxFileSize, 'x'));
  EXPECT_TRUE(readWholeFile(*h.dir, "big"));
  h.fs.files["big"].push_back('x');
  auto tooLong = readWholeFile(*h.dir, "big");
  ASSERT_FALSE(tooLong);
  EXPECT_EQ(tooLong.error(), Error::StreamTooLong);
  h.fs.addFile("empty", "");
  EXPECT_EQ(readWholeFile(*h.dir, "empty").value(), "");
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
