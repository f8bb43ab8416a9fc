#pragma once

#include <string>
#include <string_view>

#include "error.h"
#include "clock.h"
#include "file_system.h"

namespace qorvex {

// Every temporary file stands for one file of the install and lies beside it,
// named ".{name}.qorvex-tmp-{16 random characters}", so that one left behind by
// a killed run is recognised (and removed) by the next run that touches the file.

// ".{name}.qorvex-tmp-" in the folder of `path`.
std::string temporaryPrefixFor(std::string_view path);
// True when `entry`, a name in the folder of a file called `fileName`, is one
// of that file's temporary files.
bool isTemporaryFileOf(std::string_view entry, std::string_view fileName);
// 16 characters of the URL-safe Base64 alphabet from 12 random bytes.
std::string randomTempName(Random& random);

// Writes `bytes` to a new temporary file for `path`, with the permissions and
// owner of `path` when it exists, and returns its path. A name that is taken
// is drawn again, a bounded number of times. On failure nothing is left behind.
Result<std::string> writeTemporaryFile(Random& random, Directory& dir, std::string_view path,
                                       std::string_view bytes);

// The folder part of a manifest path, with its trailing separator ("" for a
// file directly in the install directory), and the name after it.
std::string_view folderOf(std::string_view path);
std::string_view fileNameOf(std::string_view path);

}  // namespace qorvex
