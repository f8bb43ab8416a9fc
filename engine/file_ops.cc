#include "file_ops.h"

#include <cstdio>

#include "run_context.h"

namespace qorvex {
namespace {

// The folder part of a manifest path, with its trailing separator ("" for a
// file directly in the install directory).
std::string_view folderOf(std::string_view path) {
  std::size_t slash = path.find_last_of("\\/");
  return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash + 1);
}

std::string_view fileNameOf(std::string_view path) {
  std::size_t slash = path.find_last_of("\\/");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// Writes bytes to a new temporary file in `folder`; returns its path. A name
// that is taken is drawn again. On failure nothing is left behind.
Result<std::string> writeTemporaryFile(FileSystem& fs, Directory& dir, std::string_view folder,
                                       std::string_view bytes) {
  for (;;) {
    std::string tempPath(folder);
    tempPath.append(randomTempName(fs));
    auto file = dir.createFile(tempPath, CreateMode::New);
    if (!file) {
      if (file.error() == Error::PathAlreadyExists) continue;
      return fail(file.error());
    }
    Result<void> written = (*file)->write(bytes);
    if (written) written = (*file)->commit();
    file->reset();
    if (!written) {
      (void)dir.deleteFile(tempPath);
      return fail(written.error());
    }
    return tempPath;
  }
}

}  // namespace

Result<std::string> readWholeFile(Directory& dir, std::string_view relativePath) {
  return dir.readFile(relativePath, kMaxFileSize);
}

std::string formatBackupStamp(std::int64_t unixSeconds) {
  // Civil date from days since 1970-01-01 (proleptic Gregorian calendar).
  std::int64_t days = unixSeconds / 86400;
  std::int64_t secondsOfDay = unixSeconds % 86400;
  if (secondsOfDay < 0) {
    secondsOfDay += 86400;
    --days;
  }
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t dayOfEra = days - era * 146097;
  const std::int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t mp = (5 * dayOfYear + 2) / 153;
  const std::int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
  const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04lld%02lld%02lld_%02lld%02lld%02lld",
                static_cast<long long>(year), static_cast<long long>(month),
                static_cast<long long>(day), static_cast<long long>(secondsOfDay / 3600),
                static_cast<long long>(secondsOfDay / 60 % 60),
                static_cast<long long>(secondsOfDay % 60));
  return stamp;
}

std::string backupPathFor(std::string_view relativePath, std::string_view stamp, unsigned n) {
  std::string path(relativePath);
  path.append(".qorvex-backup_");
  path.append(stamp);
  if (n >= 2) {
    path.push_back('_');
    path.append(std::to_string(n));
  }
  path.append(".bak");
  return path;
}

std::string randomTempName(FileSystem& fs) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  unsigned char bytes[12];
  fs.randomBytes(bytes, sizeof bytes);
  std::string name;
  name.reserve(16);
  for (std::size_t i = 0; i < sizeof bytes; i += 3) {
    const unsigned value = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
    name.push_back(kAlphabet[(value >> 18) & 63]);
    name.push_back(kAlphabet[(value >> 12) & 63]);
    name.push_back(kAlphabet[(value >> 6) & 63]);
    name.push_back(kAlphabet[value & 63]);
  }
  return name;
}

Result<void> createBackup(RunContext& run, std::string_view relativePath) {
  const std::string stamp = formatBackupStamp(run.fs.nowUnixSeconds());
  auto content = run.installDir.readFile(relativePath, UINT64_MAX);
  if (!content) return fail(content.error());
  auto tempPath = writeTemporaryFile(run.fs, run.installDir, folderOf(relativePath), *content);
  if (!tempPath) return fail(tempPath.error());
  // The rename never replaces: an earlier backup of the same second keeps its
  // name and this one takes the next free "_n".
  for (unsigned n = 1;; ++n) {
    const std::string backupPath = backupPathFor(relativePath, stamp, n);
    Result<void> renamed = run.installDir.renameNoReplace(*tempPath, backupPath);
    if (renamed) {
      ++run.summary.backupsCreated;
      run.log.write({"        backup -> ", fileNameOf(backupPath), "\n"});
      return {};
    }
    if (renamed.error() != Error::PathAlreadyExists) {
      (void)run.installDir.deleteFile(*tempPath);
      return fail(renamed.error());
    }
  }
}

Result<void> writeWholeFile(FileSystem& fs, Directory& dir, std::string_view relativePath,
                            std::string_view bytes) {
  auto tempPath = writeTemporaryFile(fs, dir, folderOf(relativePath), bytes);
  if (!tempPath) return fail(tempPath.error());
  Result<void> renamed = dir.renameReplace(*tempPath, relativePath);
  if (renamed) return {};
  (void)dir.deleteFile(*tempPath);
  if (renamed.error() != Error::FileBusy) return fail(renamed.error());
  // Another process holds the file open and forbids replacing it, but allows
  // writing: write in place, as a plain editor would.
  auto file = dir.createFile(relativePath, CreateMode::Truncate);
  if (!file) return fail(file.error());
  Result<void> written = (*file)->write(bytes);
  if (written) written = (*file)->commit();
  return written;
}

Result<void> backUpAndWrite(RunContext& run, std::string_view relativePath, std::string_view text) {
  if (Result<void> backedUp = createBackup(run, relativePath); !backedUp) return backedUp;
  if (Result<void> written = writeWholeFile(run.fs, run.installDir, relativePath, text); !written) {
    return written;
  }
  ++run.summary.filesPatched;
  return {};
}

Result<void> deleteFile(Directory& dir, std::string_view relativePath) {
  return dir.deleteFile(relativePath);
}

Result<void> makeFolders(Directory& dir, std::string_view relativePath) {
  std::size_t end = 0;
  while (end <= relativePath.size()) {
    end = relativePath.find_first_of("\\/", end);
    if (end == std::string_view::npos) end = relativePath.size();
    std::string_view prefix = relativePath.substr(0, end);
    ++end;
    if (prefix.empty() || prefix.back() == '\\' || prefix.back() == '/') continue;
    auto kind = dir.kindOf(prefix);
    if (kind) {
      if (*kind != FileKind::Directory) return fail(Error::NotDir);
      continue;
    }
    if (kind.error() != Error::FileNotFound) return fail(kind.error());
    Result<void> made = dir.makeDirectory(prefix);
    if (!made && made.error() != Error::PathAlreadyExists) return fail(made.error());
  }
  return {};
}

}  // namespace qorvex
