#pragma once

// Helpers the Windows tests share: they reach the real file system through
// Win32 directly, beside the backend under test, so that what a test sees does
// not depend on the code it tests.

#include <windows.h>

#include <map>
#include <string>
#include <string_view>

#include "error.h"

namespace qorvex::test_support {

inline constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::wstring wide(std::string_view utf8);
std::string narrow(std::wstring_view utf16);

// "ok" or the error's name, so that a failed expectation shows both.
inline std::string nameOf(const Result<void>& result) {
  return result ? "ok" : std::string(errorName(result.error()));
}
template <typename T>
std::string nameOf(const Result<T>& result) {
  return result ? "ok" : std::string(errorName(result.error()));
}

// Removes a folder and everything in it, read-only files included.
void removeTree(const std::wstring& path);

// A fresh, empty folder under %TEMP%, named after `prefix` and random digits.
std::wstring makeScratchFolder(std::wstring_view prefix);

// The whole content of a file through a handle of our own, shared for
// everything; "<cannot open: CODE>" when it cannot be opened.
std::string readBytes(const std::wstring& path);

// The volume and index that identify a file whatever its name: equal for two
// names of one file; "<cannot open: CODE>" when it cannot be opened.
std::string fileIdOf(const std::wstring& path);

// Every file under `root`, by its path relative to `root` with '\', with its
// bytes. Folders appear only through the files in them.
using Tree = std::map<std::string, std::string>;
Tree snapshot(const std::wstring& root);

// Copies the folder `from`, with everything in it, to the new folder `to`.
bool copyTree(const std::wstring& from, const std::wstring& to);

}  // namespace qorvex::test_support
