// Whole runs of the engine on the Win32 backend, on copies of the synthetic
// game install that scripts/run_wine_tests.sh makes and names in
// QORVEX_FIXTURE_INSTALL: what a run does to a file that another process
// holds open, to a read-only file, and to a game whose modules folder leads
// out of it (QORVEX_FIXTURE_LINKS).
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "file_system.h"
#include "payload.h"
#include "run.h"
#include "run_log.h"
#include "win32_test_support.h"

namespace qorvex {
namespace {

using test_support::fileIdOf;
using test_support::nameOf;
using test_support::narrow;
using test_support::Tree;
using test_support::wide;

constexpr std::string_view kToolbar = "MissionEditor\\modules\\me_toolbar.lua";
constexpr std::string_view kModule = "MissionEditor\\modules\\me_qorvex_undo.lua";
constexpr std::string_view kBackupInfix = ".qorvex-backup_";

// The file a backup was made of; empty for a name that is not a backup's.
std::string backupSource(const std::string& path) {
  const std::size_t infix = path.find(kBackupInfix);
  if (infix == std::string::npos || !path.ends_with(".bak")) return {};
  return path.substr(0, infix);
}

Tree withoutBackups(const Tree& tree) {
  Tree result;
  for (const auto& [path, bytes] : tree) {
    if (backupSource(path).empty()) result[path] = bytes;
  }
  return result;
}

std::vector<std::string> leftovers(const Tree& tree) {
  std::vector<std::string> found;
  for (const auto& [path, bytes] : tree) {
    if (path.find(".qorvex-tmp-") != std::string::npos || path.ends_with(".qorvex-lock")) {
      found.push_back(path);
    }
  }
  return found;
}

struct Outcome {
  RunResult result;
  std::string log;
  std::chrono::milliseconds elapsed;
};

Outcome runOn(const std::wstring& game, bool uninstall, bool dryRun = false) {
  std::unique_ptr<FileSystem> fs = makePlatformFileSystem();
  EmbeddedPayload payload;
  StringLogSink sink;
  RunLog log(&sink);
  const std::string dir = narrow(game);
  const auto start = std::chrono::steady_clock::now();
  RunResult result = run(RunRequest{dir, uninstall, dryRun}, *fs, payload, log);
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  return {result, sink.text(), elapsed};
}

class DurableRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* fixture = std::getenv("QORVEX_FIXTURE_INSTALL");
    if (fixture == nullptr) {
      GTEST_SKIP() << "QORVEX_FIXTURE_INSTALL is not set; scripts/run_wine_tests.sh sets it";
    }
    fixture_ = wide(fixture);
    scratch_ = test_support::makeScratchFolder(L"qorvex-run-");
    clean_ = test_support::snapshot(fixture_);
    ASSERT_FALSE(clean_.empty());
  }

  void TearDown() override {
    for (HANDLE handle : held_) CloseHandle(handle);
    if (!scratch_.empty()) test_support::removeTree(scratch_);
  }

  // A fresh copy of the synthetic install.
  std::wstring freshGame() {
    const std::wstring game = scratch_ + L"\\game" + std::to_wstring(++games_);
    EXPECT_TRUE(test_support::copyTree(fixture_, game));
    return game;
  }

  // The game files (without backups) after a complete INSTALL.
  const Tree& installed() {
    if (installed_.empty()) {
      const std::wstring game = freshGame();
      Outcome outcome = runOn(game, false);
      EXPECT_TRUE(outcome.result.success) << outcome.log;
      installed_ = withoutBackups(test_support::snapshot(game));
    }
    return installed_;
  }

  std::wstring at(const std::wstring& game, std::string_view relative) const {
    return game + L"\\" + wide(relative);
  }

  HANDLE hold(const std::wstring& path, DWORD access, DWORD share) {
    HANDLE file = CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
    held_.push_back(file);
    return file;
  }

  void release(HANDLE handle) {
    std::erase(held_, handle);
    CloseHandle(handle);
  }

  // Every game file holds its bytes from `before` or from `goal`; every
  // backup made since `before` holds the whole content its file had then;
  // no temporary file and no lock file is left.
  void expectOldOrNew(const Tree& before, const Tree& goal, const Tree& after) {
    for (const auto& [path, bytes] : after) {
      if (before.count(path) && before.at(path) == bytes) continue;
      const std::string source = backupSource(path);
      if (!source.empty()) {
        EXPECT_TRUE(before.count(source) && before.at(source) == bytes)
            << "backup is not a whole copy of its file: " << path;
        continue;
      }
      EXPECT_TRUE(goal.count(path) && goal.at(path) == bytes) << "neither old nor new: " << path;
    }
    for (const auto& [path, bytes] : before) {
      EXPECT_TRUE(after.count(path) || goal.count(path) == 0) << "lost: " << path;
    }
    EXPECT_EQ(leftovers(after), std::vector<std::string>{});
  }

  // A backup that were still a hard link to its file would change with it.
  void expectNoBackupLinkedToItsFile(const std::wstring& game) {
    for (const auto& [path, bytes] : test_support::snapshot(game)) {
      const std::string source = backupSource(path);
      if (source.empty()) continue;
      EXPECT_NE(fileIdOf(at(game, path)), fileIdOf(at(game, source))) << "still a link: " << path;
    }
  }

  std::wstring fixture_;
  std::wstring scratch_;
  Tree clean_;
  Tree installed_;
  int games_ = 0;
  std::vector<HANDLE> held_;
};

struct Holder {
  const char* who;
  DWORD share;
};
// Neither shares deletion, so the file cannot be replaced while it is held.
// The first is how the C runtime opens a file for reading: it shares writing,
// so the file could have been written in place, which the run never does.
constexpr Holder kHolders[] = {
    {"C runtime reader", FILE_SHARE_READ | FILE_SHARE_WRITE},
    {"reader sharing reads only", FILE_SHARE_READ},
};

TEST_F(DurableRunTest, AHeldFileStopsTheRunWithFileBusyAndKeepsItsBytes) {
  const Tree& goal = installed();
  for (const Holder& h : kHolders) {
    SCOPED_TRACE(h.who);
    const std::wstring game = freshGame();
    HANDLE holder = hold(at(game, kToolbar), GENERIC_READ, h.share);

    Outcome first = runOn(game, false);
    EXPECT_TRUE(first.result.fatal) << first.log;
    EXPECT_EQ(errorName(first.result.error), "FileBusy");
    EXPECT_EQ(first.result.failedPath, kToolbar);
    EXPECT_EQ(first.log.find("COMPLETED"), std::string::npos) << first.log;
    // The run waits for the holder to let go (a virus scanner does) before
    // it gives up.
    EXPECT_GE(first.elapsed.count(), 2900);

    const Tree after = test_support::snapshot(game);
    EXPECT_EQ(after.at(std::string(kToolbar)), clean_.at(std::string(kToolbar)));
    // What the holder reads through its own handle is the old file too: not
    // one byte was written in place.
    SetFilePointer(holder, 0, nullptr, FILE_BEGIN);
    std::string seen(clean_.at(std::string(kToolbar)).size() + 1, '\0');
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(holder, seen.data(), static_cast<DWORD>(seen.size()), &got, nullptr));
    seen.resize(got);
    EXPECT_EQ(seen, clean_.at(std::string(kToolbar)));
    expectOldOrNew(clean_, goal, after);
    expectNoBackupLinkedToItsFile(game);

    release(holder);
    Outcome second = runOn(game, false);
    EXPECT_TRUE(second.result.success) << second.log;
    const Tree finished = test_support::snapshot(game);
    EXPECT_EQ(withoutBackups(finished), goal);
    expectOldOrNew(clean_, goal, finished);
  }
}

TEST_F(DurableRunTest, AHeldFileLetGoWithinASecondIsReplaced) {
  const Tree& goal = installed();
  const std::wstring game = freshGame();
  HANDLE holder = hold(at(game, kToolbar), GENERIC_READ, FILE_SHARE_READ);
  std::erase(held_, holder);  // the thread below closes it
  std::thread letGo([holder] {
    Sleep(800);
    CloseHandle(holder);
  });
  Outcome outcome = runOn(game, false);
  letGo.join();
  EXPECT_TRUE(outcome.result.success) << outcome.log;
  EXPECT_GE(outcome.elapsed.count(), 750);
  const Tree after = test_support::snapshot(game);
  EXPECT_EQ(withoutBackups(after), goal);
  expectOldOrNew(clean_, goal, after);
}

TEST_F(DurableRunTest, AReadOnlyFileIsRefusedAndNothingIsWrittenForIt) {
  struct Case {
    bool uninstall;
    std::string_view path;
  };
  const Case cases[] = {
      {false, kToolbar},
      {false, "MissionEditor\\modules\\me_ship.lua"},
      {true, "MissionEditor\\modules\\me_aircraft.lua"},
      // The module is deleted by an uninstall, and read-only stops that too.
      {true, kModule},
  };
  const Tree& patched = installed();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.uninstall ? "UNINSTALL " : "INSTALL ") + std::string(c.path));
    const std::wstring game = freshGame();
    if (c.uninstall) {
      ASSERT_TRUE(runOn(game, false).result.success);
    }
    const Tree before = test_support::snapshot(game);
    const std::wstring file = at(game, c.path);
    ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));

    Outcome outcome = runOn(game, c.uninstall);
    EXPECT_TRUE(outcome.result.fatal) << outcome.log;
    EXPECT_EQ(errorName(outcome.result.error), "AccessDenied");
    EXPECT_EQ(outcome.result.failedPath, c.path);

    const Tree after = test_support::snapshot(game);
    EXPECT_EQ(after.at(std::string(c.path)), before.at(std::string(c.path)));
    EXPECT_NE(GetFileAttributesW(file.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    for (const auto& [path, bytes] : after) {
      EXPECT_FALSE(!before.count(path) && backupSource(path) == c.path) << "backed up: " << path;
    }
    expectOldOrNew(before, c.uninstall ? clean_ : patched, after);
    expectNoBackupLinkedToItsFile(game);
  }
}

TEST_F(DurableRunTest, AModulesFolderThatLeadsOutOfTheGameIsRefused) {
  const char* links = std::getenv("QORVEX_FIXTURE_LINKS");
  if (links == nullptr) {
    GTEST_SKIP() << "QORVEX_FIXTURE_LINKS is not set; scripts/run_wine_tests.sh sets it";
  }
  // links\game\MissionEditor\modules -> links\outside-modules
  const std::wstring game = wide(links) + L"\\game";
  const std::wstring outside = wide(links) + L"\\outside-modules";
  const Tree gameBefore = test_support::snapshot(game);
  const Tree outsideBefore = test_support::snapshot(outside);
  ASSERT_TRUE(outsideBefore.count("me_toolbar.lua"));
  struct Case {
    const char* action;
    bool uninstall;
    bool dryRun;
  };
  const Case cases[] = {
      {"INSTALL", false, false},
      {"UNINSTALL", true, false},
      {"CHECK", false, true},
  };
  for (const Case& c : cases) {
    Outcome outcome = runOn(game, c.uninstall, c.dryRun);
    EXPECT_TRUE(outcome.result.fatal) << c.action << "\n" << outcome.log;
    EXPECT_EQ(errorName(outcome.result.error), "LinkRefused") << c.action;
    EXPECT_EQ(outcome.result.failedPath.rfind("MissionEditor\\modules\\", 0), 0u)
        << c.action << ": " << outcome.result.failedPath;
    EXPECT_EQ(test_support::snapshot(outside), outsideBefore) << c.action;
    EXPECT_EQ(test_support::snapshot(game), gameBefore) << c.action;
  }
}

}  // namespace
}  // namespace qorvex
