// Every file operation of an INSTALL and of an UNINSTALL is made to fail in
// turn, on a real synthetic game install on disk (the POSIX backend behind a
// fault-injecting wrapper), and each time the run must stop cleanly: a fatal
// result with the error's name and no summary, every game file either old or
// new and never half-written, a complete backup for every file that changed,
// no temporary file left behind, and a second run that finishes the job.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "fake_clock.h"
#include "file_system.h"
#include "payload.h"
#include "run.h"
#include "run_log.h"

namespace qorvex {
namespace {

namespace stdfs = std::filesystem;

// ---------------------------------------------------------------------------
// A file system that forwards to another one and fails one chosen operation.

struct Injection {
  int failAt = -1;  // index of the operation that fails; -1: none
  Error error = Error::AccessDenied;
  bool partialWrite = false;       // a failing write stores half of its bytes first
  bool renameReplaceBusy = false;  // every replacing rename meets a file held open
  bool noLinks = false;            // a file system without hard links
};

class FaultyFileSystem : public FileSystem {
 public:
  FaultyFileSystem(FileSystem& inner, Injection injection) : inner_(inner), injection_(injection) {}

  Result<std::unique_ptr<Directory>> openDirectory(std::string_view absolutePath) override;
  // The clock of the runs on it: fixed, so that a second run in the same
  // second puts the "_2" backup names to work; its random bytes repeat from
  // run to run, so the operations of a run with a fault line up with those of
  // the run without one; a wait for a busy file is counted, not done.
  testing::FakeClock clock;

  // Records the operation; true when it is the one that fails.
  bool step(std::string description) {
    const bool fails = static_cast<int>(operations.size()) == injection_.failAt;
    operations.push_back(std::move(description));
    return fails;
  }
  const Injection& injection() const { return injection_; }

  std::vector<std::string> operations;

 private:
  FileSystem& inner_;
  Injection injection_;
};

class FaultyFile : public WritableFile {
 public:
  FaultyFile(FaultyFileSystem& fs, std::unique_ptr<WritableFile> inner, std::string path)
      : fs_(fs), inner_(std::move(inner)), path_(std::move(path)) {}

  Result<void> write(std::string_view bytes) override {
    if (fs_.step("write " + path_)) {
      // A full disk: part of the data reaches the file, then the write fails.
      if (fs_.injection().partialWrite) (void)inner_->write(bytes.substr(0, bytes.size() / 2));
      return fail(fs_.injection().error);
    }
    return inner_->write(bytes);
  }
  Result<void> commit() override {
    if (fs_.step("commit " + path_)) return fail(fs_.injection().error);
    return inner_->commit();
  }

 private:
  FaultyFileSystem& fs_;
  std::unique_ptr<WritableFile> inner_;
  std::string path_;
};

class FaultyDirectory : public Directory {
 public:
  FaultyDirectory(FaultyFileSystem& fs, std::unique_ptr<Directory> inner)
      : fs_(fs), inner_(std::move(inner)) {}

  Result<std::string> readFile(std::string_view path, std::uint64_t maxBytes,
                               std::size_t spare) override {
    if (fs_.step("read " + std::string(path))) return fail(fs_.injection().error);
    return inner_->readFile(path, maxBytes, spare);
  }
  Result<std::unique_ptr<WritableFile>> createFile(std::string_view path,
                                                   std::string_view model) override {
    if (fs_.step("create " + std::string(path))) return fail(fs_.injection().error);
    auto file = inner_->createFile(path, model);
    if (!file) return fail(file.error());
    return std::make_unique<FaultyFile>(fs_, std::move(*file), std::string(path));
  }
  Result<void> checkReplaceable(std::string_view path) override {
    if (fs_.step("check " + std::string(path))) return fail(fs_.injection().error);
    return inner_->checkReplaceable(path);
  }
  Result<bool> isReadOnly(std::string_view path) override {
    if (fs_.step("isReadOnly " + std::string(path))) return fail(fs_.injection().error);
    return inner_->isReadOnly(path);
  }
  Result<void> renameReplace(std::string_view from, std::string_view to) override {
    if (fs_.step("renameReplace " + std::string(to))) return fail(fs_.injection().error);
    if (fs_.injection().renameReplaceBusy) return fail(Error::FileBusy);
    return inner_->renameReplace(from, to);
  }
  Result<void> renameNoReplace(std::string_view from, std::string_view to) override {
    if (fs_.step("renameNoReplace " + std::string(to))) return fail(fs_.injection().error);
    return inner_->renameNoReplace(from, to);
  }
  Result<void> linkFile(std::string_view from, std::string_view to) override {
    if (fs_.step("link " + std::string(to))) return fail(fs_.injection().error);
    if (fs_.injection().noLinks) return fail(Error::AccessDenied);
    return inner_->linkFile(from, to);
  }
  Result<void> deleteFile(std::string_view path) override {
    if (fs_.step("delete " + std::string(path))) return fail(fs_.injection().error);
    return inner_->deleteFile(path);
  }
  Result<FileKind> kindOf(std::string_view path) override {
    if (fs_.step("kindOf " + std::string(path))) return fail(fs_.injection().error);
    return inner_->kindOf(path);
  }
  Result<FileInfo> fileInfo(std::string_view path) override {
    if (fs_.step("fileInfo " + std::string(path))) return fail(fs_.injection().error);
    return inner_->fileInfo(path);
  }
  Result<void> makeDirectory(std::string_view path) override {
    if (fs_.step("makeDirectory " + std::string(path))) return fail(fs_.injection().error);
    return inner_->makeDirectory(path);
  }
  Result<std::vector<std::string>> listFolder(std::string_view path) override {
    if (fs_.step("list " + std::string(path))) return fail(fs_.injection().error);
    return inner_->listFolder(path);
  }
  Result<std::uint64_t> freeSpace(std::string_view folder) override {
    if (fs_.step("freeSpace " + std::string(folder))) return fail(fs_.injection().error);
    return inner_->freeSpace(folder);
  }
  Result<void> flush() override {
    if (fs_.step("flush")) return fail(fs_.injection().error);
    return inner_->flush();
  }
  Result<void> tryLock(LockMode mode) override {
    if (fs_.step("lock")) return fail(fs_.injection().error);
    return inner_->tryLock(mode);
  }

 private:
  FaultyFileSystem& fs_;
  std::unique_ptr<Directory> inner_;
};

Result<std::unique_ptr<Directory>> FaultyFileSystem::openDirectory(std::string_view absolutePath) {
  auto dir = inner_.openDirectory(absolutePath);
  if (!dir) return fail(dir.error());
  return std::make_unique<FaultyDirectory>(*this, std::move(*dir));
}

// ---------------------------------------------------------------------------
// The synthetic game install on disk.

// The generator script beside the tests; a build may point elsewhere.
stdfs::path fixtureScript() {
  if (const char* path = std::getenv("QORVEX_FIXTURE_SCRIPT")) return path;
#ifdef QORVEX_FIXTURE_SCRIPT
  return QORVEX_FIXTURE_SCRIPT;
#else
  return stdfs::path(__FILE__).parent_path().parent_path() / "fixtures" / "make_game_install.py";
#endif
}

// Every regular file under root, by its path relative to root with '\'.
using Tree = std::map<std::string, std::string>;

Tree snapshot(const stdfs::path& root) {
  Tree tree;
  for (const auto& entry : stdfs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    std::string relative = entry.path().lexically_relative(root).generic_string();
    for (char& c : relative) {
      if (c == '/') c = '\\';
    }
    std::ifstream in(entry.path(), std::ios::binary);
    tree[relative].assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return tree;
}

constexpr std::string_view kBackupInfix = ".qorvex-backup_";
constexpr std::string_view kModulePath = "MissionEditor\\modules\\me_qorvex_undo.lua";

// The file a backup copies, or nothing for a name that is not a backup's.
std::optional<std::string> backupSource(const std::string& path) {
  const std::size_t infix = path.find(kBackupInfix);
  if (infix == std::string::npos || !path.ends_with(".bak")) return std::nullopt;
  return path.substr(0, infix);
}

Tree withoutBackups(const Tree& tree) {
  Tree result;
  for (const auto& [path, content] : tree) {
    if (!backupSource(path)) result[path] = content;
  }
  return result;
}

class ScratchFolder {
 public:
  ScratchFolder() {
    static int counter = 0;
    path_ = stdfs::temp_directory_path() /
            ("qorvex-faults-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
    stdfs::remove_all(path_);
    stdfs::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    stdfs::remove_all(path_, ignored);
  }
  const stdfs::path& path() const { return path_; }

 private:
  stdfs::path path_;
};

// The clean synthetic install, generated once for the whole test binary.
const stdfs::path& cleanInstall() {
  static ScratchFolder folder;
  static bool made = false;
  if (!made) {
    // The Windows build runs under Wine, where the generator cannot run: the
    // test runner generates the install beforehand and names it here.
    if (const char* prepared = std::getenv("QORVEX_FIXTURE_INSTALL")) {
      std::error_code error;
      stdfs::copy(prepared, folder.path() / "install", stdfs::copy_options::recursive, error);
      if (error) ADD_FAILURE() << "could not copy the synthetic install from " << prepared;
      made = true;
    }
  }
  if (!made) {
    const std::string command = "python3 '" + fixtureScript().string() + "' '" +
                                (folder.path() / "install").string() + "' --no-check >/dev/null";
    if (std::system(command.c_str()) != 0) {
      ADD_FAILURE() << "could not generate the synthetic install with " << command;
    }
    made = true;
  }
  static const stdfs::path install = folder.path() / "install";
  return install;
}

void writeTree(const stdfs::path& root, const Tree& tree) {
  stdfs::remove_all(root);
  stdfs::create_directories(root);
  for (const auto& [relative, content] : tree) {
    std::string native = relative;
    for (char& c : native) {
      if (c == '\\') c = '/';
    }
    const stdfs::path path = root / native;
    stdfs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
  }
}

struct Outcome {
  RunResult result;
  std::string log;
  std::vector<std::string> operations;
};

Outcome runOn(const stdfs::path& root, bool uninstall, Injection injection) {
  std::unique_ptr<FileSystem> posix = makePlatformFileSystem();
  FaultyFileSystem fs(*posix, injection);
  EmbeddedPayload payload;
  StringLogSink sink;
  RunLog log(&sink);
  const std::string dir = root.string();
  RunResult result = run(RunRequest{dir, uninstall, false}, fs, payload, log, fs.clock, fs.clock);
  if (result.fatal) writeFatalLine(log, errorName(result.error));
  return {result, sink.text(), fs.operations};
}

// ---------------------------------------------------------------------------
// The checks after a failed run.

// `before` is the tree before the failed run, `goal` the game files a complete
// run leaves. Every game file is one of the two, byte for byte; every file the
// run changed or deleted has a complete backup of its old content; nothing else
// is there.
void expectCleanState(const Tree& before, const Tree& goal, const Tree& after,
                      bool allowTemporaryFiles = false) {
  for (const auto& [path, content] : after) {
    // A probe or temporary file whose removal failed: the next run removes it.
    if (allowTemporaryFiles && path.find(".qorvex-tmp-") != std::string::npos) continue;
    if (auto source = backupSource(path)) {
      if (before.count(path)) continue;  // an earlier run's backup
      auto old = before.find(*source);
      ASSERT_NE(old, before.end()) << "backup of a file that did not exist: " << path;
      EXPECT_EQ(content, old->second) << "backup is not a complete copy: " << path;
      continue;
    }
    const bool known = before.count(path) || goal.count(path);
    EXPECT_TRUE(known) << "left behind: " << path;
    if (!known) continue;
    const bool isOld = before.count(path) && before.at(path) == content;
    const bool isNew = goal.count(path) && goal.at(path) == content;
    EXPECT_TRUE(isOld || isNew) << "half-written: " << path;
  }
  for (const auto& [path, content] : before) {
    if (backupSource(path)) {
      EXPECT_TRUE(after.count(path) && after.at(path) == content)
          << "earlier backup lost: " << path;
      continue;
    }
    auto now = after.find(path);
    if (now != after.end() && now->second == content) continue;
    // Changed or deleted: a backup made in this run must hold the old content.
    bool backedUp = false;
    for (const auto& [other, copy] : after) {
      if (!before.count(other) && backupSource(other) == path && copy == content) backedUp = true;
    }
    EXPECT_TRUE(backedUp) << "changed without a backup: " << path;
  }
}

// A backup that is still a hard link to its file would change with it.
void expectNoBackupLinkedToItsFile(const stdfs::path& root) {
  for (const auto& entry : stdfs::recursive_directory_iterator(root)) {
    const std::string name = entry.path().filename().string();
    const std::size_t infix = name.find(kBackupInfix);
    if (infix == std::string::npos) continue;
    const stdfs::path live = entry.path().parent_path() / name.substr(0, infix);
    std::error_code ignored;
    EXPECT_FALSE(stdfs::equivalent(entry.path(), live, ignored))
        << "still a link: " << entry.path();
  }
}

void expectFatal(const Outcome& outcome, Error error) {
  EXPECT_TRUE(outcome.result.fatal);
  EXPECT_EQ(outcome.result.error, error);
  EXPECT_EQ(outcome.log.find("COMPLETED"), std::string::npos) << outcome.log;
  EXPECT_EQ(outcome.log.find("files patched"), std::string::npos) << outcome.log;
  const std::string fatalLine = "\r\nFATAL: " + std::string(errorName(error)) + "\r\n";
  EXPECT_TRUE(outcome.log.ends_with(fatalLine)) << outcome.log;
}

// Errors a file system reports; the scenarios take them in turn so that each
// name is seen to reach the log.
constexpr Error kErrors[] = {Error::AccessDenied,  Error::Unexpected, Error::SystemResources,
                             Error::LockViolation, Error::NoDevice,   Error::AntivirusInterference};

struct Reference {
  Tree clean;      // the synthetic install
  Tree installed;  // its game files after a complete INSTALL
  std::vector<std::string> installOperations;
  std::vector<std::string> uninstallOperations;
};

const Reference& reference() {
  static const Reference ref = [] {
    Reference r;
    ScratchFolder scratch;
    r.clean = snapshot(cleanInstall());
    writeTree(scratch.path(), r.clean);
    Outcome install = runOn(scratch.path(), false, {});
    EXPECT_FALSE(install.result.fatal) << install.log;
    EXPECT_TRUE(install.result.success) << install.log;
    r.installOperations = install.operations;
    r.installed = withoutBackups(snapshot(scratch.path()));
    writeTree(scratch.path(), r.installed);
    Outcome uninstall = runOn(scratch.path(), true, {});
    EXPECT_TRUE(uninstall.result.success) << uninstall.log;
    r.uninstallOperations = uninstall.operations;
    EXPECT_EQ(withoutBackups(snapshot(scratch.path())), r.clean);
    return r;
  }();
  return ref;
}

TEST(FaultInjection, TheSyntheticInstallTakesEveryPatch) {
  const Reference& ref = reference();
  ASSERT_FALSE(ref.clean.empty());
  EXPECT_EQ(ref.installed.size(), ref.clean.size() + 1);  // the undo module
  EXPECT_TRUE(ref.installed.count(std::string(kModulePath)));
  std::size_t blocks = 0;
  for (const auto& [path, content] : ref.installed) {
    for (std::size_t at = content.find("-- QORVEX_PATCH_BEGIN["); at != std::string::npos;
         at = content.find("-- QORVEX_PATCH_BEGIN[", at + 1)) {
      ++blocks;
    }
  }
  EXPECT_EQ(blocks, 22u);  // 21 Lua insertions and the panel block
  // Each kind of operation the passes use is among those that get to fail.
  std::string all;
  for (const auto& op : ref.installOperations) all += op + "\n";
  for (const auto& op : ref.uninstallOperations) all += op + "\n";
  for (std::string_view kind : {"read ", "create ", "write ", "commit ", "renameReplace ", "link ",
                                "delete ", "kindOf ", "check ", "list ", "flush", "lock"}) {
    EXPECT_NE(all.find(kind), std::string::npos) << kind;
  }
}

// Fails operation `index` of a run that starts from `start`, then checks what
// is left and that a second run reaches `goal`.
void failOneOperation(const Tree& start, const Tree& goal, bool uninstall, int index,
                      const std::string& description, bool goalIsSuccess = true) {
  SCOPED_TRACE((uninstall ? "UNINSTALL, failing operation " : "INSTALL, failing operation ") +
               std::to_string(index) + ": " + description);
  ScratchFolder scratch;
  writeTree(scratch.path(), start);
  Injection injection;
  injection.failAt = index;
  injection.error = kErrors[static_cast<std::size_t>(index) % std::size(kErrors)];
  injection.partialWrite = true;
  Outcome first = runOn(scratch.path(), uninstall, injection);
  ASSERT_GT(first.operations.size(), static_cast<std::size_t>(index));
  ASSERT_EQ(first.operations[static_cast<std::size_t>(index)], description);

  const Tree afterFirst = snapshot(scratch.path());
  if (description.starts_with("link ")) {
    // A backup that cannot be a link is made as a copy: the run goes on.
    EXPECT_FALSE(first.result.fatal) << first.log;
    EXPECT_EQ(first.result.success, goalIsSuccess) << first.log;
  } else {
    expectFatal(first, injection.error);
  }
  expectCleanState(start, goal, afterFirst, description.starts_with("delete "));
  expectNoBackupLinkedToItsFile(scratch.path());

  Outcome second = runOn(scratch.path(), uninstall, {});
  EXPECT_FALSE(second.result.fatal) << second.log;
  EXPECT_EQ(second.result.success, goalIsSuccess) << second.log;
  EXPECT_NE(second.log.find(goalIsSuccess ? "COMPLETED SUCCESSFULLY" : "COMPLETED WITH ERRORS"),
            std::string::npos)
      << second.log;
  const Tree afterSecond = snapshot(scratch.path());
  EXPECT_EQ(withoutBackups(afterSecond), goal);
  // Across both runs, every file that changed has a backup of its first content.
  expectCleanState(start, goal, afterSecond);
}

TEST(FaultInjection, EachOperationOfAnInstallFailsInTurn) {
  const Reference& ref = reference();
  ASSERT_GT(ref.installOperations.size(), 60u);
  for (std::size_t i = 0; i < ref.installOperations.size(); ++i) {
    failOneOperation(ref.clean, ref.installed, false, static_cast<int>(i),
                     ref.installOperations[i]);
    if (HasFatalFailure()) return;
  }
}

TEST(FaultInjection, EachOperationOfAnUninstallFailsInTurn) {
  const Reference& ref = reference();
  ASSERT_GT(ref.uninstallOperations.size(), 50u);
  for (std::size_t i = 0; i < ref.uninstallOperations.size(); ++i) {
    failOneOperation(ref.installed, ref.clean, true, static_cast<int>(i),
                     ref.uninstallOperations[i]);
    if (HasFatalFailure()) return;
  }
}

// An install whose modules folder is missing: the undo module's folders are
// made first, and each step of that fails in turn as well. The Lua and dialog
// files are missing, so the run completes with errors.
TEST(FaultInjection, EachOperationOfMakingTheModuleFolderFailsInTurn) {
  const Reference& ref = reference();
  Tree bare;
  bare["MissionEditor\\MissionEditor.lua"] = ref.clean.at("MissionEditor\\MissionEditor.lua");
  Tree goal = bare;
  goal[std::string(kModulePath)] = ref.installed.at(std::string(kModulePath));
  ScratchFolder scratch;
  writeTree(scratch.path(), bare);
  Outcome plain = runOn(scratch.path(), false, {});
  ASSERT_FALSE(plain.result.fatal);
  EXPECT_EQ(withoutBackups(snapshot(scratch.path())), goal);
  bool madeFolder = false;
  for (std::size_t i = 0; i < plain.operations.size(); ++i) {
    madeFolder = madeFolder || plain.operations[i].starts_with("makeDirectory ");
    failOneOperation(bare, goal, false, static_cast<int>(i), plain.operations[i], false);
    if (HasFatalFailure()) return;
  }
  EXPECT_TRUE(madeFolder);
}

// A full disk in the middle of writing the new content: the write stores part
// of the bytes and fails. Every new content is written before any backup or
// replacement, so nothing has changed: no file, no backup, no temporary file.
TEST(FaultInjection, AFullDiskMidWriteChangesNothing) {
  const Reference& ref = reference();
  const std::string toolbar = "MissionEditor\\modules\\me_toolbar.lua";
  int index = -1;
  for (std::size_t i = 0; i < ref.installOperations.size() && index < 0; ++i) {
    if (ref.installOperations[i].starts_with(
            "write MissionEditor\\modules\\.me_toolbar.lua.qorvex-tmp-")) {
      index = static_cast<int>(i);
    }
  }
  ASSERT_GE(index, 0);
  ScratchFolder scratch;
  writeTree(scratch.path(), ref.clean);
  Injection injection{index, Error::NoSpaceLeft, true, false};
  Outcome outcome = runOn(scratch.path(), false, injection);
  expectFatal(outcome, Error::NoSpaceLeft);
  EXPECT_EQ(outcome.result.failedPath, toolbar);
  EXPECT_EQ(snapshot(scratch.path()), ref.clean);
}

// A file held open against replacing is waited for, then never written in
// place: the run stops with FileBusy naming it, every temporary file goes, and
// the backups made for changes that did not happen do not stay links.
TEST(FaultInjection, AFileHeldOpenIsNeitherReplacedNorWrittenInPlace) {
  const Reference& ref = reference();
  ScratchFolder scratch;
  writeTree(scratch.path(), ref.clean);
  std::unique_ptr<FileSystem> posix = makePlatformFileSystem();
  Injection busy;
  busy.renameReplaceBusy = true;
  FaultyFileSystem fs(*posix, busy);
  EmbeddedPayload payload;
  StringLogSink sink;
  RunLog log(&sink);
  RunResult result =
      run(RunRequest{scratch.path().string(), false, false}, fs, payload, log, fs.clock, fs.clock);
  EXPECT_TRUE(result.fatal);
  EXPECT_EQ(result.error, Error::FileBusy);
  EXPECT_EQ(result.failedPath, std::string(kModulePath));
  // Waited for a few seconds, not for ever.
  EXPECT_GE(fs.clock.sleptMilliseconds, 2000u);
  EXPECT_LE(fs.clock.sleptMilliseconds, 5000u);
  const Tree after = snapshot(scratch.path());
  for (const auto& [path, content] : after) {
    EXPECT_TRUE(backupSource(path) || ref.clean.count(path)) << "left behind: " << path;
  }
  EXPECT_EQ(withoutBackups(after), ref.clean);
  expectCleanState(ref.clean, ref.installed, after);
  expectNoBackupLinkedToItsFile(scratch.path());

  Outcome second = runOn(scratch.path(), false, {});
  EXPECT_TRUE(second.result.success) << second.log;
  EXPECT_EQ(withoutBackups(snapshot(scratch.path())), ref.installed);
}

// Where hard links are impossible, backups are copies with the same bytes.
TEST(FaultInjection, WithoutHardLinksBackupsAreCopies) {
  const Reference& ref = reference();
  ScratchFolder scratch;
  writeTree(scratch.path(), ref.clean);
  Injection noLinks;
  noLinks.noLinks = true;
  Outcome outcome = runOn(scratch.path(), false, noLinks);
  EXPECT_TRUE(outcome.result.success) << outcome.log;
  const Tree after = snapshot(scratch.path());
  EXPECT_EQ(withoutBackups(after), ref.installed);
  std::size_t backups = 0;
  for (const auto& [path, content] : after) {
    if (auto source = backupSource(path)) {
      ++backups;
      EXPECT_EQ(content, ref.clean.at(*source)) << path;
    }
  }
  EXPECT_EQ(backups, 7u);
}

}  // namespace
}  // namespace qorvex
