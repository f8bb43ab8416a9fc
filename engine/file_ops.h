#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "error.h"
#include "file_system.h"

namespace qorvex {

struct RunContext;

inline constexpr std::uint64_t kMaxFileSize = 16u * 1024u * 1024u;

Result<std::string> readWholeFile(Directory& dir, std::string_view relativePath);

// Copies the file to "{path}.qorvex-backup_{stamp}.bak" through a temporary
// file, so the backup name never holds a partial copy. A backup never replaces
// an earlier one: a taken name gets "_2", "_3", ... before ".bak". Counts the
// backup and logs its line.
Result<void> createBackup(RunContext& run, std::string_view relativePath);

// Replaces the file's content through a temporary file renamed over it; only
// when the rename is refused because the file is held open does it write in
// place. A failure leaves the old content and no temporary file.
Result<void> writeWholeFile(FileSystem& fs, Directory& dir, std::string_view relativePath,
                            std::string_view bytes);

// The last step of every changed file: backup, then the new content, then
// the file counts as patched.
Result<void> backUpAndWrite(RunContext& run, std::string_view relativePath, std::string_view text);

Result<void> deleteFile(Directory& dir, std::string_view relativePath);

// Creates the folder and every missing folder above it; NotDir when a
// component exists but is not a folder.
Result<void> makeFolders(Directory& dir, std::string_view relativePath);

// "20250131_235959" for the given seconds since 1970-01-01 UTC.
std::string formatBackupStamp(std::int64_t unixSeconds);
// "{path}.qorvex-backup_{stamp}.bak", or with "_{n}" before ".bak" for n >= 2.
std::string backupPathFor(std::string_view relativePath, std::string_view stamp, unsigned n);
// 16 characters of the URL-safe Base64 alphabet from 12 random bytes.
std::string randomTempName(FileSystem& fs);

}  // namespace qorvex
