#include "error.h"

namespace qorvex {

std::string_view errorName(Error error) {
  switch (error) {
    case Error::FileNotFound: return "FileNotFound";
    case Error::AccessDenied: return "AccessDenied";
    case Error::PathAlreadyExists: return "PathAlreadyExists";
    case Error::IsDir: return "IsDir";
    case Error::NotDir: return "NotDir";
    case Error::NameTooLong: return "NameTooLong";
    case Error::BadPathName: return "BadPathName";
    case Error::NetworkNotFound: return "NetworkNotFound";
    case Error::NoDevice: return "NoDevice";
    case Error::AntivirusInterference: return "AntivirusInterference";
    case Error::LockViolation: return "LockViolation";
    case Error::SystemResources: return "SystemResources";
    case Error::RenameAcrossMountPoints: return "RenameAcrossMountPoints";
    case Error::StreamTooLong: return "StreamTooLong";
    case Error::SymLinkLoop: return "SymLinkLoop";
    case Error::DeviceBusy: return "DeviceBusy";
    case Error::FileBusy: return "FileBusy";
    case Error::NotAFile: return "NotAFile";
    case Error::LinkRefused: return "LinkRefused";
    case Error::NoSpaceLeft: return "NoSpaceLeft";
    case Error::InputOutput: return "InputOutput";
    case Error::InstallBusy: return "InstallBusy";
    case Error::FileChanged: return "FileChanged";
    case Error::Unexpected: return "Unexpected";
    case Error::OutOfMemory: return "OutOfMemory";
    case Error::SyntaxError: return "SyntaxError";
    case Error::UnexpectedEndOfInput: return "UnexpectedEndOfInput";
    case Error::UnexpectedToken: return "UnexpectedToken";
    case Error::MissingField: return "MissingField";
    case Error::DuplicateField: return "DuplicateField";
    case Error::InvalidNumber: return "InvalidNumber";
    case Error::Overflow: return "Overflow";
    case Error::EmbeddedResourceNotFound: return "EmbeddedResourceNotFound";
    case Error::NoPathProvided: return "NoPathProvided";
    case Error::MissionEditorFolderNotFound: return "MissionEditorFolderNotFound";
  }
  return "Unexpected";
}

}  // namespace qorvex
