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
  // Raised by a backend when a rename is refused because another process holds
  // the target open; writeWholeFile then falls back to writing in place.
  FileBusy,
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
