#pragma once

// Pieces of the Win32 file backend that its tests reach directly. The backend
// itself is made by makePlatformFileSystem(); nothing else should need this.
// Win32 types are spelled as plain integers so no Windows header leaks out.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "error.h"

namespace qorvex::win32 {

// The engine's name for a Win32 error code. Operations refine a few codes
// with what they know (a directory where a file was expected, a file where a
// folder was expected, a rename target held open); this is the plain table.
Error errorFromWin32(unsigned long code);

// True when a failed open met a file whose deletion is not complete yet.
// Windows reports that as ERROR_DELETE_PENDING, or as ERROR_ACCESS_DENIED
// with the thread's last NT status STATUS_DELETE_PENDING.
bool isDeletePending(unsigned long win32Error, long ntStatus);

// Calls `attempt` until it succeeds or fails for another reason than a
// pending deletion, waiting 1 ms between tries. `attempt` returns true on
// success and leaves the thread's last error (and NT status) set on failure.
// Returns the last attempt's outcome; GetLastError() then tells why.
bool retryWhileDeletePending(const std::function<bool()>& attempt);

// Whole seconds since 1970-01-01 UTC, floored, of a FILETIME value (100 ns
// intervals since 1601-01-01 UTC).
std::int64_t unixSecondsFromFileTime(std::uint64_t fileTime);

// Strict UTF-8 to UTF-16: BadPathName for ill-formed UTF-8 (overlong forms,
// encoded surrogates, truncated sequences) and for an embedded NUL.
Result<std::wstring> widenPath(std::string_view utf8);

// Strict UTF-16 to UTF-8, for names Windows hands back: BadPathName for a
// lone surrogate, which NTFS allows in a name but UTF-8 cannot spell.
Result<std::string> narrowPath(std::wstring_view utf16);

// The absolute path of a directory in the form the backend resolves against:
// full, with the "\\?\" (or "\\?\UNC\") prefix so long paths work, and a
// trailing '\'. BadPathName when the path is not absolute.
Result<std::wstring> extendedDirectoryPath(std::string_view absolutePath);

}  // namespace qorvex::win32
