// The file system backend for Windows. Paths are UTF-8 inside the engine and
// UTF-16 only here, at the API edge; every call is a W function.
//
// The open directory is held as its full path with the "\\?\" prefix, and
// every relative path is appended to it. The prefix lifts the MAX_PATH limit
// and turns off the Win32 name rewriting (trailing dots and spaces dropped,
// '/' turned into '\', device names), so the checks that rewriting would do
// are made here instead, before a name reaches the file system.
//
// A path string cannot say where it leads: a junction or a symbolic link on
// the way may take it anywhere. So before each operation the folder it works
// in and the thing it works on are opened for their attributes only, and the
// name Windows reports for each open handle must be the install directory's
// own name followed by the names the engine asked for. The handles are
// closed again before the operation, which takes names, not handles.
#include "file_system_win32.h"
#include "clock.h"
#include "utf8.h"

// clang-format off
#include <windows.h>  // first: bcrypt.h and winternl.h need its types
#include <bcrypt.h>
#include <winternl.h>
// clang-format on

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "file_system.h"

// Codes that MinGW's winerror.h lacks, with the values of the Windows SDK.
#ifndef ERROR_VIRUS_INFECTED
#define ERROR_VIRUS_INFECTED 225L
#endif
#ifndef ERROR_VIRUS_DELETED
#define ERROR_VIRUS_DELETED 226L
#endif
#ifndef ERROR_ELEVATION_REQUIRED
#define ERROR_ELEVATION_REQUIRED 740L
#endif

extern "C" {
// Exported by ntdll since Windows XP; declared here because the SDK headers
// only have them in the DDK.
NTSYSAPI LONG NTAPI RtlGetLastNtStatus(void);
NTSYSAPI ULONG NTAPI RtlSetLastWin32ErrorAndNtStatusFromNtStatus(LONG status);
}

namespace qorvex::win32 {
namespace {

constexpr LONG kStatusSuccess = 0;
constexpr LONG kStatusDeletePending = static_cast<LONG>(0xC0000056);
constexpr LONG kStatusBufferOverflow = static_cast<LONG>(0x80000005);
constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);
constexpr LONG kStatusBufferTooSmall = static_cast<LONG>(0xC0000023);

// NTFS and the other Windows file systems allow 255 UTF-16 units per name;
// the "\\?\" form allows 32,767 for the whole path.
constexpr std::size_t kMaxComponent = 255;
constexpr std::size_t kMaxPath = 32767;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

class Handle {
 public:
  explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      close();
      handle_ = other.handle_;
      other.handle_ = INVALID_HANDLE_VALUE;
    }
    return *this;
  }
  ~Handle() { close(); }

  HANDLE get() const { return handle_; }
  HANDLE release() {
    HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return handle;
  }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  bool close() {
    if (!valid()) return true;
    HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return CloseHandle(handle) != 0;
  }

 private:
  HANDLE handle_;
};

bool isDirectoryPath(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Windows answers ERROR_PATH_NOT_FOUND both for a missing folder and for a
// file standing where a folder is expected; the engine tells them apart as
// FileNotFound and NotDir. The nearest existing ancestor decides.
Error missingPathError(const std::wstring& path, std::size_t rootLength) {
  std::size_t end = path.find_last_of(L'\\');
  while (end != std::wstring::npos && end > rootLength) {
    std::wstring ancestor = path.substr(0, end);
    DWORD attributes = GetFileAttributesW(ancestor.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
      return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? Error::FileNotFound : Error::NotDir;
    }
    end = path.find_last_of(L'\\', end - 1);
  }
  return Error::FileNotFound;
}

// The error of an open, create or delete of `path`, from the last Win32 error.
Error pathError(DWORD code, const std::wstring& path, std::size_t rootLength) {
  switch (code) {
    case ERROR_PATH_NOT_FOUND: return missingPathError(path, rootLength);
    // A directory opened as a file is refused with ERROR_ACCESS_DENIED.
    case ERROR_ACCESS_DENIED: return isDirectoryPath(path) ? Error::IsDir : Error::AccessDenied;
    default: return errorFromWin32(code);
  }
}

// The length of the volume part of an extended path: "\\?\C:" or
// "\\?\UNC\server\share". Nothing above it is a folder that can be missing.
std::size_t volumeLength(const std::wstring& path) {
  static constexpr std::wstring_view kUnc = L"\\\\?\\UNC\\";
  if (std::wstring_view(path).starts_with(kUnc)) {
    std::size_t server = path.find(L'\\', kUnc.size());
    if (server == std::wstring::npos) return path.size();
    std::size_t share = path.find(L'\\', server + 1);
    return share == std::wstring::npos ? path.size() : share;
  }
  std::size_t colon = path.find(L':');
  return colon == std::wstring::npos ? 4 : colon + 1;
}

bool isReservedCharacter(wchar_t c) {
  return c < 0x20 || c == L'<' || c == L'>' || c == L':' || c == L'"' || c == L'|' || c == L'?' ||
         c == L'*';
}

// One name, checked for what the "\\?\" prefix would otherwise let through:
// a ':' would open an alternate data stream, a trailing dot or space makes a
// name that Explorer cannot handle.
Result<void> checkName(std::wstring_view name) {
  if (name.size() > kMaxComponent) return fail(Error::NameTooLong);
  if (name.empty() || name.back() == L'.' || name.back() == L' ') return fail(Error::BadPathName);
  for (wchar_t c : name) {
    if (isReservedCharacter(c)) return fail(Error::BadPathName);
  }
  return {};
}

// A relative path from toNativeRelativePath(), checked name by name.
Result<void> checkRelativeNames(std::wstring_view relative) {
  std::size_t start = 0;
  while (start <= relative.size()) {
    std::size_t end = relative.find(L'\\', start);
    if (end == std::wstring_view::npos) end = relative.size();
    if (auto name = checkName(relative.substr(start, end - start)); !name) return name;
    start = end + 1;
  }
  return {};
}

bool samePath(std::wstring_view a, std::wstring_view b) {
  // Windows file names are compared without regard to case, the way NTFS
  // itself compares them (ordinal, not by the rules of a language).
  return a.size() == b.size() &&
         CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// The name Windows gives an open file or folder: the path it was reached by
// once every link on the way was followed ("\Device\HarddiskVolume3\..." on
// Windows, "\??\Z:\..." under Wine), without a trailing '\'. This is what
// GetFinalPathNameByHandleW builds on; that one is not used because under
// Wine 8 it fails for a path longer than MAX_PATH. Only ever asked of a disk
// file or folder: for a pipe the question can block.
Result<std::wstring> objectNameOf(HANDLE handle) {
  std::vector<unsigned char> buffer;
  ULONG size = sizeof(UNICODE_STRING) + (MAX_PATH + 1) * sizeof(wchar_t);
  for (;;) {
    try {
      buffer.resize(size);
    } catch (const std::bad_alloc&) {
      return fail(Error::OutOfMemory);
    }
    ULONG needed = 0;
    const NTSTATUS status =
        NtQueryObject(handle, ObjectNameInformation, buffer.data(), size, &needed);
    if (status == kStatusSuccess) break;
    if ((status != kStatusBufferOverflow && status != kStatusInfoLengthMismatch &&
         status != kStatusBufferTooSmall) ||
        needed <= size) {
      return fail(errorFromWin32(RtlNtStatusToDosError(status)));
    }
    size = needed;
  }
  const auto* name = reinterpret_cast<const UNICODE_STRING*>(buffer.data());
  std::wstring result(name->Buffer, name->Length / sizeof(wchar_t));
  if (!result.empty() && result.back() == L'\\') result.pop_back();
  return result;
}

// A symbolic link, a junction, a mount point: a reparse point that stands for
// another name. Other reparse points (deduplicated files, cloud placeholders)
// hold their own data under their own name, and are files like any other.
bool isLink(HANDLE handle, DWORD attributes) {
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return false;
  FILE_ATTRIBUTE_TAG_INFO tag;
  if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag)) return true;
  return IsReparseTagNameSurrogate(tag.ReparseTag);
}

// What an open handle shows of the thing behind it.
struct Found {
  FileKind kind = FileKind::Other;
  DWORD attributes = 0;
  // Of a disk file or folder.
  std::uint64_t size = 0;
  std::uint64_t links = 1;
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
};

// Why `found` is not a regular file to work on; links were refused before.
Error notARegularFile(const Found& found) {
  return found.kind == FileKind::Directory ? Error::IsDir : Error::NotAFile;
}

bool markedReadOnly(const Found& found) {
  return (found.attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

// Attributes a replacement takes over from the file it replaces. Never
// FILE_ATTRIBUTE_READONLY: the new file is a temporary one until it is put in
// place, and one that a run gives up must stay deletable.
constexpr DWORD kCopiedAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                    FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// The run's lock, in the install directory itself; see tryLock().
constexpr std::wstring_view kLockName = L".qorvex-lock";

class FindHandle {
 public:
  explicit FindHandle(HANDLE handle) : handle_(handle) {}
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;
  ~FindHandle() {
    if (valid()) FindClose(handle_);
  }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

class Win32WritableFile : public WritableFile {
 public:
  explicit Win32WritableFile(HANDLE handle) : handle_(handle) {}

  Result<void> write(std::string_view bytes) override {
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
      const DWORD chunk = static_cast<DWORD>(left < (1u << 30) ? left : (1u << 30));
      DWORD written = 0;
      if (!WriteFile(handle_.get(), p, chunk, &written, nullptr)) {
        return fail(errorFromWin32(GetLastError()));
      }
      if (written == 0) return fail(Error::Unexpected);
      p += written;
      left -= written;
    }
    return {};
  }

  // The content reaches the disk here, file by file: Windows has no call that
  // flushes a whole volume without administrator rights (see flush()).
  Result<void> commit() override {
    Result<void> result;
    if (!FlushFileBuffers(handle_.get())) result = fail(errorFromWin32(GetLastError()));
    if (!handle_.close() && result) result = fail(errorFromWin32(GetLastError()));
    return result;
  }

 private:
  Handle handle_;
};

// A relative path resolved beneath the install directory: the full extended
// path to hand to Windows, and the relative part of it as the names to expect
// when the name of an open handle is read back.
struct Place {
  std::wstring full;
  std::wstring relative;
};

class Win32Directory : public Directory {
 public:
  Win32Directory(std::wstring root, std::wstring rootName)
      : root_(std::move(root)), rootName_(std::move(rootName)) {}

  Result<std::string> readFile(std::string_view path, std::uint64_t maxBytes,
                               std::size_t spare) override {
    auto place = resolve(path);
    if (!place) return fail(place.error());
    // The kind is known before the data is opened, so that a pipe or a device
    // is never opened for reading; the open handle is examined again, so that
    // a swap in between is seen. The data is opened without
    // FILE_FLAG_OPEN_REPARSE_POINT: a deduplicated or cloud file would then
    // show its raw reparse data, not its bytes; a link is still refused by
    // its name.
    if (auto regular = requireFile(*place); !regular) return fail(regular.error());
    Handle file;
    bool opened = retryWhileDeletePending([&] {
      file = Handle(CreateFileW(place->full.c_str(), GENERIC_READ, kShareAll, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
      return file.valid();
    });
    if (!opened) return fail(pathError(GetLastError(), place->full, root_.size()));
    auto found = examine(file.get(), place->relative);
    if (!found) return fail(found.error());
    if (found->kind != FileKind::File) return fail(notARegularFile(*found));

    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.get(), &size)) return fail(errorFromWin32(GetLastError()));
    if (static_cast<std::uint64_t>(size.QuadPart) > maxBytes) return fail(Error::StreamTooLong);
    std::string content;
    try {
      content.reserve(static_cast<std::size_t>(size.QuadPart) + spare);
    } catch (const std::bad_alloc&) {
      return fail(Error::OutOfMemory);
    } catch (const std::length_error&) {
      return fail(Error::OutOfMemory);
    }
    // The size is only a hint: the file may grow while it is read, and the
    // limit holds for what is actually read.
    char buffer[65536];
    for (;;) {
      DWORD got = 0;
      if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) {
        DWORD code = GetLastError();
        if (code == ERROR_HANDLE_EOF) break;
        return fail(errorFromWin32(code));
      }
      if (got == 0) break;
      if (got > maxBytes - content.size()) return fail(Error::StreamTooLong);
      try {
        content.append(buffer, got);
      } catch (const std::bad_alloc&) {
        return fail(Error::OutOfMemory);
      }
    }
    return content;
  }

  Result<std::unique_ptr<WritableFile>> createFile(std::string_view path,
                                                   std::string_view model) override {
    auto place = resolve(path);
    if (!place) return fail(place.error());
    if (auto folder = checkFolder(*place); !folder) return fail(folder.error());
    DWORD attributes = modelAttributes(model);
    if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
    Handle file;
    // Always a new file: CREATE_NEW refuses every existing name, a link's
    // included, so nothing that is there is ever written in place.
    bool opened = retryWhileDeletePending([&] {
      file = Handle(CreateFileW(place->full.c_str(), GENERIC_WRITE, kShareAll, nullptr, CREATE_NEW,
                                attributes, nullptr));
      return file.valid();
    });
    if (!opened) return fail(pathError(GetLastError(), place->full, root_.size()));
    auto writable = std::unique_ptr<WritableFile>(new (std::nothrow) Win32WritableFile(file.get()));
    if (!writable) {
      file.close();
      (void)DeleteFileW(place->full.c_str());
      return fail(Error::OutOfMemory);
    }
    file.release();  // the writable file owns it now
    return writable;
  }

  Result<void> checkReplaceable(std::string_view path) override {
    auto file = existingFile(path);
    if (!file) return fail(file.error());
    // Windows refuses to replace or delete a file marked read-only. Wine
    // leaves that to the Unix permissions, which do not stop root; the flag
    // is checked here so that it holds everywhere.
    if (markedReadOnly(file->found)) return fail(Error::AccessDenied);
    // Another program that holds the file without delete sharing would make
    // the replacement fail; so would a user who may not delete it.
    return checkNamesRemovable(file->place.full);
  }

  Result<bool> isReadOnly(std::string_view path) override {
    auto file = existingFile(path);
    if (!file) return fail(file.error());
    return markedReadOnly(file->found);
  }

  Result<std::uint64_t> freeSpace(std::string_view folder) override {
    std::wstring full = root_;
    if (!folder.empty()) {
      auto place = resolve(folder);
      if (!place) return fail(place.error());
      full = place->full;
    }
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(full.c_str(), &available, nullptr, nullptr)) {
      return fail(errorFromWin32(GetLastError()));
    }
    return static_cast<std::uint64_t>(available.QuadPart);
  }

  Result<void> renameReplace(std::string_view from, std::string_view to) override {
    auto places = fileAndName(from, to);
    if (!places) return fail(places.error());
    const Place& source = places->source;
    const Place& target = places->target;
    auto existing = look(target);
    if (!existing) return fail(existing.error());
    if (*existing) {
      if ((*existing)->kind != FileKind::File) return fail(notARegularFile(**existing));
      if (markedReadOnly(**existing)) return fail(Error::AccessDenied);
    }
    // Write-through makes the rename itself durable before the call returns.
    // NTFS logs its metadata changes in order, so the links, new files and
    // deletions made before it reach the disk with it.
    if (MoveFileExW(source.full.c_str(), target.full.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return {};
    }
    const DWORD code = GetLastError();
    switch (code) {
      // Our source is a closed temporary file, so the share conflict is the
      // target's: another process holds it without FILE_SHARE_DELETE.
      case ERROR_SHARING_VIOLATION: return fail(Error::FileBusy);
      case ERROR_ACCESS_DENIED: return fail(whyReplaceWasDenied(target.full));
      case ERROR_PATH_NOT_FOUND: return fail(missingPathError(target.full, root_.size()));
      default: return fail(errorFromWin32(code));
    }
  }

  Result<void> renameNoReplace(std::string_view from, std::string_view to) override {
    auto places = fileAndNewName(from, to);
    if (!places) return fail(places.error());
    if (MoveFileExW(places->source.full.c_str(), places->target.full.c_str(),
                    MOVEFILE_WRITE_THROUGH)) {
      return {};
    }
    return fail(errorNaming(GetLastError(), places->target));
  }

  Result<void> linkFile(std::string_view from, std::string_view to) override {
    auto places = fileAndNewName(from, to);
    if (!places) return fail(places.error());
    if (auto removable = checkNamesRemovable(places->source.full); !removable) {
      return fail(removable.error());
    }
    if (CreateHardLinkW(places->target.full.c_str(), places->source.full.c_str(), nullptr))
      return {};
    return fail(errorNaming(GetLastError(), places->target));
  }

  Result<void> deleteFile(std::string_view path) override {
    auto file = existingFile(path);
    if (!file) return fail(file.error());
    if (markedReadOnly(file->found)) return fail(Error::AccessDenied);
    if (DeleteFileW(file->place.full.c_str())) return {};
    const DWORD code = GetLastError();
    // Held open without FILE_SHARE_DELETE: worth waiting for, like a rename.
    if (code == ERROR_SHARING_VIOLATION) return fail(Error::FileBusy);
    return fail(pathError(code, file->place.full, root_.size()));
  }

  Result<FileKind> kindOf(std::string_view path) override {
    auto found = lookUp(path);
    if (!found) return fail(found.error());
    return found->kind;
  }

  // Through the attributes-only handle of look(), so that a file another
  // program holds without sharing is described all the same.
  Result<FileInfo> fileInfo(std::string_view path) override {
    auto found = lookUp(path);
    if (!found) return fail(found.error());
    return FileInfo{found->kind, found->size, found->links, found->volume, found->index};
  }

  Result<void> makeDirectory(std::string_view path) override {
    auto place = resolve(path);
    if (!place) return fail(place.error());
    if (auto folder = checkFolder(*place); !folder) return fail(folder.error());
    if (CreateDirectoryW(place->full.c_str(), nullptr)) return {};
    return fail(pathError(GetLastError(), place->full, root_.size()));
  }

  Result<std::vector<std::string>> listFolder(std::string_view path) override {
    std::wstring pattern = root_;
    if (!path.empty()) {
      auto place = resolve(path);
      if (!place) return fail(place.error());
      auto found = look(*place);
      if (!found) return fail(found.error());
      if (!*found) return fail(Error::FileNotFound);
      if ((*found)->kind != FileKind::Directory) {
        return fail((*found)->kind == FileKind::File ? Error::NotDir : Error::NotAFile);
      }
      pattern = place->full + L'\\';
    }
    pattern.push_back(L'*');
    WIN32_FIND_DATAW entry;
    // FindExInfoBasic skips the short 8.3 names, which nothing here needs.
    FindHandle find(FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry,
                                     FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
    std::vector<std::string> names;
    if (!find.valid()) {
      const DWORD code = GetLastError();
      // Only the root of an empty drive has no "." to find.
      if (code == ERROR_FILE_NOT_FOUND) return names;
      return fail(errorFromWin32(code));
    }
    do {
      std::wstring_view name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      // A name that is not well-formed UTF-16 cannot be any the engine looks
      // for: every name it uses came from UTF-8.
      if (auto utf8 = narrowPath(name)) names.push_back(std::move(*utf8));
    } while (FindNextFileW(find.get(), &entry));
    const DWORD code = GetLastError();
    if (code != ERROR_NO_MORE_FILES) return fail(errorFromWin32(code));
    return names;
  }

  // Nothing is left to do here: commit() flushed each new file's content,
  // and every rename is write-through, which on NTFS carries every metadata
  // change logged before it (a link, a new file, a deletion) to the disk.
  // Flushing a whole volume at once needs administrator rights.
  Result<void> flush() override { return {}; }

  // The lock is a file in the install directory, opened without sharing and
  // deleted when it is closed: Windows closes it when the process ends, killed
  // or not, so a lock never outlives its run. A run that only reads must not
  // write even that file, so it only looks whether a writing run holds it.
  Result<void> tryLock(LockMode mode) override {
    if (lock_.valid()) return {};
    Place place{root_ + std::wstring(kLockName), std::wstring(kLockName)};
    // A link or a folder under the lock's name is never opened, let alone
    // deleted on close.
    auto existing = look(place);
    if (!existing) return fail(existing.error());
    if (*existing && (*existing)->kind != FileKind::File) return fail(notARegularFile(**existing));
    const bool exclusive = mode == LockMode::Exclusive;
    Handle lock;
    bool opened = retryWhileDeletePending([&] {
      lock = Handle(exclusive ? CreateFileW(place.full.c_str(), GENERIC_READ | DELETE, 0, nullptr,
                                            OPEN_ALWAYS,
                                            FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE |
                                                FILE_FLAG_OPEN_REPARSE_POINT,
                                            nullptr)
                              : CreateFileW(place.full.c_str(), GENERIC_READ, kShareAll, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
      return lock.valid();
    });
    if (!opened) {
      const DWORD code = GetLastError();
      if (code == ERROR_SHARING_VIOLATION) return fail(Error::InstallBusy);
      if (!exclusive && code == ERROR_FILE_NOT_FOUND) return {};
      return fail(errorFromWin32(code));
    }
    if (exclusive) lock_ = std::move(lock);
    return {};
  }

 private:
  Result<Place> resolve(std::string_view path) const {
    auto native = toNativeRelativePath(path, '\\');
    if (!native) return fail(native.error());
    auto relative = widenPath(*native);
    if (!relative) return fail(relative.error());
    if (auto names = checkRelativeNames(*relative); !names) return fail(names.error());
    if (root_.size() + relative->size() >= kMaxPath) return fail(Error::NameTooLong);
    return Place{root_ + *relative, std::move(*relative)};
  }

  // What `handle` is, and LinkRefused unless it is the thing named by the
  // relative path beneath the install directory, reached without a link: not
  // a link itself (real Windows shows one with FILE_FLAG_OPEN_REPARSE_POINT),
  // and with the name that the relative path spells (Wine follows a Unix
  // symbolic link all the same, and shows only where it leads).
  Result<Found> examine(HANDLE handle, std::wstring_view relative) const {
    Found found;
    // A pipe or a character device has no attributes worth asking for, and
    // is never worked on.
    if (GetFileType(handle) != FILE_TYPE_DISK) return found;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info)) return fail(errorFromWin32(GetLastError()));
    found.attributes = info.dwFileAttributes;
    found.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    found.links = info.nNumberOfLinks;
    found.volume = info.dwVolumeSerialNumber;
    found.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    if (isLink(handle, found.attributes)) return fail(Error::LinkRefused);
    auto name = objectNameOf(handle);
    if (!name) return fail(name.error());
    std::wstring expected = rootName_;
    expected.push_back(L'\\');
    expected.append(relative);
    if (!samePath(*name, expected)) return fail(Error::LinkRefused);
    if ((found.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      found.kind = FileKind::Directory;
    } else if ((found.attributes & FILE_ATTRIBUTE_DEVICE) == 0) {
      found.kind = FileKind::File;
    }
    return found;
  }

  // The folder that holds `place` must be a folder beneath the install
  // directory, reached without a link.
  // What is at `path`, of any kind; FileNotFound when nothing is.
  Result<Found> lookUp(std::string_view path) const {
    auto place = resolve(path);
    if (!place) return fail(place.error());
    auto found = look(*place);
    if (!found) return fail(found.error());
    if (!*found) return fail(Error::FileNotFound);
    return **found;
  }

  // A regular file and the name it is to get: where both are.
  struct FileAndName {
    Place source;
    Place target;
  };
  Result<FileAndName> fileAndName(std::string_view from, std::string_view to) const {
    auto source = resolve(from);
    if (!source) return fail(source.error());
    auto target = resolve(to);
    if (!target) return fail(target.error());
    if (auto file = requireFile(*source); !file) return fail(file.error());
    return FileAndName{std::move(*source), std::move(*target)};
  }
  // The same, for a name that must be new, in a folder that must be there.
  Result<FileAndName> fileAndNewName(std::string_view from, std::string_view to) const {
    auto places = fileAndName(from, to);
    if (!places) return fail(places.error());
    if (auto folder = checkFolder(places->target); !folder) return fail(folder.error());
    return places;
  }

  // The error of a failed call that gave a file the name `target`; a folder
  // missing on the way is told from the file.
  Error errorNaming(DWORD code, const Place& target) const {
    if (code == ERROR_PATH_NOT_FOUND) return missingPathError(target.full, root_.size());
    return errorFromWin32(code);
  }

  Result<void> checkFolder(const Place& place) const {
    const std::size_t slash = place.relative.rfind(L'\\');
    // The install directory itself was opened, and resolved, by openDirectory.
    if (slash == std::wstring::npos) return {};
    const std::wstring full = place.full.substr(0, root_.size() + slash);
    // Without FILE_FLAG_OPEN_REPARSE_POINT: every link on the way is
    // followed, so that its name shows where the way leads.
    Handle folder(CreateFileW(full.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folder.valid()) {
      const DWORD code = GetLastError();
      if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
        return fail(missingPathError(place.full, root_.size()));
      }
      return fail(errorFromWin32(code));
    }
    auto found = examine(folder.get(), std::wstring_view(place.relative).substr(0, slash));
    if (!found) return fail(found.error());
    if (found->kind != FileKind::Directory) return fail(Error::NotDir);
    return {};
  }

  // What is at `place`, seen through a handle that asks for nothing but
  // attributes, so that no share mode of another process stands in the way;
  // nullopt when nothing is. The handle is closed again before this returns,
  // so it never stands in the way of the operation that follows.
  Result<std::optional<Found>> look(const Place& place) const {
    if (auto folder = checkFolder(place); !folder) return fail(folder.error());
    Handle handle;
    // A file whose deletion is pending is waited for: it is about to be gone.
    bool opened = retryWhileDeletePending([&] {
      handle = Handle(
          CreateFileW(place.full.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
      return handle.valid();
    });
    if (!opened) {
      const DWORD code = GetLastError();
      const Error error = pathError(code, place.full, root_.size());
      if (error == Error::FileNotFound) return std::optional<Found>();
      return fail(error);
    }
    auto found = examine(handle.get(), place.relative);
    if (!found) return fail(found.error());
    return std::optional<Found>(*found);
  }

  // FileNotFound, or why it is not a regular file, unless one is at `place`.
  Result<Found> requireFile(const Place& place) const {
    auto found = look(place);
    if (!found) return fail(found.error());
    if (!*found) return fail(Error::FileNotFound);
    if ((*found)->kind != FileKind::File) return fail(notARegularFile(**found));
    return **found;
  }

  // The attributes a new file takes over from the regular file `model`; none
  // when there is no such file.
  DWORD modelAttributes(std::string_view model) const {
    if (model.empty()) return 0;
    auto file = existingFile(model);
    return file ? file->found.attributes & kCopiedAttributes : 0;
  }

  // A path that must name a regular file: where it is and what is there.
  struct ExistingFile {
    Place place;
    Found found;
  };
  Result<ExistingFile> existingFile(std::string_view path) const {
    auto place = resolve(path);
    if (!place) return fail(place.error());
    auto found = requireFile(*place);
    if (!found) return fail(found.error());
    return ExistingFile{std::move(*place), *found};
  }

  // FileBusy when another process holds the file without FILE_SHARE_DELETE.
  // While it does, no name of the file can be removed or replaced: a backup
  // made as a link now could not be turned into a copy of its own if the run
  // has to stop, and would change with every later edit of the file. The
  // engine makes a copy instead. Asking for delete access is what such a
  // holder refuses; the probe is closed at once, so it never refuses anyone.
  Result<void> checkNamesRemovable(const std::wstring& path) const {
    Handle probe(CreateFileW(path.c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (probe.valid()) return {};
    const DWORD code = GetLastError();
    return fail(code == ERROR_SHARING_VIOLATION ? Error::FileBusy : errorFromWin32(code));
  }

  // MoveFileExW says ERROR_ACCESS_DENIED both when the caller may not
  // replace the target and when the target is open elsewhere (even with full
  // sharing, a file in use cannot be superseded). The second is FileBusy, which
  // the engine waits for, so find out which it was.
  Error whyReplaceWasDenied(const std::wstring& target) const {
    DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return Error::AccessDenied;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return Error::IsDir;
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) return Error::AccessDenied;
    // Asking for delete access on the target is what the rename needed too:
    // a share conflict means it is held open without FILE_SHARE_DELETE; a
    // grant means we may replace it, so it was refused for being in use.
    Handle probe(CreateFileW(target.c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (probe.valid()) return Error::FileBusy;
    const DWORD code = GetLastError();
    if (code == ERROR_SHARING_VIOLATION) return Error::FileBusy;
    return errorFromWin32(code);
  }

  std::wstring root_;      // extended form with a trailing '\'
  std::wstring rootName_;  // where root_ leads, as objectNameOf() spells it
  Handle lock_;            // the run's lock file, when it holds one
};

class Win32FileSystem : public FileSystem {
 public:
  Result<std::unique_ptr<Directory>> openDirectory(std::string_view absolutePath) override {
    auto root = extendedDirectoryPath(absolutePath);
    if (!root) return fail(root.error());
    // FILE_FLAG_BACKUP_SEMANTICS is what lets CreateFileW open a directory;
    // without FILE_FLAG_OPEN_REPARSE_POINT it follows links and junctions.
    Handle directory(CreateFileW(root->c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!directory.valid()) {
      const DWORD code = GetLastError();
      // A file opened with the trailing '\' of a folder is refused with
      // whatever code the file system picks; a file there is NotDir.
      std::wstring withoutSlash = root->substr(0, root->size() - 1);
      DWORD attributes = GetFileAttributesW(withoutSlash.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return fail(Error::NotDir);
      }
      if (code == ERROR_PATH_NOT_FOUND || code == ERROR_FILE_NOT_FOUND) {
        return fail(missingPathError(withoutSlash, volumeLength(withoutSlash)));
      }
      return fail(errorFromWin32(code));
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(directory.get(), &info)) {
      return fail(errorFromWin32(GetLastError()));
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return fail(Error::NotDir);
    // Where the directory really is: every path of the run must lead beneath
    // it.
    auto rootName = objectNameOf(directory.get());
    if (!rootName) return fail(rootName.error());
    auto opened = std::unique_ptr<Directory>(
        new (std::nothrow) Win32Directory(std::move(*root), std::move(*rootName)));
    if (!opened) return fail(Error::OutOfMemory);
    return opened;
  }
};

class Win32Clock : public Clock {
 public:
  std::int64_t nowUnixSeconds() override {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return unixSecondsFromFileTime((static_cast<std::uint64_t>(now.dwHighDateTime) << 32) |
                                   now.dwLowDateTime);
  }

  void sleepMilliseconds(unsigned milliseconds) override { Sleep(milliseconds); }
};

class Win32Random : public Random {
 public:
  void randomBytes(unsigned char* out, std::size_t count) override {
    while (count > 0) {
      const ULONG chunk = static_cast<ULONG>(count < (1u << 30) ? count : (1u << 30));
      if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, out, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
        // The system generator does not fail on a working Windows; if it
        // does, nothing this program writes can be trusted to be unique.
        std::fputs("internal error: the system random generator failed\n", stderr);
        std::abort();
      }
      out += chunk;
      count -= chunk;
    }
  }
};

}  // namespace

Error errorFromWin32(unsigned long code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return Error::FileNotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_WRITE_PROTECT:
    case ERROR_NETWORK_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD:
    case ERROR_ELEVATION_REQUIRED:
    case ERROR_DELETE_PENDING: return Error::AccessDenied;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
    case ERROR_DIR_NOT_EMPTY: return Error::PathAlreadyExists;
    case ERROR_DIRECTORY: return Error::NotDir;
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BUFFER_OVERFLOW: return Error::NameTooLong;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME: return Error::BadPathName;
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME: return Error::NetworkNotFound;
    case ERROR_INVALID_DRIVE:
    case ERROR_NOT_READY:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_NO_MEDIA_IN_DRIVE:
    case ERROR_UNRECOGNIZED_VOLUME: return Error::NoDevice;
    case ERROR_VIRUS_INFECTED:
    case ERROR_VIRUS_DELETED: return Error::AntivirusInterference;
    case ERROR_LOCK_VIOLATION: return Error::LockViolation;
    case ERROR_TOO_MANY_OPEN_FILES:
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_NO_SYSTEM_RESOURCES:
    case ERROR_NONPAGED_SYSTEM_RESOURCES:
    case ERROR_PAGED_SYSTEM_RESOURCES:
    case ERROR_WORKING_SET_QUOTA:
    case ERROR_PAGEFILE_QUOTA:
    case ERROR_COMMITMENT_LIMIT:
    case ERROR_NOT_ENOUGH_QUOTA: return Error::SystemResources;
    case ERROR_NOT_SAME_DEVICE: return Error::RenameAcrossMountPoints;
    case ERROR_CANT_RESOLVE_FILENAME: return Error::SymLinkLoop;
    case ERROR_BUSY:
    case ERROR_PIPE_BUSY: return Error::DeviceBusy;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return Error::NoSpaceLeft;
    case ERROR_CRC:
    case ERROR_IO_DEVICE:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_SECTOR_NOT_FOUND: return Error::InputOutput;
    default: return Error::Unexpected;
  }
}

bool isDeletePending(unsigned long win32Error, long ntStatus) {
  if (win32Error == ERROR_DELETE_PENDING) return true;
  return win32Error == ERROR_ACCESS_DENIED && ntStatus == kStatusDeletePending;
}

bool retryWhileDeletePending(const std::function<bool()>& attempt) {
  for (;;) {
    // Clear the NT status first, so a STATUS_DELETE_PENDING left over from an
    // earlier call cannot make an ordinary refusal look like a pending delete.
    RtlSetLastWin32ErrorAndNtStatusFromNtStatus(kStatusSuccess);
    if (attempt()) return true;
    const DWORD code = GetLastError();
    if (!isDeletePending(code, RtlGetLastNtStatus())) return false;
    // The name stays taken until the last handle to the deleted file is
    // closed, which another process (a virus scanner, an indexer) usually
    // does within moments.
    Sleep(1);
  }
}

std::int64_t unixSecondsFromFileTime(std::uint64_t fileTime) {
  constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;
  return static_cast<std::int64_t>(fileTime / 10000000) - kSecondsFrom1601To1970;
}

Result<std::wstring> widenPath(std::string_view utf8) {
  try {
    // A NUL would end the name early for the system.
    if (utf8.find('\0') != std::string_view::npos) return fail(Error::BadPathName);
    std::optional<std::u16string> units = utf8ToUtf16(utf8);
    if (!units) return fail(Error::BadPathName);
    return std::wstring(units->begin(), units->end());
  } catch (const std::bad_alloc&) {
    return fail(Error::OutOfMemory);
  }
}

Result<std::string> narrowPath(std::wstring_view utf16) {
  try {
    // A lone surrogate half fails rather than becoming U+FFFD.
    std::optional<std::string> utf8 = utf16ToUtf8(
        std::u16string_view(reinterpret_cast<const char16_t*>(utf16.data()), utf16.size()));
    if (!utf8) return fail(Error::BadPathName);
    return std::move(*utf8);
  } catch (const std::bad_alloc&) {
    return fail(Error::OutOfMemory);
  }
}

Result<std::wstring> extendedDirectoryPath(std::string_view absolutePath) {
  if (!isAbsolutePath(absolutePath)) return fail(Error::BadPathName);
  auto wide = widenPath(absolutePath);
  if (!wide) return fail(wide.error());

  std::wstring full;
  if (wide->starts_with(L"\\\\?\\")) {
    // Already extended: the caller asked for no rewriting, so none is done.
    full = std::move(*wide);
  } else {
    // Resolves '/', "." and "..", and a leading '\' to the current drive.
    DWORD needed = GetFullPathNameW(wide->c_str(), 0, nullptr, nullptr);
    if (needed == 0) return fail(errorFromWin32(GetLastError()));
    std::wstring buffer(needed, L'\0');
    DWORD length = GetFullPathNameW(wide->c_str(), needed, buffer.data(), nullptr);
    if (length == 0 || length >= needed) return fail(Error::BadPathName);
    buffer.resize(length);
    if (buffer.starts_with(L"\\\\.\\")) {
      full = L"\\\\?\\" + buffer.substr(4);
    } else if (buffer.starts_with(L"\\\\")) {
      full = L"\\\\?\\UNC\\" + buffer.substr(2);
    } else {
      full = L"\\\\?\\" + buffer;
    }
  }
  if (full.back() != L'\\') full.push_back(L'\\');
  if (full.size() >= kMaxPath) return fail(Error::NameTooLong);
  return full;
}

}  // namespace qorvex::win32

namespace qorvex {

Result<void> checkPlatformName(std::string_view name) {
  // A separator would make two names of one.
  if (name.find_first_of("\\/") != std::string_view::npos) return fail(Error::BadPathName);
  auto wide = win32::widenPath(name);
  if (!wide || !win32::checkName(*wide)) return fail(Error::BadPathName);
  return {};
}

std::unique_ptr<FileSystem> makePlatformFileSystem() {
  return std::make_unique<win32::Win32FileSystem>();
}

Clock& systemClock() {
  static win32::Win32Clock clock;
  return clock;
}

Random& systemRandom() {
  static win32::Win32Random random;
  return random;
}

}  // namespace qorvex
