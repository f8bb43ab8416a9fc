#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "error.h"

namespace qorvex {

// Everything the passes do to the game install goes through these interfaces,
// so tests can run the engine on an in-memory or fault-injecting file system.
//
// Paths handed to a Directory are relative to it and spelled as the manifest
// spells them: '\' (or '/') separates components. A backend maps them to its
// own separator. A path that is empty, absolute (leading separator or a drive
// letter) or has a ".." component fails every operation with BadPathName, so a
// manifest can never reach outside the install directory.

class WritableFile {
 public:
  virtual ~WritableFile() = default;
  // Writes all bytes or fails; a failure may leave part of them written.
  virtual Result<void> write(std::string_view bytes) = 0;
  // Closes the file; its content is complete once this succeeds. When it
  // reaches stable storage is the backend's choice (the POSIX backend flushes
  // everything a directory wrote once, when the directory is closed).
  virtual Result<void> commit() = 0;
};

enum class FileKind { File, Directory, Other };

enum class CreateMode {
  New,       // fails with PathAlreadyExists when the name exists
  Truncate,  // creates the file or truncates an existing one
};

class Directory {
 public:
  virtual ~Directory() = default;

  // The whole content; StreamTooLong when the file holds more than maxBytes.
  virtual Result<std::string> readFile(std::string_view path, std::uint64_t maxBytes) = 0;
  // Opened for writing only, shared for reading, writing and deleting.
  virtual Result<std::unique_ptr<WritableFile>> createFile(std::string_view path,
                                                           CreateMode mode) = 0;
  // Replaces `to` if it exists. FileBusy when another process holds `to` open
  // in a way that forbids replacing it.
  virtual Result<void> renameReplace(std::string_view from, std::string_view to) = 0;
  // Never replaces: PathAlreadyExists when `to` exists.
  virtual Result<void> renameNoReplace(std::string_view from, std::string_view to) = 0;
  virtual Result<void> deleteFile(std::string_view path) = 0;
  // FileNotFound when nothing of that name exists.
  virtual Result<FileKind> kindOf(std::string_view path) = 0;
  // One folder; PathAlreadyExists when the name exists (folder or not).
  virtual Result<void> makeDirectory(std::string_view path) = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Opens an absolute directory path. Links are followed.
  virtual Result<std::unique_ptr<Directory>> openDirectory(std::string_view absolutePath) = 0;
  // Seconds since 1970-01-01 UTC, floored.
  virtual std::int64_t nowUnixSeconds() = 0;
  // Bytes from the system's random generator.
  virtual void randomBytes(unsigned char* out, std::size_t count) = 0;
};

// The backend of the platform this program is built for.
std::unique_ptr<FileSystem> makePlatformFileSystem();

// Maps a manifest-style relative path to the backend's separator ('\' and '/'
// separate; empty and "." components are dropped). BadPathName for an empty,
// absolute or escaping path.
Result<std::string> toNativeRelativePath(std::string_view path, char separator);

// True when the path is absolute: a leading '\' or '/', or a drive letter,
// ':' and then '\' or '/'.
bool isAbsolutePath(std::string_view path);

}  // namespace qorvex
