#include "backup_prune.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>

#include "run_fixture.h"

namespace qorvex {
namespace {

using testing::Fault;
using testing::MemoryFileSystem;
using testing::Op;
using testing::StringPayload;

const std::string kDir = "ME\\modules\\";
const std::string kA = kDir + "a.lua";
const std::string kModule = "MissionEditor\\modules\\me_qorvex_undo.lua";

std::string backupOf(const std::string& file, const char* stamp) {
  return file + ".qorvex-backup_" + stamp + ".bak";
}

const std::string kA1 = backupOf(kA, "20250101_000000");
const std::string kA2 = backupOf(kA, "20250102_000000");
const std::string kA3 = backupOf(kA, "20250103_000000");
const std::string kA4 = backupOf(kA, "20250104_000000");
const std::string kA5 = backupOf(kA, "20250104_000000_2");

// Same length, different bytes: only a comparison of the whole content tells
// them apart.
const std::string kStock = "local x = 1\n";
const std::string kPatched = "local x = 1\n-- QORVEX\n";
const std::string kLookalike = "local x = 2\n";

struct Install {
  MemoryFileSystem fs;
  StringPayload payload;
  Install() { payload.manifest = testing::kManifest; }
  void put(const std::string& path, const std::string& content) { fs.addFile(path, content); }
  // A second name of the file `existing`.
  void link(const std::string& existing, const std::string& path) {
    fs.files[path] = fs.files.at(existing);
    fs.inodeOf[path] = fs.inodeOf.at(existing);
  }
};

// "removed {name} = {same-as name}, {freed} freed" for each backup that went,
// then "kept {name}: {error}" for each that the rule let go but that stayed.
std::string describe(const PruneReport& report) {
  auto nameOf = [](const std::string& path) { return path.substr(path.find_last_of('\\') + 1); };
  std::string out;
  for (const PrunedBackup& b : report.removed) {
    out += "removed " + b.backup.name + " = " + nameOf(b.sameAs) + ", " +
           std::to_string(b.freedBytes) + " freed\n";
  }
  for (const PruneProblem& p : report.problems) {
    out += "kept " + nameOf(p.path) + ": " + std::string(errorName(p.error)) +
           (p.readOnly ? " (read-only)" : "") + "\n";
  }
  if (report.failure) out += "failed: " + std::string(errorName(report.failure->error)) + "\n";
  return out + "found " + std::to_string(report.backupsFound) + ", freed " +
         std::to_string(report.bytesFreed()) + "\n";
}

std::map<std::string, std::string> withoutNames(std::map<std::string, std::string> files,
                                                const PruneReport& report) {
  for (const PrunedBackup& b : report.removed) files.erase(b.backup.path);
  return files;
}

// Each install is pruned twice from the same start: as a dry run, which must
// change nothing and report exactly what the real run then does, and for
// real, which must remove exactly the names it reports and nothing else.
TEST(BackupPrune, TheRuleDecidesWhatGoesAndADryRunSaysTheSame) {
  struct Case {
    const char* name;
    std::function<void(Install&)> arrange;
    std::string expected;
  };
  const std::string a1 = "a.lua.qorvex-backup_20250101_000000.bak";
  const std::string a2 = "a.lua.qorvex-backup_20250102_000000.bak";
  const std::string a3 = "a.lua.qorvex-backup_20250103_000000.bak";
  const std::string a4 = "a.lua.qorvex-backup_20250104_000000.bak";
  const std::string a5 = "a.lua.qorvex-backup_20250104_000000_2.bak";
  const std::string stock = std::to_string(kStock.size());
  const std::string patched = std::to_string(kPatched.size());
  const Case cases[] = {
      {"install, uninstall, install: the stock copy again and the patched copy the file holds",
       [](Install& in) {
         in.put(kA, kPatched);
         in.put(kA1, kStock);
         in.put(kA2, kPatched);
         in.put(kA3, kStock);
       },
       "removed " + a2 + " = a.lua, " + patched + " freed\nremoved " + a3 + " = " + a1 + ", " +
           stock + " freed\nfound 3, freed " + std::to_string(kStock.size() + kPatched.size()) +
           "\n"},
      {"the oldest stays although the file holds its bytes",
       [](Install& in) {
         in.put(kA, kStock);
         in.put(kA1, kStock);
       },
       "found 1, freed 0\n"},
      {"a later copy equal to the oldest and to the file names the oldest",
       [](Install& in) {
         in.put(kA, kStock);
         in.put(kA1, kStock);
         in.put(kA2, kStock);
       },
       "removed " + a2 + " = " + a1 + ", " + stock + " freed\nfound 2, freed " + stock + "\n"},
      {"equal sizes, different bytes: nothing goes",
       [](Install& in) {
         in.put(kA, "local x = 4\n");
         in.put(kA1, kStock);
         in.put(kA2, kLookalike);
         in.put(kA3, "local x = 3\n");
       },
       "found 3, freed 0\n"},
      {"a duplicate of a unique later copy goes, the copy stays",
       [](Install& in) {
         in.put(kA, "something else\n");
         in.put(kA1, kStock);
         in.put(kA2, kPatched);
         in.put(kA3, kPatched);
       },
       "removed " + a3 + " = " + a2 + ", " + patched + " freed\nfound 3, freed " + patched + "\n"},
      {"the file is gone: its backups still keep one copy of each content",
       [](Install& in) {
         in.put(backupOf(kModule, "20250101_000000"), "module 1");
         in.put(backupOf(kModule, "20250102_000000"), "module 1");
         in.put(backupOf(kModule, "20250103_000000"), "module 2");
       },
       "removed me_qorvex_undo.lua.qorvex-backup_20250102_000000.bak = "
       "me_qorvex_undo.lua.qorvex-backup_20250101_000000.bak, 8 freed\nfound 3, freed 8\n"},
      {"hard links: a second name of a kept backup, and a name of the file itself, free nothing",
       [](Install& in) {
         in.put(kA, kPatched);
         in.put(kA1, kStock);
         in.link(kA1, kA2);
         in.link(kA, kA3);
         in.put(kA4, kPatched);
       },
       "removed " + a2 + " = " + a1 + ", 0 freed\nremoved " + a3 + " = a.lua, 0 freed\nremoved " +
           a4 + " = a.lua, " + patched + " freed\nfound 4, freed " + patched + "\n"},
      {"hard links: two names of one file that both go free it once, with the last",
       [](Install& in) {
         in.put(kA, kPatched);
         in.put(kA1, kStock);
         in.put(kA2, kPatched);
         in.link(kA2, kA3);
       },
       "removed " + a2 + " = a.lua, 0 freed\nremoved " + a3 + " = a.lua, " + patched +
           " freed\nfound 3, freed " + patched + "\n"},
      {"hard links: a kept copy's second name goes, the kept copy never",
       [](Install& in) {
         in.put(kA, "something else\n");
         in.put(kA1, kStock);
         in.put(kA2, kPatched);
         in.link(kA2, kA3);
       },
       "removed " + a3 + " = " + a2 + ", 0 freed\nfound 3, freed 0\n"},
      {"the oldest is a name of the file itself and stays",
       [](Install& in) {
         in.put(kA, kStock);
         in.link(kA, kA1);
         in.put(kA2, kStock);
       },
       "removed " + a2 + " = " + a1 + ", " + stock + " freed\nfound 2, freed " + stock + "\n"},
      {"foreign names and things are never touched, whatever they hold",
       [](Install& in) {
         in.put(kA, kPatched);
         in.put(kA1, kStock);
         in.put(kA2, kStock);
         in.put(kA + ".qorvex-backup_20250230_000000.bak", kStock);
         in.put(kA + ".qorvex-backup_20250102_000000_1.bak", kStock);
         in.put(kA + ".qorvex-backup_20250102_000000.bak.old", kStock);
         in.put(kA + ".qorvex-backup_20250102_000000.BAK", kPatched);
         in.put(kDir + "b.lua.qorvex-backup_20250102_000000.bak", kStock);
         in.put("ME\\a.lua.qorvex-backup_20250102_000000.bak", kStock);
         in.put(kDir + "my copy of a.lua", kStock);
         in.fs.symlinks.insert(kA + ".qorvex-backup_20250103_000000.bak");
         in.fs.folders.insert(kA + ".qorvex-backup_20250104_000000.bak");
         in.fs.fifos.insert(kA + ".qorvex-backup_20250105_000000.bak");
       },
       "removed " + a2 + " = " + a1 + ", " + stock + " freed\nfound 2, freed " + stock + "\n"},
      {"a read-only or held copy stays and is reported; the others go",
       [](Install& in) {
         in.put(kA, kPatched);
         in.put(kA1, kStock);
         in.put(kA2, kStock);
         in.put(kA3, kStock);
         in.put(kA4, kPatched);
         in.put(kA5, kStock);
         in.fs.readOnly.insert(kA2);
         in.fs.busy.insert(kA4);
       },
       "removed " + a3 + " = " + a1 + ", " + stock + " freed\nremoved " + a5 + " = " + a1 + ", " +
           stock + " freed\nkept " + a2 + ": AccessDenied (read-only)\nkept " + a4 +
           ": FileBusy\nfound 5, freed " + std::to_string(2 * kStock.size()) + "\n"},
      {"a copy that cannot be read is not compared, and said so",
       [](Install& in) {
         in.put(kA, kPatched);
         in.put(kA1, kStock);
         in.put(kA2, kStock);
         in.put(kA3, kStock);
         // The file itself is not read (its size differs): the first read
         // is the second backup's.
         in.fs.faults.push_back(Fault{Op::Read, 1, Error::AccessDenied});
       },
       "removed " + a3 + " = " + a1 + ", " + stock + " freed\nkept " + a2 +
           ": AccessDenied\nfound 3, freed " + stock + "\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Install dry;
    c.arrange(dry);
    const auto before = dry.fs.files;
    const PruneReport planned = pruneBackups("/game", dry.fs, dry.payload, true, dry.fs.clock);
    EXPECT_EQ(describe(planned), c.expected);
    EXPECT_TRUE(dry.fs.wroteNothing());
    EXPECT_EQ(dry.fs.files, before);
    EXPECT_EQ(dry.fs.journal.front(), "lock shared");
    EXPECT_EQ(dry.fs.flushes, 0);

    Install real;
    c.arrange(real);
    const PruneReport done = pruneBackups("/game", real.fs, real.payload, false, real.fs.clock);
    EXPECT_EQ(describe(done), c.expected);
    EXPECT_EQ(real.fs.files, withoutNames(before, done));
    EXPECT_EQ(real.fs.journal.front(), "lock exclusive");
    EXPECT_EQ(real.fs.journal.back(), "flush");
    EXPECT_EQ(real.fs.flushes, 1);
    // The links, folders and FIFOs of backups' names are all still there.
    EXPECT_EQ(real.fs.symlinks, dry.fs.symlinks);
    EXPECT_EQ(real.fs.folders, dry.fs.folders);
    EXPECT_EQ(real.fs.fifos, dry.fs.fifos);
  }
}

// What the comparison saw must still be there when a backup is removed: a
// backup or the copy that keeps its bytes that changed in between stays.
TEST(BackupPrune, ACopyThatChangedAfterTheComparisonStays) {
  struct Case {
    const char* name;
    std::function<void(Install&)> change;
    std::string expected;
  };
  const std::string kept =
      "kept a.lua.qorvex-backup_20250103_000000.bak: FileChanged\nfound 0, freed 0\n";
  const Case cases[] = {
      {"nothing changed", [](Install&) {},
       "removed a.lua.qorvex-backup_20250103_000000.bak = a.lua.qorvex-backup_20250101_000000.bak, "
       "12 freed\n"
       "found 0, freed 12\n"},
      {"the backup was rewritten: same size, another file",
       [](Install& in) { in.put(kA3, kLookalike); }, kept},
      {"the backup grew", [](Install& in) { in.fs.files[kA3] += "more"; }, kept},
      {"the backup is gone", [](Install& in) { in.fs.files.erase(kA3); }, kept},
      {"the backup became a link",
       [](Install& in) {
         in.fs.files.erase(kA3);
         in.fs.symlinks.insert(kA3);
       },
       kept},
      {"the copy that keeps its bytes is gone", [](Install& in) { in.fs.files.erase(kA1); }, kept},
      {"the copy that keeps its bytes was replaced", [](Install& in) { in.put(kA1, kLookalike); },
       kept},
      {"the copy that keeps its bytes became a folder",
       [](Install& in) {
         in.fs.files.erase(kA1);
         in.fs.folders.insert(kA1);
       },
       kept},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Install in;
    in.put(kA, kPatched);
    in.put(kA1, kStock);
    in.put(kA2, kPatched + "x");
    in.put(kA3, kStock);
    auto dir = in.fs.openDirectory("/game");
    ASSERT_TRUE(dir);
    std::string failedPath;
    auto catalog = catalogBackups(**dir, {kA}, failedPath);
    ASSERT_TRUE(catalog);
    const PrunePlan plan = planPrune(**dir, *catalog);
    ASSERT_EQ(plan.candidates.size(), 1u);
    c.change(in);
    const auto before = in.fs.files;
    PruneReport report;
    carryOutPrune(in.fs.clock, **dir, plan, false, report);
    EXPECT_EQ(describe(report), c.expected);
    EXPECT_EQ(in.fs.files, withoutNames(before, report));
  }
}

TEST(BackupPrune, WhatStopsItIsNamedAndWhatWasRemovedIsStillReported) {
  // Another run that writes: waited for, then nothing is removed.
  Install busy;
  busy.put(kA1, kStock);
  busy.put(kA2, kStock);
  busy.fs.lockedElsewhere = true;
  const PruneReport waited = pruneBackups("/game", busy.fs, busy.payload, false, busy.fs.clock);
  EXPECT_EQ(describe(waited), "failed: InstallBusy\nfound 0, freed 0\n");
  EXPECT_GE(busy.fs.clock.sleptMilliseconds, 5000u);
  EXPECT_TRUE(busy.fs.wroteNothing());

  // The removals could not be made durable: the report says what went, and
  // that the command did not succeed.
  Install unflushed;
  unflushed.put(kA1, kStock);
  unflushed.put(kA2, kStock);
  unflushed.fs.faults.push_back(Fault{Op::Flush, 1, Error::InputOutput});
  const PruneReport partial =
      pruneBackups("/game", unflushed.fs, unflushed.payload, false, unflushed.fs.clock);
  EXPECT_EQ(describe(partial),
            "removed a.lua.qorvex-backup_20250102_000000.bak = "
            "a.lua.qorvex-backup_20250101_000000.bak, 12 freed\n"
            "failed: InputOutput\nfound 2, freed 12\n");

  // A removal the file system refuses leaves that backup and goes on.
  Install refused;
  refused.put(kA1, kStock);
  refused.put(kA2, kStock);
  refused.put(kA3, kStock);
  refused.fs.faults.push_back(Fault{Op::Delete, 1, Error::AccessDenied});
  const PruneReport rest =
      pruneBackups("/game", refused.fs, refused.payload, false, refused.fs.clock);
  EXPECT_EQ(describe(rest),
            "removed a.lua.qorvex-backup_20250103_000000.bak = "
            "a.lua.qorvex-backup_20250101_000000.bak, 12 freed\n"
            "kept a.lua.qorvex-backup_20250102_000000.bak: AccessDenied\nfound 3, freed 12\n");
  EXPECT_TRUE(refused.fs.files.count(kA2));
}

}  // namespace
}  // namespace qorvex
