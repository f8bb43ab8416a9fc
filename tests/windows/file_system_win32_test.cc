// Tests of the Win32 file backend against the real file system: they run as a
// Windows executable (under Wine on Linux). Each test works in a fresh folder
// under %TEMP% and removes it afterwards.
#include "file_system_win32.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "error.h"
#include "file_ops.h"
#include "clock.h"
#include "file_system.h"
#include "manifest.h"
#include "payload.h"
#include "run_context.h"
#include "run_log.h"
#include "temporary_file.h"
#include "win32_test_support.h"

#ifndef ERROR_VIRUS_INFECTED
#define ERROR_VIRUS_INFECTED 225L
#endif
#ifndef ERROR_VIRUS_DELETED
#define ERROR_VIRUS_DELETED 226L
#endif

extern "C" NTSYSAPI ULONG NTAPI RtlSetLastWin32ErrorAndNtStatusFromNtStatus(LONG status);

namespace qorvex {
namespace {

using namespace std::string_literals;

constexpr LONG kStatusDeletePending = static_cast<LONG>(0xC0000056);
constexpr LONG kStatusAccessDenied = static_cast<LONG>(0xC0000022);
using test_support::fileIdOf;
using test_support::kShareAll;
using test_support::nameOf;
using test_support::narrow;
using test_support::removeTree;
using test_support::wide;

class Win32FileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    ASSERT_GT(length, 0u);
    unsigned char bytes[6];
    systemRandom().randomBytes(bytes, sizeof bytes);
    std::wstring name = L"qorvex-test-";
    for (unsigned char b : bytes) {
      name.push_back(L"0123456789abcdef"[b >> 4]);
      name.push_back(L"0123456789abcdef"[b & 15]);
    }
    root_ = std::wstring(temp, length) + name;
    ASSERT_TRUE(CreateDirectoryW(root_.c_str(), nullptr)) << GetLastError();
    auto dir = fs_->openDirectory(narrow(root_));
    ASSERT_TRUE(dir) << nameOf(dir);
    dir_ = std::move(*dir);
  }

  void TearDown() override {
    for (HANDLE handle : held_) CloseHandle(handle);
    dir_.reset();
    removeTree(root_);
  }

  // Full native path of a relative name inside the test folder.
  std::wstring at(std::string_view relative) const {
    std::wstring path = root_ + L"\\" + wide(relative);
    for (wchar_t& c : path) {
      if (c == L'/') c = L'\\';
    }
    return path;
  }

  void put(std::string_view relative, std::string_view bytes) {
    HANDLE file = CreateFileW(at(relative).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    ASSERT_EQ(written, bytes.size());
    CloseHandle(file);
  }

  void mkdir(std::string_view relative) {
    ASSERT_TRUE(CreateDirectoryW(at(relative).c_str(), nullptr)) << GetLastError();
  }

  // The content by name, through a handle of our own.
  std::string content(std::string_view relative) {
    HANDLE file = CreateFileW(at(relative).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
      return "<cannot open: " + std::to_string(GetLastError()) + ">";
    std::string bytes = readAll(file);
    CloseHandle(file);
    return bytes;
  }

  static std::string readAll(HANDLE file) {
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
      bytes.append(buffer, got);
    return bytes;
  }

  // Equal for two names of one file.
  std::string fileId(std::string_view relative) const { return fileIdOf(at(relative)); }

  bool exists(std::string_view relative) const {
    return GetFileAttributesW(at(relative).c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  // Names in a folder of the test folder, sorted.
  std::set<std::string> names(std::string_view relative = "") const {
    std::set<std::string> found;
    std::wstring folder = relative.empty() ? root_ : at(relative);
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return found;
    do {
      std::wstring name = entry.cFileName;
      if (name != L"." && name != L"..") found.insert(narrow(name));
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return found;
  }

  // The holder lets go before the end of the test.
  void release(HANDLE handle) {
    std::erase(held_, handle);
    CloseHandle(handle);
  }

  // Another "process" holding the file: a handle with the given access and
  // share mode, closed at the end of the test.
  HANDLE hold(std::string_view relative, DWORD access, DWORD share) {
    HANDLE file =
        CreateFileW(at(relative).c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
    held_.push_back(file);
    return file;
  }

  Result<void> writeNew(std::string_view relative, std::string_view bytes) {
    auto file = dir_->createFile(relative, "");
    if (!file) return fail(file.error());
    Result<void> written = (*file)->write(bytes);
    if (written) written = (*file)->commit();
    return written;
  }

  std::unique_ptr<FileSystem> fs_ = makePlatformFileSystem();
  std::unique_ptr<Directory> dir_;
  std::wstring root_;
  std::vector<HANDLE> held_;
};

// --- Opening the install directory -----------------------------------------

TEST_F(Win32FileSystemTest, OpensDirectorySpelledWithSlashesDotsAndTrailingSeparator) {
  mkdir("game");
  put("game/marker.txt", "here");
  std::string base = narrow(root_);
  for (std::string spelling : {base + "\\game", base + "\\game\\", base + "/game/",
                               base + "\\game\\..\\game\\.", "\\\\?\\" + base + "\\game"}) {
    auto dir = fs_->openDirectory(spelling);
    ASSERT_TRUE(dir) << spelling << " -> " << nameOf(dir);
    auto text = (*dir)->readFile("marker.txt", 100);
    ASSERT_TRUE(text) << spelling << " -> " << nameOf(text);
    EXPECT_EQ(*text, "here") << spelling;
  }
}

TEST_F(Win32FileSystemTest, OpenDirectoryNamesWhatIsWrong) {
  put("file.txt", "x");
  std::string base = narrow(root_);
  EXPECT_EQ(nameOf(fs_->openDirectory(base + "\\missing")), "FileNotFound");
  EXPECT_EQ(nameOf(fs_->openDirectory(base + "\\missing\\deeper")), "FileNotFound");
  EXPECT_EQ(nameOf(fs_->openDirectory(base + "\\file.txt")), "NotDir");
  EXPECT_EQ(nameOf(fs_->openDirectory(base + "\\file.txt\\")), "NotDir");
  EXPECT_EQ(nameOf(fs_->openDirectory(base + "\\file.txt\\sub")), "NotDir");
  EXPECT_EQ(nameOf(fs_->openDirectory("relative\\folder")), "BadPathName");
  EXPECT_EQ(nameOf(fs_->openDirectory("C:relative")), "BadPathName");
  EXPECT_EQ(nameOf(fs_->openDirectory("")), "BadPathName");
  EXPECT_EQ(nameOf(fs_->openDirectory(base + "\\bad\xff")), "BadPathName");
}

TEST_F(Win32FileSystemTest, OpensDirectoryWithNonAsciiName) {
  // "DCS Wörld ✈" in UTF-8.
  const std::string name = "DCS W\xC3\xB6rld \xE2\x9C\x88";
  ASSERT_TRUE(CreateDirectoryW((root_ + L"\\DCS W\u00F6rld \u2708").c_str(), nullptr));
  auto dir = fs_->openDirectory(narrow(root_) + "\\" + name);
  ASSERT_TRUE(dir) << nameOf(dir);
  auto file = (*dir)->createFile("x.lua", "");
  ASSERT_TRUE(file);
  ASSERT_TRUE((*file)->commit());
  EXPECT_NE(GetFileAttributesW((root_ + L"\\DCS W\u00F6rld \u2708\\x.lua").c_str()),
            INVALID_FILE_ATTRIBUTES);
}

// --- Reading ------------------------------------------------------------------

TEST_F(Win32FileSystemTest, ReadsWholeFileWithItsBytesUnchanged) {
  std::string bytes("line1\r\nline2\nno newline\0binary\xff", 32);
  put("a.lua", bytes);
  auto text = dir_->readFile("a.lua", kMaxFileSize);
  ASSERT_TRUE(text) << nameOf(text);
  EXPECT_EQ(*text, bytes);
}

TEST_F(Win32FileSystemTest, EmptyFileReadsAsEmpty) {
  put("empty.lua", "");
  auto text = dir_->readFile("empty.lua", kMaxFileSize);
  ASSERT_TRUE(text) << nameOf(text);
  EXPECT_EQ(*text, "");
}

TEST_F(Win32FileSystemTest, ReadsSixteenMebibytesButNotOneByteMore) {
  std::string big(kMaxFileSize, 'x');
  big[0] = 'a';
  big[big.size() - 1] = 'z';
  put("exact.lua", big);
  auto text = dir_->readFile("exact.lua", kMaxFileSize);
  ASSERT_TRUE(text) << nameOf(text);
  EXPECT_EQ(text->size(), kMaxFileSize);
  EXPECT_EQ(*text, big);

  big.push_back('!');
  put("over.lua", big);
  EXPECT_EQ(nameOf(dir_->readFile("over.lua", kMaxFileSize)), "StreamTooLong");
}

TEST_F(Win32FileSystemTest, ReadErrorsAreNamed) {
  put("file.txt", "x");
  mkdir("folder");
  EXPECT_EQ(nameOf(dir_->readFile("missing.lua", 100)), "FileNotFound");
  EXPECT_EQ(nameOf(dir_->readFile("missing\\x.lua", 100)), "FileNotFound");
  EXPECT_EQ(nameOf(dir_->readFile("folder", 100)), "IsDir");
  EXPECT_EQ(nameOf(dir_->readFile("file.txt\\x.lua", 100)), "NotDir");
  EXPECT_EQ(nameOf(dir_->readFile("file.txt\\deeper\\x.lua", 100)), "NotDir");
}

TEST_F(Win32FileSystemTest, ReadsFileThatAnotherHandleWrites) {
  put("busy.lua", "shared");
  hold("busy.lua", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
  auto text = dir_->readFile("busy.lua", 100);
  ASSERT_TRUE(text) << nameOf(text);
  EXPECT_EQ(*text, "shared");
}

TEST_F(Win32FileSystemTest, FileHeldWithoutSharingIsAccessDenied) {
  put("locked.lua", "mine");
  hold("locked.lua", GENERIC_READ, 0);
  EXPECT_EQ(nameOf(dir_->readFile("locked.lua", 100)), "AccessDenied");
}

// --- Paths --------------------------------------------------------------------

TEST_F(Win32FileSystemTest, ManifestPathsUseEitherSeparator) {
  mkdir("MissionEditor");
  mkdir("MissionEditor/modules");
  put("MissionEditor/modules/me_toolbar.lua", "toolbar");
  for (std::string path :
       {"MissionEditor\\modules\\me_toolbar.lua", "MissionEditor/modules/me_toolbar.lua",
        "MissionEditor\\.\\modules\\\\me_toolbar.lua"}) {
    auto text = dir_->readFile(path, 100);
    ASSERT_TRUE(text) << path << " -> " << nameOf(text);
    EXPECT_EQ(*text, "toolbar");
  }
}

TEST_F(Win32FileSystemTest, RefusesPathsThatLeaveTheDirectoryOrBendWindowsNames) {
  put("a.lua", "x");
  const std::string paths[] = {"..\\a.lua",
                               "sub\\..\\..\\a.lua",
                               "\\a.lua",
                               "C:\\a.lua",
                               "C:a.lua",
                               "a.lua:stream",
                               "a.lua.",
                               "a.lua ",
                               "a?.lua",
                               "a*.lua",
                               "a<b",
                               "a|b",
                               "a\"b",
                               std::string("a\x01.lua"),
                               std::string("a\0b", 3),
                               "bad\xff.lua",
                               "overlong\xC0\xAF.lua",
                               "overlong\xE0\x81\x81.lua",
                               "overlong\xF0\x80\x81\x81.lua",
                               "beyond\xF4\x90\x80\x80.lua",
                               "surrogate\xED\xA0\x80.lua",
                               "cut\xE2\x9C"};
  for (const std::string& path : paths) {
    EXPECT_EQ(nameOf(dir_->readFile(path, 100)), "BadPathName") << path;
    EXPECT_EQ(nameOf(dir_->createFile(path, "")), "BadPathName") << path;
  }
  EXPECT_EQ(names(), std::set<std::string>{"a.lua"});
}

TEST_F(Win32FileSystemTest, NameLongerThan255IsNameTooLong) {
  std::string longest(255, 'n');
  ASSERT_TRUE(writeNew(longest, "ok"));
  EXPECT_EQ(content(longest), "ok");
  EXPECT_EQ(nameOf(dir_->createFile(std::string(256, 'n'), "")), "NameTooLong");
}

TEST_F(Win32FileSystemTest, PathsBeyondMaxPathWork) {
  // Six folders of 60 characters: well past the 260 of MAX_PATH.
  std::string path;
  for (int i = 0; i < 6; ++i) {
    if (!path.empty()) path += "\\";
    path += std::string(59, static_cast<char>('a' + i)) + std::to_string(i);
    auto made = dir_->makeDirectory(path);
    ASSERT_TRUE(made) << path << " -> " << nameOf(made);
  }
  path += "\\deep.lua";
  ASSERT_GT(root_.size() + path.size(), 300u);
  ASSERT_TRUE(writeNew(path, "deep"));
  auto text = dir_->readFile(path, 100);
  ASSERT_TRUE(text) << nameOf(text);
  EXPECT_EQ(*text, "deep");
}

TEST_F(Win32FileSystemTest, NonAsciiAndAstralNamesRoundTrip) {
  // "modulé_✓_😀.lua": two-, three- and four-byte UTF-8.
  const std::string name = "modul\xC3\xA9_\xE2\x9C\x93_\xF0\x9F\x98\x80.lua";
  ASSERT_TRUE(writeNew(name, "unicode"));
  EXPECT_NE(GetFileAttributesW((root_ + L"\\modul\u00E9_\u2713_\U0001F600.lua").c_str()),
            INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(names(), std::set<std::string>{name});
  auto text = dir_->readFile(name, 100);
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, "unicode");
}

// --- Writing ------------------------------------------------------------------

TEST_F(Win32FileSystemTest, CreateNewRefusesAnExistingName) {
  put("taken.lua", "old");
  mkdir("folder");
  EXPECT_EQ(nameOf(dir_->createFile("taken.lua", "")), "PathAlreadyExists");
  EXPECT_EQ(nameOf(dir_->createFile("folder", "")), "PathAlreadyExists");
  EXPECT_EQ(content("taken.lua"), "old");
}

TEST_F(Win32FileSystemTest, CreateErrorsAreNamed) {
  put("file.txt", "x");
  mkdir("folder");
  EXPECT_EQ(nameOf(dir_->createFile("missing\\x.lua", "")), "FileNotFound");
  EXPECT_EQ(nameOf(dir_->createFile("folder", "")), "PathAlreadyExists");
  EXPECT_EQ(nameOf(dir_->createFile("file.txt\\x.lua", "")), "NotDir");
  SetFileAttributesW(at("file.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(nameOf(dir_->createFile("file.txt", "")), "PathAlreadyExists");
  EXPECT_EQ(content("file.txt"), "x");
}

TEST_F(Win32FileSystemTest, NewFileTakesTheAttributesOfItsModelButNeverReadOnly) {
  constexpr DWORD kShown = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY;
  struct Case {
    const char* model;
    DWORD modelAttributes;  // 0: the model is not made
    DWORD expected;         // of kShown
  };
  const Case cases[] = {
      {"plain.lua", FILE_ATTRIBUTE_NORMAL, 0},
      {"hidden.lua", FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_HIDDEN},
      {"system.lua", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM,
       FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
      // A read-only file is never replaced; a copy of it must stay deletable.
      {"readonly.lua", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_HIDDEN},
      {"missing.lua", 0, 0},
      {"", 0, 0},
  };
  int made = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.model);
    if (c.modelAttributes != 0) {
      put(c.model, "model");
      ASSERT_TRUE(SetFileAttributesW(at(c.model).c_str(), c.modelAttributes)) << GetLastError();
      ASSERT_EQ(GetFileAttributesW(at(c.model).c_str()) & kShown, c.modelAttributes & kShown);
    }
    const std::string name = "new" + std::to_string(++made) + ".lua";
    auto file = dir_->createFile(name, c.model);
    ASSERT_TRUE(file) << nameOf(file);
    ASSERT_TRUE((*file)->write("new"));
    ASSERT_TRUE((*file)->commit());
    EXPECT_EQ(GetFileAttributesW(at(name).c_str()) & kShown, c.expected);
    EXPECT_EQ(content(name), "new");
  }
  // A folder is no model for a file.
  mkdir("folder");
  auto file = dir_->createFile("beside-folder.lua", "folder");
  ASSERT_TRUE(file) << nameOf(file);
  ASSERT_TRUE((*file)->commit());
  EXPECT_EQ(
      GetFileAttributesW(at("beside-folder.lua").c_str()) & (kShown | FILE_ATTRIBUTE_DIRECTORY),
      0u);
}

TEST_F(Win32FileSystemTest, FileBeingWrittenIsSharedForReadingWritingAndDeleting) {
  auto file = dir_->createFile("open.lua", "");
  ASSERT_TRUE(file);
  ASSERT_TRUE((*file)->write("first"));
  // Another process may open it for anything while the engine writes it: the
  // share mode allows reading, writing and deleting, and there is no lock.
  HANDLE other = CreateFileW(at("open.lua").c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                             kShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE) << GetLastError();
  EXPECT_EQ(readAll(other), "first");
  OVERLAPPED whole{};
  EXPECT_TRUE(
      LockFileEx(other, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &whole))
      << "the writer holds a lock: " << GetLastError();
  UnlockFileEx(other, 0, 1, 0, &whole);
  CloseHandle(other);
  ASSERT_TRUE((*file)->write(" second"));
  ASSERT_TRUE((*file)->commit());
  EXPECT_EQ(content("open.lua"), "first second");
}

TEST_F(Win32FileSystemTest, FileIsOpenedForWritingOnly) {
  auto file = dir_->createFile("w.lua", "");
  ASSERT_TRUE(file);
  // Share modes are checked against the access of every open handle: an
  // opener that does not share writing is refused, because we write...
  HANDLE noWriteShare =
      CreateFileW(at("w.lua").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(noWriteShare, INVALID_HANDLE_VALUE);
  if (noWriteShare != INVALID_HANDLE_VALUE) CloseHandle(noWriteShare);
  // ...while one that does not share reading is let in, because we do not read.
  HANDLE noReadShare =
      CreateFileW(at("w.lua").c_str(), GENERIC_READ, FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(noReadShare, INVALID_HANDLE_VALUE) << GetLastError();
  if (noReadShare != INVALID_HANDLE_VALUE) CloseHandle(noReadShare);
  ASSERT_TRUE((*file)->commit());
}

// --- Renaming -----------------------------------------------------------------

TEST_F(Win32FileSystemTest, RenameReplaceReplacesAClosedFile) {
  put("tmp", "new content");
  put("target.lua", "old content");
  ASSERT_TRUE(dir_->renameReplace("tmp", "target.lua"));
  EXPECT_EQ(content("target.lua"), "new content");
  EXPECT_EQ(names(), std::set<std::string>{"target.lua"});
  put("tmp2", "to a new name");
  ASSERT_TRUE(dir_->renameReplace("tmp2", "fresh.lua"));
  EXPECT_EQ(content("fresh.lua"), "to a new name");
}

// A file that another process holds without FILE_SHARE_DELETE cannot be
// replaced or deleted. The first share mode is how the C runtime opens a file
// for reading (the game's Lua loader among them).
struct HeldWithoutDeleteSharing {
  const char* holder;
  DWORD access;
  DWORD share;
};
constexpr HeldWithoutDeleteSharing kHolders[] = {
    {"C runtime reader", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE},
    {"reader sharing reads only", GENERIC_READ, FILE_SHARE_READ},
    {"writer sharing nothing", GENERIC_READ | GENERIC_WRITE, 0},
};

TEST_F(Win32FileSystemTest, RenameReplaceOverFileHeldWithoutDeleteSharingIsFileBusy) {
  for (const HeldWithoutDeleteSharing& h : kHolders) {
    SCOPED_TRACE(h.holder);
    put("tmp", "new");
    put("target.lua", "old");
    HANDLE holder = hold("target.lua", h.access, h.share);
    EXPECT_EQ(nameOf(dir_->renameReplace("tmp", "target.lua")), "FileBusy");
    EXPECT_EQ(content("target.lua"), h.share == 0 ? "<cannot open: 32>" : "old");
    EXPECT_EQ(readAll(holder), "old");
    EXPECT_EQ(content("tmp"), "new");
    release(holder);
    EXPECT_EQ(content("target.lua"), "old");
  }
}

TEST_F(Win32FileSystemTest, DeleteOfFileHeldWithoutDeleteSharingIsFileBusy) {
  for (const HeldWithoutDeleteSharing& h : kHolders) {
    SCOPED_TRACE(h.holder);
    put("me_qorvex_undo.lua", "module");
    HANDLE holder = hold("me_qorvex_undo.lua", h.access, h.share);
    EXPECT_EQ(nameOf(dir_->deleteFile("me_qorvex_undo.lua")), "FileBusy");
    EXPECT_EQ(readAll(holder), "module");
    release(holder);
    EXPECT_EQ(content("me_qorvex_undo.lua"), "module");
  }
  // Held with every sharing: the holder agreed to the deletion beforehand.
  hold("me_qorvex_undo.lua", GENERIC_READ, kShareAll);
  EXPECT_TRUE(dir_->deleteFile("me_qorvex_undo.lua"));
}

TEST_F(Win32FileSystemTest, RenameReplaceOverFolderIsIsDir) {
  put("tmp", "new");
  mkdir("folder");
  EXPECT_EQ(nameOf(dir_->renameReplace("tmp", "folder")), "IsDir");
  EXPECT_TRUE(exists("tmp"));
}

TEST_F(Win32FileSystemTest, RenameErrorsAreNamed) {
  put("tmp", "new");
  put("file.txt", "x");
  EXPECT_EQ(nameOf(dir_->renameReplace("missing", "target.lua")), "FileNotFound");
  EXPECT_EQ(nameOf(dir_->renameReplace("tmp", "missing\\target.lua")), "FileNotFound");
  EXPECT_EQ(nameOf(dir_->renameReplace("tmp", "file.txt\\target.lua")), "NotDir");
  EXPECT_EQ(nameOf(dir_->renameNoReplace("tmp", "file.txt\\target.lua")), "NotDir");
  EXPECT_EQ(nameOf(dir_->renameNoReplace("missing", "target.lua")), "FileNotFound");
  EXPECT_EQ(content("tmp"), "new");
}

TEST_F(Win32FileSystemTest, RenameNoReplaceNeverReplaces) {
  put("tmp", "new");
  put("backup.bak", "earlier backup");
  EXPECT_EQ(nameOf(dir_->renameNoReplace("tmp", "backup.bak")), "PathAlreadyExists");
  EXPECT_EQ(content("backup.bak"), "earlier backup");
  EXPECT_EQ(content("tmp"), "new");
  ASSERT_TRUE(dir_->renameNoReplace("tmp", "backup_2.bak"));
  EXPECT_EQ(content("backup_2.bak"), "new");
  EXPECT_EQ(names(), (std::set<std::string>{"backup.bak", "backup_2.bak"}));
}

TEST_F(Win32FileSystemTest, RenameReplaceOverReadOnlyFileIsAccessDeniedNotBusy) {
  put("tmp", "new");
  put("me_toolbar.lua", "old");
  SetFileAttributesW(at("me_toolbar.lua").c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(nameOf(dir_->renameReplace("tmp", "me_toolbar.lua")), "AccessDenied");
  EXPECT_EQ(content("me_toolbar.lua"), "old");
  EXPECT_EQ(content("tmp"), "new");
}

// --- Deleting, kinds, folders -------------------------------------------------

TEST_F(Win32FileSystemTest, DeletesAFile) {
  put("me_qorvex_undo.lua", "module");
  ASSERT_TRUE(dir_->deleteFile("me_qorvex_undo.lua"));
  EXPECT_FALSE(exists("me_qorvex_undo.lua"));
}

TEST_F(Win32FileSystemTest, DeleteErrorsAreNamed) {
  mkdir("folder");
  put("file.txt", "x");
  put("readonly.lua", "x");
  SetFileAttributesW(at("readonly.lua").c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(nameOf(dir_->deleteFile("missing.lua")), "FileNotFound");
  EXPECT_EQ(nameOf(dir_->deleteFile("missing\\x.lua")), "FileNotFound");
  EXPECT_EQ(nameOf(dir_->deleteFile("file.txt\\x.lua")), "NotDir");
  EXPECT_EQ(nameOf(dir_->deleteFile("folder")), "IsDir");
  EXPECT_EQ(nameOf(dir_->deleteFile("readonly.lua")), "AccessDenied");
  EXPECT_TRUE(exists("folder"));
  EXPECT_TRUE(exists("readonly.lua"));
}

TEST_F(Win32FileSystemTest, KindOfTellsFilesFromFolders) {
  mkdir("MissionEditor");
  put("file.txt", "x");
  EXPECT_EQ(dir_->kindOf("MissionEditor"), Result<FileKind>(FileKind::Directory));
  EXPECT_EQ(dir_->kindOf("file.txt"), Result<FileKind>(FileKind::File));
  EXPECT_EQ(nameOf(dir_->kindOf("missing")), "FileNotFound");
  EXPECT_EQ(nameOf(dir_->kindOf("missing\\deeper")), "FileNotFound");
  EXPECT_EQ(nameOf(dir_->kindOf("file.txt\\deeper")), "NotDir");
  // Even a file that another process holds without any sharing.
  hold("file.txt", GENERIC_READ, 0);
  EXPECT_EQ(dir_->kindOf("file.txt"), Result<FileKind>(FileKind::File));
}

TEST_F(Win32FileSystemTest, FileInfoTellsKindSizeAndWhichNamesAreOneFile) {
  mkdir("folder");
  put("a.lua", "twelve bytes");
  put("c.lua", "twelve bytes");
  ASSERT_TRUE(dir_->linkFile("a.lua", "b.lua"));
  auto a = dir_->fileInfo("a.lua");
  auto b = dir_->fileInfo("b.lua");
  auto c = dir_->fileInfo("c.lua");
  ASSERT_TRUE(a && b && c);
  EXPECT_EQ(a->kind, FileKind::File);
  EXPECT_EQ(a->size, 12u);
  EXPECT_EQ(a->links, 2u);
  EXPECT_EQ(b->links, 2u);
  EXPECT_EQ(c->links, 1u);
  EXPECT_TRUE(a->sameFileAs(*b));
  EXPECT_FALSE(a->sameFileAs(*c));
  auto folder = dir_->fileInfo("folder");
  ASSERT_TRUE(folder);
  EXPECT_EQ(folder->kind, FileKind::Directory);
  EXPECT_EQ(nameOf(dir_->fileInfo("missing.lua")), "FileNotFound");
  EXPECT_EQ(nameOf(dir_->fileInfo("a.lua\\x.lua")), "NotDir");
  EXPECT_EQ(nameOf(dir_->fileInfo("..\\a.lua")), "BadPathName");
  // Even of a file that another program holds without any sharing.
  hold("c.lua", GENERIC_READ, 0);
  auto held = dir_->fileInfo("c.lua");
  ASSERT_TRUE(held) << nameOf(held);
  EXPECT_EQ(held->size, 12u);
  // Once one name goes, the other is the file's only one.
  ASSERT_TRUE(dir_->deleteFile("b.lua"));
  auto alone = dir_->fileInfo("a.lua");
  ASSERT_TRUE(alone);
  EXPECT_EQ(alone->links, 1u);
  EXPECT_TRUE(alone->sameFileAs(*a));
}

TEST_F(Win32FileSystemTest, MakeDirectoryCreatesOneFolder) {
  ASSERT_TRUE(dir_->makeDirectory("modules"));
  EXPECT_EQ(dir_->kindOf("modules"), Result<FileKind>(FileKind::Directory));
  put("file.txt", "x");
  EXPECT_EQ(nameOf(dir_->makeDirectory("modules")), "PathAlreadyExists");
  EXPECT_EQ(nameOf(dir_->makeDirectory("file.txt")), "PathAlreadyExists");
  EXPECT_EQ(nameOf(dir_->makeDirectory("missing\\sub")), "FileNotFound");
  EXPECT_EQ(nameOf(dir_->makeDirectory("file.txt\\sub")), "NotDir");
}

TEST_F(Win32FileSystemTest, MakeFoldersCreatesTheChainAndStopsAtAFile) {
  ASSERT_TRUE(makeFolders(*dir_, "MissionEditor\\modules\\dialogs"));
  EXPECT_EQ(dir_->kindOf("MissionEditor\\modules\\dialogs"), Result<FileKind>(FileKind::Directory));
  put("MissionEditor/file", "x");
  EXPECT_EQ(nameOf(makeFolders(*dir_, "MissionEditor\\file\\sub")), "NotDir");
}

// --- Checking, linking, listing -------------------------------------------------

TEST_F(Win32FileSystemTest, CheckReplaceableNamesWhatStandsInTheWayAndChangesNothing) {
  mkdir("folder");
  put("plain.lua", "plain");
  put("readonly.lua", "readonly");
  SetFileAttributesW(at("readonly.lua").c_str(), FILE_ATTRIBUTE_READONLY);
  put("held.lua", "held");
  hold("held.lua", GENERIC_READ | GENERIC_WRITE, 0);
  const std::set<std::string> before = names();
  struct Case {
    const char* path;
    const char* expected;
  };
  const Case cases[] = {
      {"plain.lua", "ok"},
      // Held without delete sharing: the replacement would be refused.
      {"held.lua", "FileBusy"},
      {"missing.lua", "FileNotFound"},
      {"missing\\x.lua", "FileNotFound"},
      {"plain.lua\\x.lua", "NotDir"},
      {"folder", "IsDir"},
      {"readonly.lua", "AccessDenied"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(nameOf(dir_->checkReplaceable(c.path)), c.expected) << c.path;
  }
  EXPECT_EQ(names(), before);
  EXPECT_EQ(content("plain.lua"), "plain");
  EXPECT_EQ(GetFileAttributesW(at("readonly.lua").c_str()) & FILE_ATTRIBUTE_READONLY,
            static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
}

TEST_F(Win32FileSystemTest, LinkFileMakesASecondNameOfTheSameFile) {
  mkdir("modules");
  put("modules/me_toolbar.lua", "toolbar");
  ASSERT_TRUE(dir_->linkFile("modules\\me_toolbar.lua", "modules\\me_toolbar.lua.bak"));
  EXPECT_EQ(fileId("modules/me_toolbar.lua.bak"), fileId("modules/me_toolbar.lua"));
  EXPECT_EQ(content("modules/me_toolbar.lua.bak"), "toolbar");
  // Replacing one name leaves the other with the old content: what makes a
  // link a backup.
  put("modules/tmp", "patched");
  ASSERT_TRUE(dir_->renameReplace("modules\\tmp", "modules\\me_toolbar.lua"));
  EXPECT_EQ(content("modules/me_toolbar.lua"), "patched");
  EXPECT_EQ(content("modules/me_toolbar.lua.bak"), "toolbar");
  EXPECT_NE(fileId("modules/me_toolbar.lua.bak"), fileId("modules/me_toolbar.lua"));
}

TEST_F(Win32FileSystemTest, LinkFileNeverReplacesAndNamesWhatIsWrong) {
  mkdir("folder");
  put("a.lua", "a");
  put("taken.lua", "earlier backup");
  struct Case {
    const char* from;
    const char* to;
    const char* expected;
  };
  const Case cases[] = {
      {"a.lua", "taken.lua", "PathAlreadyExists"}, {"a.lua", "folder", "PathAlreadyExists"},
      {"missing.lua", "b.lua", "FileNotFound"},    {"folder", "b.lua", "IsDir"},
      {"a.lua", "missing\\b.lua", "FileNotFound"}, {"a.lua", "a.lua\\b.lua", "NotDir"},
      {"a.lua", "..\\b.lua", "BadPathName"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(nameOf(dir_->linkFile(c.from, c.to)), c.expected) << c.from << " -> " << c.to;
  }
  EXPECT_EQ(content("taken.lua"), "earlier backup");
  EXPECT_NE(fileId("taken.lua"), fileId("a.lua"));
  EXPECT_EQ(names(), (std::set<std::string>{"a.lua", "folder", "taken.lua"}));
}

TEST_F(Win32FileSystemTest, NoLinkIsMadeToAFileHeldWithoutDeleteSharing) {
  // Such a link could not be removed or replaced while the file is held, so a
  // backup made that way could not become a copy of its own: the engine makes
  // a copy when linking fails.
  for (const HeldWithoutDeleteSharing& h : kHolders) {
    SCOPED_TRACE(h.holder);
    put("me_toolbar.lua", "toolbar");
    HANDLE holder = hold("me_toolbar.lua", h.access, h.share);
    EXPECT_EQ(nameOf(dir_->linkFile("me_toolbar.lua", "backup.bak")), "FileBusy");
    EXPECT_FALSE(exists("backup.bak"));
    release(holder);
  }
  hold("me_toolbar.lua", GENERIC_READ, kShareAll);
  EXPECT_TRUE(dir_->linkFile("me_toolbar.lua", "backup.bak"));
  EXPECT_EQ(fileId("backup.bak"), fileId("me_toolbar.lua"));
}

TEST_F(Win32FileSystemTest, ListFolderNamesEverythingInOneFolder) {
  // "modulé_✓_😀.lua": two-, three- and four-byte UTF-8.
  const std::string unicode = "modul\xC3\xA9_\xE2\x9C\x93_\xF0\x9F\x98\x80.lua";
  mkdir("MissionEditor");
  mkdir("MissionEditor/modules");
  mkdir("MissionEditor/empty");
  put("MissionEditor/modules/me_toolbar.lua", "x");
  put("MissionEditor/modules/.me_toolbar.lua.qorvex-tmp-AAAAAAAAAAAAAAAA", "x");
  mkdir("MissionEditor/modules/dialogs");
  ASSERT_TRUE(writeNew("MissionEditor/modules/" + unicode, "x"));
  put("top.lua", "x");
  struct Case {
    const char* path;
    std::vector<std::string> expected;  // sorted
  };
  const Case cases[] = {
      {"", {"MissionEditor", "top.lua"}},
      {"MissionEditor", {"empty", "modules"}},
      {"MissionEditor\\modules\\",
       {".me_toolbar.lua.qorvex-tmp-AAAAAAAAAAAAAAAA", "dialogs", "me_toolbar.lua", unicode}},
      {"MissionEditor/empty", {}},
  };
  for (const Case& c : cases) {
    auto listed = dir_->listFolder(c.path);
    ASSERT_TRUE(listed) << c.path << " -> " << nameOf(listed);
    std::sort(listed->begin(), listed->end());
    EXPECT_EQ(*listed, c.expected) << c.path;
  }
  EXPECT_EQ(nameOf(dir_->listFolder("missing")), "FileNotFound");
  EXPECT_EQ(nameOf(dir_->listFolder("top.lua")), "NotDir");
  EXPECT_EQ(nameOf(dir_->listFolder("..")), "BadPathName");
}

// --- The run's lock ----------------------------------------------------------------

TEST_F(Win32FileSystemTest, OneWritingRunAtATimeAndAReadingRunWritesNothing) {
  // What a second Directory on the same install gets while the first holds
  // a lock. A reading run holds nothing (it must not write the lock file), so
  // it never keeps a writing run out.
  struct Case {
    LockMode first;
    LockMode second;
    const char* expected;
  };
  const Case cases[] = {
      {LockMode::Exclusive, LockMode::Exclusive, "InstallBusy"},
      {LockMode::Exclusive, LockMode::Shared, "InstallBusy"},
      {LockMode::Shared, LockMode::Exclusive, "ok"},
      {LockMode::Shared, LockMode::Shared, "ok"},
  };
  auto label = [](LockMode mode) { return mode == LockMode::Exclusive ? "Exclusive" : "Shared"; };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(label(c.first)) + " then " + label(c.second));
    auto first = fs_->openDirectory(narrow(root_));
    auto second = fs_->openDirectory(narrow(root_));
    ASSERT_TRUE(first && second);
    ASSERT_TRUE((*first)->tryLock(c.first));
    EXPECT_EQ(exists(".qorvex-lock"), c.first == LockMode::Exclusive);
    EXPECT_EQ(nameOf((*second)->tryLock(c.second)), c.expected);
    first->reset();
    EXPECT_EQ(exists(".qorvex-lock"), c.second == LockMode::Exclusive && c.expected == "ok"s);
    EXPECT_TRUE((*second)->tryLock(c.second));
    second->reset();
    EXPECT_FALSE(exists(".qorvex-lock"));
  }
  EXPECT_EQ(names(), std::set<std::string>{});
}

TEST_F(Win32FileSystemTest, LockFileIsHiddenAndGoesWithItsDirectory) {
  ASSERT_TRUE(dir_->tryLock(LockMode::Exclusive));
  ASSERT_TRUE(exists(".qorvex-lock"));
  EXPECT_NE(GetFileAttributesW(at(".qorvex-lock").c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
  // Taking it again from the same directory is not a second run.
  EXPECT_TRUE(dir_->tryLock(LockMode::Exclusive));
  dir_.reset();
  EXPECT_FALSE(exists(".qorvex-lock"));
}

TEST_F(Win32FileSystemTest, ALockFileLeftByAPowerCutHoldsNoOneOut) {
  put(".qorvex-lock", "");
  auto reader = fs_->openDirectory(narrow(root_));
  ASSERT_TRUE(reader);
  EXPECT_TRUE((*reader)->tryLock(LockMode::Shared));
  EXPECT_TRUE(dir_->tryLock(LockMode::Exclusive));
  dir_.reset();
  EXPECT_FALSE(exists(".qorvex-lock"));
}

// --- Backups ------------------------------------------------------------------

TEST_F(Win32FileSystemTest, BackupIsAHardLinkUntilTheRunEndsThenACopyOfItsOwn) {
  mkdir("modules");
  const std::string original("-- toolbar\r\nlocal x = 1\r\n\xEF\xBB\xBF", 27);
  put("modules/me_toolbar.lua", original);
  std::string backup;
  {
    PatchManifest manifest{};
    EmbeddedPayload payload;
    StringLogSink sink;
    RunLog log(&sink);
    RunContext run{
        .fs = *fs_, .installDir = *dir_, .manifest = manifest, .payload = payload, .log = log};

    const std::int64_t before = systemClock().nowUnixSeconds();
    ASSERT_TRUE(createBackup(run, log, "modules\\me_toolbar.lua", "modules\\me_toolbar.lua"));
    const std::int64_t after = systemClock().nowUnixSeconds();

    std::set<std::string> found = names("modules");
    ASSERT_EQ(found.size(), 2u);
    found.erase("me_toolbar.lua");
    backup = "modules/" + *found.begin();
    std::set<std::string> expected;
    for (std::int64_t t = before; t <= after; ++t) {
      expected.insert("modules/me_toolbar.lua.qorvex-backup_" + formatBackupStamp(t) + ".bak");
    }
    EXPECT_TRUE(expected.count(backup)) << backup;
    EXPECT_EQ(fileId(backup), fileId("modules/me_toolbar.lua"));
    EXPECT_EQ(run.summary.backupsCreated, 1u);
    EXPECT_EQ(sink.text(), "        backup -> " + backup.substr(8) + "\r\n");
  }
  // The file was never replaced, so the run's end made the backup a file of
  // its own: a later edit of the live file cannot reach it.
  EXPECT_NE(fileId(backup), fileId("modules/me_toolbar.lua"));
  EXPECT_EQ(content(backup), original);
  EXPECT_EQ(content("modules/me_toolbar.lua"), original);
  EXPECT_EQ(names("modules"), (std::set<std::string>{"me_toolbar.lua", backup.substr(8)}));
}

// --- Links and pipes ------------------------------------------------------------
//
// Wine cannot make a Unix symbolic link or a FIFO, so the test runner
// (scripts/run_wine_tests.sh) makes them and names their folder in
// QORVEX_FIXTURE_LINKS:
//   outside\outside.lua                   a file outside the install
//   install\real\inside.lua
//   install\dirlink       -> ..\outside
//   install\filelink.lua  -> ..\outside\outside.lua
//   install\dangling.lua  -> ..\outside\missing.lua
//   install\fifo           a FIFO, which nothing writes to

class Win32LinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* links = std::getenv("QORVEX_FIXTURE_LINKS");
    if (links == nullptr) {
      GTEST_SKIP() << "QORVEX_FIXTURE_LINKS is not set; scripts/run_wine_tests.sh sets it";
    }
    base_ = wide(links);
    auto dir = fs_->openDirectory(std::string(links) + "\\install");
    ASSERT_TRUE(dir) << nameOf(dir);
    dir_ = std::move(*dir);
    // A closed file of our own inside the install, to move onto the links.
    unsigned char bytes[6];
    systemRandom().randomBytes(bytes, sizeof bytes);
    scratch_ = "scratch-";
    for (unsigned char b : bytes) scratch_.push_back("0123456789abcdef"[b & 15]);
    HANDLE file = CreateFileW(install(scratch_).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
    DWORD written = 0;
    WriteFile(file, "scratch", 7, &written, nullptr);
    CloseHandle(file);
  }

  void TearDown() override {
    dir_.reset();
    if (!scratch_.empty()) DeleteFileW(install(scratch_).c_str());
  }

  std::wstring install(std::string_view relative) const {
    return base_ + L"\\install\\" + wide(relative);
  }

  // What is in the folder outside the install: names and contents.
  std::map<std::string, std::string> outside() const {
    std::map<std::string, std::string> found;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((base_ + L"\\outside\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return found;
    do {
      std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      HANDLE file = CreateFileW((base_ + L"\\outside\\" + name).c_str(), GENERIC_READ, kShareAll,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
      std::string bytes;
      char buffer[256];
      DWORD got = 0;
      while (file != INVALID_HANDLE_VALUE && ReadFile(file, buffer, sizeof buffer, &got, nullptr) &&
             got > 0) {
        bytes.append(buffer, got);
      }
      if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
      found[narrow(name)] = bytes;
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return found;
  }

  std::unique_ptr<FileSystem> fs_ = makePlatformFileSystem();
  std::unique_ptr<Directory> dir_;
  std::wstring base_;
  std::string scratch_;
};

std::string kindName(const Result<FileKind>& kind) {
  if (!kind) return std::string(errorName(kind.error()));
  switch (*kind) {
    case FileKind::File: return "File";
    case FileKind::Directory: return "Directory";
    case FileKind::Other: return "Other";
  }
  return "?";
}

TEST_F(Win32LinkTest, EveryOperationRefusesALinkOnTheWayOrAtTheEnd) {
  struct Case {
    const char* what;
    std::function<std::string()> call;
    const char* expected;
  };
  Directory& dir = *dir_;
  const std::string scratch = scratch_;
  const Case cases[] = {
      // The control: a real folder and file beside the links.
      {"read a real file", [&] { return nameOf(dir.readFile("real\\inside.lua", 100)); }, "ok"},
      {"kind of a real folder", [&] { return kindName(dir.kindOf("real")); }, "Directory"},
      {"read a file link", [&] { return nameOf(dir.readFile("filelink.lua", 100)); },
       "LinkRefused"},
      {"read through a folder link",
       [&] { return nameOf(dir.readFile("dirlink\\outside.lua", 100)); }, "LinkRefused"},
      {"check a file link", [&] { return nameOf(dir.checkReplaceable("filelink.lua")); },
       "LinkRefused"},
      {"check through a folder link",
       [&] { return nameOf(dir.checkReplaceable("dirlink\\outside.lua")); }, "LinkRefused"},
      {"create through a folder link",
       [&] { return nameOf(dir.createFile("dirlink\\new.lua", "")); }, "LinkRefused"},
      {"create over a dangling link", [&] { return nameOf(dir.createFile("dangling.lua", "")); },
       "PathAlreadyExists"},
      {"replace a file link", [&] { return nameOf(dir.renameReplace(scratch, "filelink.lua")); },
       "LinkRefused"},
      {"replace through a folder link",
       [&] { return nameOf(dir.renameReplace(scratch, "dirlink\\outside.lua")); }, "LinkRefused"},
      {"rename into a folder link",
       [&] { return nameOf(dir.renameNoReplace(scratch, "dirlink\\new.lua")); }, "LinkRefused"},
      {"rename a file link away",
       [&] { return nameOf(dir.renameNoReplace("filelink.lua", "moved.lua")); }, "LinkRefused"},
      {"link a file link", [&] { return nameOf(dir.linkFile("filelink.lua", "second.lua")); },
       "LinkRefused"},
      {"link into a folder link", [&] { return nameOf(dir.linkFile(scratch, "dirlink\\new.lua")); },
       "LinkRefused"},
      {"delete a file link", [&] { return nameOf(dir.deleteFile("filelink.lua")); }, "LinkRefused"},
      {"delete through a folder link",
       [&] { return nameOf(dir.deleteFile("dirlink\\outside.lua")); }, "LinkRefused"},
      {"kind of a folder link", [&] { return kindName(dir.kindOf("dirlink")); }, "LinkRefused"},
      {"kind of a file link", [&] { return kindName(dir.kindOf("filelink.lua")); }, "LinkRefused"},
      {"kind through a folder link", [&] { return kindName(dir.kindOf("dirlink\\outside.lua")); },
       "LinkRefused"},
      {"info of a folder link", [&] { return nameOf(dir.fileInfo("dirlink")); }, "LinkRefused"},
      {"info of a file link", [&] { return nameOf(dir.fileInfo("filelink.lua")); }, "LinkRefused"},
      {"info through a folder link", [&] { return nameOf(dir.fileInfo("dirlink\\outside.lua")); },
       "LinkRefused"},
      {"folder in a folder link", [&] { return nameOf(dir.makeDirectory("dirlink\\sub")); },
       "LinkRefused"},
      {"list a folder link", [&] { return nameOf(dir.listFolder("dirlink")); }, "LinkRefused"},
  };
  const auto before = outside();
  ASSERT_EQ(before, (std::map<std::string, std::string>{{"outside.lua", "outside"}}));
  for (const Case& c : cases) EXPECT_EQ(c.call(), c.expected) << c.what;
  EXPECT_EQ(outside(), before);
  // The links themselves are still there, and so is the file meant to replace them.
  for (const char* link : {"dirlink", "filelink.lua"}) {
    EXPECT_NE(GetFileAttributesW(install(link).c_str()), INVALID_FILE_ATTRIBUTES) << link;
  }
  EXPECT_NE(GetFileAttributesW(install(scratch_).c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesW(install("moved.lua").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesW(install("second.lua").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Win32LinkTest, APipeIsNotAFileAndNothingWaitsForIt) {
  struct Case {
    const char* what;
    std::function<std::string()> call;
    const char* expected;
  };
  Directory& dir = *dir_;
  const std::string scratch = scratch_;
  const Case cases[] = {
      {"read", [&] { return nameOf(dir.readFile("fifo", 100)); }, "NotAFile"},
      {"check", [&] { return nameOf(dir.checkReplaceable("fifo")); }, "NotAFile"},
      {"replace", [&] { return nameOf(dir.renameReplace(scratch, "fifo")); }, "NotAFile"},
      {"link", [&] { return nameOf(dir.linkFile("fifo", "second")); }, "NotAFile"},
      {"delete", [&] { return nameOf(dir.deleteFile("fifo")); }, "NotAFile"},
      {"kind", [&] { return kindName(dir.kindOf("fifo")); }, "Other"},
      {"info",
       [&] {
         auto info = dir.fileInfo("fifo");
         return info ? kindName(info->kind) : nameOf(info);
       },
       "Other"},
      {"list", [&] { return nameOf(dir.listFolder("fifo")); }, "NotAFile"},
  };
  for (const Case& c : cases) {
    // Opening a FIFO for reading waits for a writer that never comes; a
    // backend that did would hang here, so the call runs on its own thread.
    auto outcome = std::async(std::launch::async, c.call);
    if (outcome.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
      std::fprintf(stderr, "%s of a FIFO did not return within 10 seconds\n", c.what);
      std::fflush(stderr);
      std::_Exit(1);
    }
    EXPECT_EQ(outcome.get(), c.expected) << c.what;
  }
  EXPECT_NE(GetFileAttributesW(install(scratch_).c_str()), INVALID_FILE_ATTRIBUTES);
}

// --- Clock and random generator -------------------------------------------------

TEST(Win32Clock, FileTimeConvertsToFlooredUnixSeconds) {
  constexpr std::uint64_t kUnixEpoch = 116444736000000000ull;
  EXPECT_EQ(win32::unixSecondsFromFileTime(kUnixEpoch), 0);
  EXPECT_EQ(win32::unixSecondsFromFileTime(kUnixEpoch + 9999999), 0);
  EXPECT_EQ(win32::unixSecondsFromFileTime(kUnixEpoch + 10000000), 1);
  // 2025-01-31 23:59:59.9999999 UTC is still 23:59:59.
  const std::uint64_t lastTick = kUnixEpoch + 1738367999ull * 10000000ull + 9999999ull;
  EXPECT_EQ(win32::unixSecondsFromFileTime(lastTick), 1738367999);
  EXPECT_EQ(formatBackupStamp(win32::unixSecondsFromFileTime(lastTick)), "20250131_235959");
  EXPECT_EQ(formatBackupStamp(win32::unixSecondsFromFileTime(lastTick + 1)), "20250201_000000");
  // 2000-02-29 12:00:00: a leap day of a century divisible by 400.
  EXPECT_EQ(
      formatBackupStamp(win32::unixSecondsFromFileTime(kUnixEpoch + 951825600ull * 10000000ull)),
      "20000229_120000");
}

TEST(Win32Clock, NowAgreesWithTheSystemClock) {
  auto fs = makePlatformFileSystem();
  const std::int64_t now = systemClock().nowUnixSeconds();
  const std::int64_t chrono = std::chrono::duration_cast<std::chrono::seconds>(
                                  std::chrono::system_clock::now().time_since_epoch())
                                  .count();
  const std::int64_t crt = static_cast<std::int64_t>(std::time(nullptr));
  EXPECT_LE(std::llabs(now - chrono), 2) << now << " vs " << chrono;
  EXPECT_LE(std::llabs(now - crt), 2) << now << " vs " << crt;
  EXPECT_GT(now, 1700000000);  // after November 2023
}

TEST(Win32Random, BytesComeFromTheSystemGenerator) {
  auto fs = makePlatformFileSystem();
  std::vector<unsigned char> first(4096), second(4096);
  systemRandom().randomBytes(first.data(), first.size());
  systemRandom().randomBytes(second.data(), second.size());
  EXPECT_NE(first, second);
  std::set<unsigned char> values(first.begin(), first.end());
  // 4096 uniform bytes miss a given value with probability about 1e-7.
  EXPECT_GE(values.size(), 250u);
  systemRandom().randomBytes(nullptr, 0);
}

TEST(Win32Random, TemporaryNamesAreSixteenUrlSafeCharactersAndDistinct) {
  auto fs = makePlatformFileSystem();
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::set<std::string> seen;
  for (int i = 0; i < 2000; ++i) {
    std::string name = randomTempName(systemRandom());
    ASSERT_EQ(name.size(), 16u) << name;
    ASSERT_EQ(name.find_first_not_of(alphabet), std::string::npos) << name;
    seen.insert(name);
  }
  EXPECT_EQ(seen.size(), 2000u);
}

// --- Pending deletion ---------------------------------------------------------

TEST(Win32DeletePending, RecognisesBothWaysWindowsReportsIt) {
  EXPECT_TRUE(win32::isDeletePending(ERROR_DELETE_PENDING, 0));
  EXPECT_TRUE(win32::isDeletePending(ERROR_ACCESS_DENIED, kStatusDeletePending));
  EXPECT_FALSE(win32::isDeletePending(ERROR_ACCESS_DENIED, kStatusAccessDenied));
  EXPECT_FALSE(win32::isDeletePending(ERROR_ACCESS_DENIED, 0));
  EXPECT_FALSE(win32::isDeletePending(ERROR_SHARING_VIOLATION, kStatusDeletePending));
}

TEST(Win32DeletePending, RetriesUntilTheDeletionIsComplete) {
  int calls = 0;
  EXPECT_TRUE(win32::retryWhileDeletePending([&] {
    ++calls;
    if (calls == 1) {
      SetLastError(ERROR_DELETE_PENDING);
      return false;
    }
    if (calls < 4) {
      // What CreateFileW leaves behind when NtCreateFile says
      // STATUS_DELETE_PENDING: ERROR_ACCESS_DENIED plus the NT status.
      RtlSetLastWin32ErrorAndNtStatusFromNtStatus(kStatusDeletePending);
      return false;
    }
    return true;
  }));
  EXPECT_EQ(calls, 4);
}

TEST(Win32DeletePending, DoesNotRetryOtherFailures) {
  int calls = 0;
  EXPECT_FALSE(win32::retryWhileDeletePending([&] {
    ++calls;
    RtlSetLastWin32ErrorAndNtStatusFromNtStatus(kStatusAccessDenied);
    return false;
  }));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(Win32DeletePending, AStaleStatusDoesNotTurnAccessDeniedIntoARetry) {
  // A pending deletion seen by an earlier call must not make a later, plain
  // ERROR_ACCESS_DENIED (set without a fresh NT status) loop for ever.
  RtlSetLastWin32ErrorAndNtStatusFromNtStatus(kStatusDeletePending);
  int calls = 0;
  EXPECT_FALSE(win32::retryWhileDeletePending([&] {
    ++calls;
    SetLastError(ERROR_ACCESS_DENIED);
    return calls > 50;  // ends a wrong retry loop, which the count then shows
  }));
  EXPECT_EQ(calls, 1);
}

// --- Names ----------------------------------------------------------------------

TEST(Win32Names, ManifestNamesWindowsCannotHoldAreBadPathName) {
  struct Case {
    std::string name;
    const char* expected;
  };
  const Case cases[] = {
      {"me_toolbar.lua", "ok"},
      {".me_toolbar.lua.qorvex-tmp-AAAAAAAAAAAAAAAA", "ok"},
      {"modul\xC3\xA9_\xF0\x9F\x98\x80.lua", "ok"},
      {std::string(255, 'n'), "ok"},
      {std::string(256, 'n'), "BadPathName"},
      {"", "BadPathName"},
      {"a.lua:stream", "BadPathName"},
      {"a.lua.", "BadPathName"},
      {"a.lua ", "BadPathName"},
      {"a?.lua", "BadPathName"},
      {"a*.lua", "BadPathName"},
      {"a<b", "BadPathName"},
      {"a|b", "BadPathName"},
      {"a\"b", "BadPathName"},
      {"a\x1f.lua", "BadPathName"},
      {"a\\b", "BadPathName"},
      {"a/b", "BadPathName"},
      {std::string("a\0b", 3), "BadPathName"},
      {"bad\xff.lua", "BadPathName"},
      {"overlong\xC0\xAF.lua", "BadPathName"},
      {"surrogate\xED\xA0\x80.lua", "BadPathName"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(nameOf(checkPlatformName(c.name)), c.expected) << c.name;
  }
  // The whole manifest path, name by name.
  EXPECT_EQ(nameOf(checkManifestPath("MissionEditor\\modules\\me_toolbar.lua")), "ok");
  EXPECT_EQ(nameOf(checkManifestPath("MissionEditor\\modules.\\me_toolbar.lua")), "BadPathName");
}

TEST(Win32Names, NamesWindowsHandsBackBecomeUtf8OnlyWhenWellFormed) {
  struct Case {
    std::wstring utf16;
    const char* expected;  // nullptr: BadPathName
  };
  const Case cases[] = {
      {L"", ""},
      {L"me_toolbar.lua", "me_toolbar.lua"},
      {L"modul\u00E9_\u2713_\U0001F600.lua", "modul\xC3\xA9_\xE2\x9C\x93_\xF0\x9F\x98\x80.lua"},
      {std::wstring(L"lone high \xD83D"), nullptr},
      {std::wstring(L"lone low \xDE00 here"), nullptr},
      {std::wstring(L"swapped \xDE00\xD83D"), nullptr},
  };
  for (const Case& c : cases) {
    auto utf8 = win32::narrowPath(c.utf16);
    if (c.expected == nullptr) {
      EXPECT_EQ(nameOf(utf8), "BadPathName");
    } else {
      EXPECT_EQ(utf8, Result<std::string>(c.expected));
    }
  }
}

// --- Error names ----------------------------------------------------------------

TEST(Win32ErrorNames, EveryWin32CodeMapsToItsEngineName) {
  struct Case {
    DWORD code;
    const char* name;
  };
  const Case cases[] = {
      {ERROR_FILE_NOT_FOUND, "FileNotFound"},
      {ERROR_PATH_NOT_FOUND, "FileNotFound"},
      {ERROR_ACCESS_DENIED, "AccessDenied"},
      {ERROR_SHARING_VIOLATION, "AccessDenied"},
      {ERROR_WRITE_PROTECT, "AccessDenied"},
      {ERROR_FILE_EXISTS, "PathAlreadyExists"},
      {ERROR_ALREADY_EXISTS, "PathAlreadyExists"},
      {ERROR_DIRECTORY, "NotDir"},
      {ERROR_FILENAME_EXCED_RANGE, "NameTooLong"},
      {ERROR_INVALID_NAME, "BadPathName"},
      {ERROR_BAD_PATHNAME, "BadPathName"},
      {ERROR_BAD_NETPATH, "NetworkNotFound"},
      {ERROR_BAD_NET_NAME, "NetworkNotFound"},
      {ERROR_NOT_READY, "NoDevice"},
      {ERROR_DEV_NOT_EXIST, "NoDevice"},
      {ERROR_INVALID_DRIVE, "NoDevice"},
      {ERROR_VIRUS_INFECTED, "AntivirusInterference"},
      {ERROR_VIRUS_DELETED, "AntivirusInterference"},
      {ERROR_LOCK_VIOLATION, "LockViolation"},
      {ERROR_NOT_ENOUGH_MEMORY, "SystemResources"},
      {ERROR_NO_SYSTEM_RESOURCES, "SystemResources"},
      {ERROR_WORKING_SET_QUOTA, "SystemResources"},
      {ERROR_TOO_MANY_OPEN_FILES, "SystemResources"},
      {ERROR_NOT_SAME_DEVICE, "RenameAcrossMountPoints"},
      {ERROR_DISK_FULL, "NoSpaceLeft"},
      {ERROR_HANDLE_DISK_FULL, "NoSpaceLeft"},
      {ERROR_CRC, "InputOutput"},
      {ERROR_IO_DEVICE, "InputOutput"},
      {ERROR_READ_FAULT, "InputOutput"},
      {ERROR_WRITE_FAULT, "InputOutput"},
      {ERROR_SECTOR_NOT_FOUND, "InputOutput"},
      {ERROR_INVALID_PARAMETER, "Unexpected"},
      {ERROR_GEN_FAILURE, "Unexpected"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(errorName(win32::errorFromWin32(c.code)), c.name) << "Win32 error " << c.code;
  }
}

}  // namespace
}  // namespace qorvex
