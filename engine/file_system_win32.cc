// The file system backend for Windows. Paths are UTF-8 inside the engine and
// UTF-16 only here, at the API edge; every call is a W function.
//
// The open directory is held as its full path with the "\\?\" prefix, and
// every relative path is appended to it. The prefix lifts the MAX_PATH limit
// and turns off the Win32 name rewriting (trailing dots and spaces dropped,
// '/' turned into '\', device names), so the checks that rewriting would do
// are made here instead, before a name reaches the file system.
#include "file_system_win32.h"

// clang-format off
#include <windows.h>  // first: bcrypt.h needs its types
#include <bcrypt.h>
// clang-format on

#include <cstdio>
#include <cstdlib>
#include <new>

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

// Windows refuses to overwrite or replace a file marked read-only. Wine
// (where Linux players run the setup) leaves that to the Unix permissions,
// which do not stop root; the flag is checked here so it holds everywhere.
bool isReadOnlyFile(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) ==
             FILE_ATTRIBUTE_READONLY;
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

// A relative path from toNativeRelativePath(), checked name by name for what
// the "\\?\" prefix would otherwise let through: a ':' would open an
// alternate data stream, a trailing dot or space makes a name that Explorer
// cannot handle.
Result<void> checkRelativeNames(std::wstring_view relative) {
  std::size_t start = 0;
  while (start <= relative.size()) {
    std::size_t end = relative.find(L'\\', start);
    if (end == std::wstring_view::npos) end = relative.size();
    std::wstring_view name = relative.substr(start, end - start);
    if (name.size() > kMaxComponent) return fail(Error::NameTooLong);
    if (name.empty() || name.back() == L'.' || name.back() == L' ') return fail(Error::BadPathName);
    for (wchar_t c : name) {
      if (isReservedCharacter(c)) return fail(Error::BadPathName);
    }
    start = end + 1;
  }
  return {};
}

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

  Result<void> commit() override {
    Result<void> result;
    if (!FlushFileBuffers(handle_.get())) result = fail(errorFromWin32(GetLastError()));
    if (!handle_.close() && result) result = fail(errorFromWin32(GetLastError()));
    return result;
  }

 private:
  Handle handle_;
};

class Win32Directory : public Directory {
 public:
  explicit Win32Directory(std::wstring root) : root_(std::move(root)) {}

  Result<std::string> readFile(std::string_view path, std::uint64_t maxBytes) override {
    auto full = resolve(path);
    if (!full) return fail(full.error());
    Handle file;
    bool opened = retryWhileDeletePending([&] {
      file = Handle(CreateFileW(full->c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
      return file.valid();
    });
    if (!opened) return fail(pathError(GetLastError(), *full, root_.size()));

    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.get(), &size)) return fail(errorFromWin32(GetLastError()));
    if (static_cast<std::uint64_t>(size.QuadPart) > maxBytes) return fail(Error::StreamTooLong);
    std::string content;
    try {
      content.reserve(static_cast<std::size_t>(size.QuadPart));
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
                                                   CreateMode mode) override {
    auto full = resolve(path);
    if (!full) return fail(full.error());
    if (mode == CreateMode::Truncate && isReadOnlyFile(*full)) return fail(Error::AccessDenied);
    const DWORD disposition = mode == CreateMode::New ? CREATE_NEW : CREATE_ALWAYS;
    Handle file;
    // Written files are shared for everything and never locked, so the game
    // may keep reading them.
    bool opened = retryWhileDeletePending([&] {
      file = Handle(CreateFileW(full->c_str(), GENERIC_WRITE, kShareAll, nullptr, disposition,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
      return file.valid();
    });
    if (!opened) return fail(pathError(GetLastError(), *full, root_.size()));
    auto writable = std::unique_ptr<WritableFile>(new (std::nothrow) Win32WritableFile(file.get()));
    if (!writable) return fail(Error::OutOfMemory);
    file.release();  // the writable file owns it now
    return writable;
  }

  Result<void> renameReplace(std::string_view from, std::string_view to) override {
    auto fullFrom = resolve(from);
    if (!fullFrom) return fail(fullFrom.error());
    auto fullTo = resolve(to);
    if (!fullTo) return fail(fullTo.error());
    if (isReadOnlyFile(*fullTo)) return fail(Error::AccessDenied);
    if (MoveFileExW(fullFrom->c_str(), fullTo->c_str(), MOVEFILE_REPLACE_EXISTING)) return {};
    const DWORD code = GetLastError();
    switch (code) {
      // Our source is a closed temporary file, so the share conflict is the
      // target's: another process holds it without FILE_SHARE_DELETE.
      case ERROR_SHARING_VIOLATION: return fail(Error::FileBusy);
      case ERROR_ACCESS_DENIED: return fail(whyReplaceWasDenied(*fullTo));
      case ERROR_PATH_NOT_FOUND: return fail(missingPathError(*fullTo, root_.size()));
      default: return fail(errorFromWin32(code));
    }
  }

  Result<void> renameNoReplace(std::string_view from, std::string_view to) override {
    auto fullFrom = resolve(from);
    if (!fullFrom) return fail(fullFrom.error());
    auto fullTo = resolve(to);
    if (!fullTo) return fail(fullTo.error());
    if (MoveFileExW(fullFrom->c_str(), fullTo->c_str(), 0)) return {};
    const DWORD code = GetLastError();
    if (code == ERROR_PATH_NOT_FOUND) return fail(missingPathError(*fullTo, root_.size()));
    return fail(errorFromWin32(code));
  }

  Result<void> deleteFile(std::string_view path) override {
    auto full = resolve(path);
    if (!full) return fail(full.error());
    if (DeleteFileW(full->c_str())) return {};
    return fail(pathError(GetLastError(), *full, root_.size()));
  }

  Result<FileKind> kindOf(std::string_view path) override {
    auto full = resolve(path);
    if (!full) return fail(full.error());
    // GetFileAttributesW needs no share access, so it answers even for a
    // file that another process holds without sharing. A file whose deletion
    // is pending is waited for like an open: it is about to be gone.
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    bool found = retryWhileDeletePending([&] {
      attributes = GetFileAttributesW(full->c_str());
      return attributes != INVALID_FILE_ATTRIBUTES;
    });
    if (!found) return fail(pathError(GetLastError(), *full, root_.size()));
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return FileKind::Directory;
    if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0) return FileKind::Other;
    return FileKind::File;
  }

  Result<void> makeDirectory(std::string_view path) override {
    auto full = resolve(path);
    if (!full) return fail(full.error());
    if (CreateDirectoryW(full->c_str(), nullptr)) return {};
    return fail(pathError(GetLastError(), *full, root_.size()));
  }

 private:
  Result<std::wstring> resolve(std::string_view path) const {
    auto native = toNativeRelativePath(path, '\\');
    if (!native) return fail(native.error());
    auto relative = widenPath(*native);
    if (!relative) return fail(relative.error());
    if (auto names = checkRelativeNames(*relative); !names) return fail(names.error());
    if (root_.size() + relative->size() >= kMaxPath) return fail(Error::NameTooLong);
    return root_ + *relative;
  }

  // MoveFileExW says ERROR_ACCESS_DENIED both when the caller may not
  // replace the target and when the target is open elsewhere (even with full
  // sharing, a file in use cannot be superseded). Only the second is worth
  // the in-place fallback, so find out which it was.
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

  std::wstring root_;  // extended form with a trailing '\'
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
    auto opened = std::unique_ptr<Directory>(new (std::nothrow) Win32Directory(std::move(*root)));
    if (!opened) return fail(Error::OutOfMemory);
    return opened;
  }

  std::int64_t nowUnixSeconds() override {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return unixSecondsFromFileTime((static_cast<std::uint64_t>(now.dwHighDateTime) << 32) |
                                   now.dwLowDateTime);
  }

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
    // ERROR_DISK_FULL and ERROR_HANDLE_DISK_FULL land here on purpose: a
    // full disk has no name of its own.
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
  std::wstring wide;
  try {
    wide.reserve(utf8.size());
  } catch (const std::bad_alloc&) {
    return fail(Error::OutOfMemory);
  }
  std::size_t i = 0;
  while (i < utf8.size()) {
    const unsigned char lead = static_cast<unsigned char>(utf8[i]);
    std::uint32_t codePoint;
    std::size_t length;
    std::uint32_t minimum;
    if (lead < 0x80) {
      codePoint = lead;
      length = 1;
      minimum = 0;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      codePoint = lead & 0x1F;
      length = 2;
      minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      codePoint = lead & 0x0F;
      length = 3;
      minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      codePoint = lead & 0x07;
      length = 4;
      minimum = 0x10000;
    } else {
      return fail(Error::BadPathName);
    }
    if (utf8.size() - i < length) return fail(Error::BadPathName);
    for (std::size_t k = 1; k < length; ++k) {
      const unsigned char next = static_cast<unsigned char>(utf8[i + k]);
      if ((next & 0xC0) != 0x80) return fail(Error::BadPathName);
      codePoint = (codePoint << 6) | (next & 0x3F);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF ||
        (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
      return fail(Error::BadPathName);
    }
    if (codePoint == 0) return fail(Error::BadPathName);
    if (codePoint >= 0x10000) {
      codePoint -= 0x10000;
      wide.push_back(static_cast<wchar_t>(0xD800 + (codePoint >> 10)));
      wide.push_back(static_cast<wchar_t>(0xDC00 + (codePoint & 0x3FF)));
    } else {
      wide.push_back(static_cast<wchar_t>(codePoint));
    }
    i += length;
  }
  return wide;
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

std::unique_ptr<FileSystem> makePlatformFileSystem() {
  return std::make_unique<win32::Win32FileSystem>();
}

}  // namespace qorvex
