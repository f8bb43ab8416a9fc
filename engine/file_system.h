#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "error.h"
#include "relative_path.h"

namespace qorvex {

// Everything the passes do to the game install goes through these interfaces,
// so tests can run the engine on an in-memory or fault-injecting file system.
//
// Paths handed to a Directory are relative to it and spelled as the manifest
// spells them: '\' (or '/') separates components. A backend maps them to its
// own separator. A path that is empty, absolute (leading separator or a drive
// letter), has a ".." component or holds a NUL byte fails every operation with
// BadPathName, so a manifest can never reach outside the install directory.
//
// Nor can a link: a backend resolves every path beneath the opened directory.
// A folder on the way may be a link only where the platform can prove that it
// stays inside (LinkRefused otherwise), and the file an operation acts on is
// never followed: a file that is a link is LinkRefused.

class WritableFile {
 public:
  virtual ~WritableFile() = default;
  // Writes all bytes or fails; a failure may leave part of them written.
  virtual Result<void> write(std::string_view bytes) = 0;
  // Closes the file; its content is complete once this succeeds, and on
  // stable storage once the directory's flush() has succeeded after it.
  virtual Result<void> commit() = 0;
};

enum class FileKind { File, Directory, Other };

// What a name stands for, seen without following it.
struct FileInfo {
  FileKind kind = FileKind::Other;
  std::uint64_t size = 0;   // bytes of a regular file
  std::uint64_t links = 1;  // names of a regular file, in any folder
  // Two names with the same volume and index are one file: removing one of
  // them frees nothing while the other is there.
  std::uint64_t volume = 0;
  std::uint64_t index = 0;

  bool sameFileAs(const FileInfo& other) const {
    return volume == other.volume && index == other.index;
  }
};

enum class LockMode {
  Shared,     // a run that only reads
  Exclusive,  // a run that writes
};

class Directory {
 public:
  virtual ~Directory() = default;

  // The whole content of a regular file: IsDir for a folder, NotAFile for
  // anything else (FIFO, device, socket), LinkRefused for a link; never blocks.
  // StreamTooLong when the file holds more than maxBytes. Room for `spare`
  // more bytes is allocated with the text, so that a caller who grows it
  // does not move it.
  virtual Result<std::string> readFile(std::string_view path, std::uint64_t maxBytes,
                                       std::size_t spare = 0) = 0;
  // A new file, opened for writing only; PathAlreadyExists when the name is
  // taken. It gets the permission bits, owner and group of the regular file
  // `model` when there is one (what it will replace or copy), otherwise those
  // of a new file in its folder.
  virtual Result<std::unique_ptr<WritableFile>> createFile(std::string_view path,
                                                           std::string_view model) = 0;
  // Whether this process may replace or delete the file at `path`, changing
  // nothing: FileNotFound when nothing of that name exists; LinkRefused, IsDir
  // or NotAFile when it is not a regular file; AccessDenied when it is
  // read-only or its folder does not take changes.
  virtual Result<void> checkReplaceable(std::string_view path) = 0;
  // True when the file is marked read-only (no write bit at all on POSIX,
  // the read-only attribute on Windows).
  virtual Result<bool> isReadOnly(std::string_view path) = 0;
  // Replaces `to`, which must be absent or a regular file that is not
  // read-only. FileBusy when another process holds `to` open in a way that
  // forbids replacing it.
  virtual Result<void> renameReplace(std::string_view from, std::string_view to) = 0;
  // Never replaces: PathAlreadyExists when `to` exists.
  virtual Result<void> renameNoReplace(std::string_view from, std::string_view to) = 0;
  // A second name for the regular file `from` (a hard link); never replaces:
  // PathAlreadyExists when `to` exists. Any other failure means the platform
  // or the file system cannot link this file.
  virtual Result<void> linkFile(std::string_view from, std::string_view to) = 0;
  // Removes a regular file.
  virtual Result<void> deleteFile(std::string_view path) = 0;
  // FileNotFound when nothing of that name exists.
  virtual Result<FileKind> kindOf(std::string_view path) = 0;
  // The kind, size, identity and number of names of what is at `path`, never
  // following it: LinkRefused for a link, as readFile() says; FileNotFound
  // when nothing of that name exists. Only a regular file's size, links and
  // identity mean anything.
  virtual Result<FileInfo> fileInfo(std::string_view path) = 0;
  // One folder; PathAlreadyExists when the name exists (folder or not).
  virtual Result<void> makeDirectory(std::string_view path) = 0;
  // Bytes this process may still write on the folder's file system ("" is
  // this directory itself).
  virtual Result<std::uint64_t> freeSpace(std::string_view folder) = 0;
  // The names in a folder ("" is this directory itself), without "." and "..".
  virtual Result<std::vector<std::string>> listFolder(std::string_view path) = 0;
  // Returns once everything this directory created, wrote, renamed, linked or
  // deleted so far is on stable storage; the error when that failed.
  virtual Result<void> flush() = 0;
  // Takes the run's lock on this directory without waiting; it is held until
  // the directory is closed. InstallBusy when another process holds a lock
  // that conflicts.
  virtual Result<void> tryLock(LockMode mode) = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Opens an absolute directory path. Links are followed.
  virtual Result<std::unique_ptr<Directory>> openDirectory(std::string_view absolutePath) = 0;
};

// The backend of the platform this program is built for.
std::unique_ptr<FileSystem> makePlatformFileSystem();

}  // namespace qorvex
