#pragma once

#include <expected>
#include <string_view>

namespace qorvex {

// Every failure the engine reports is one of these names; log lines and the
// command line print them with errorName().
enum class Error {
  // File system
  FileNotFound,
  AccessDenied,
  PathAlreadyExists,
  IsDir,
  NotDir,
  NameTooLong,
  BadPathName,
  NetworkNotFound,
  NoDevice,
  AntivirusInterference,
  LockViolation,
  SystemResources,
  RenameAcrossMountPoints,
  StreamTooLong,
  SymLinkLoop,
  DeviceBusy,
  // Another process holds the file open in a way that forbids replacing it.
  FileBusy,
  // Something other than a regular file or a folder: a FIFO, a device, a socket.
  NotAFile,
  // A link (symlink, junction) where the run will not follow one: a file that
  // is a link, or a folder on the way that leads out of the install.
  LinkRefused,
  NoSpaceLeft,
  InputOutput,
  // Another run holds the install directory.
  InstallBusy,
  // A file changed between the moment it was compared and the moment it was
  // to be removed.
  FileChanged,
  Unexpected,
  // Memory
  OutOfMemory,
  // Manifest
  SyntaxError,
  UnexpectedEndOfInput,
  UnexpectedToken,
  MissingField,
  DuplicateField,
  InvalidNumber,
  Overflow,
  // Payload
  EmbeddedResourceNotFound,
  // Install directory validation
  NoPathProvided,
  MissionEditorFolderNotFound,
};

std::string_view errorName(Error error);

template <typename T>
using Result = std::expected<T, Error>;

inline std::unexpected<Error> fail(Error error) { return std::unexpected<Error>(error); }

}  // namespace qorvex
