#include "backup_catalog.h"

#include <algorithm>
#include <map>
#include <new>
#include <set>

#include "file_ops.h"
#include "passes.h"
#include "run_context.h"
#include "temporary_file.h"

namespace qorvex {
namespace {

constexpr std::string_view kBackupInfix = ".qorvex-backup_";
constexpr std::string_view kBackupSuffix = ".bak";
constexpr std::size_t kStampLength = 15;  // "20250131_235959"

bool allDigits(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

unsigned number(std::string_view digits) {
  unsigned value = 0;
  for (char c : digits) value = value * 10 + static_cast<unsigned>(c - '0');
  return value;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t yearOfEra = year - era * 400;
  const std::int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

// A stamp is one the engine writes for some moment: the moment it stands for
// must give the same stamp back, which rules out 31 April, 29 February of a
// common year and 24:00:00 alike.
bool isStamp(std::string_view stamp) {
  if (stamp.size() != kStampLength || stamp[8] != '_' || !allDigits(stamp.substr(0, 8)) ||
      !allDigits(stamp.substr(9))) {
    return false;
  }
  const unsigned month = number(stamp.substr(4, 2));
  const unsigned day = number(stamp.substr(6, 2));
  const unsigned hour = number(stamp.substr(9, 2));
  const unsigned minute = number(stamp.substr(11, 2));
  const unsigned second = number(stamp.substr(13, 2));
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59) {
    return false;
  }
  const std::int64_t seconds = daysFromCivil(number(stamp.substr(0, 4)), month, day) * 86400 +
                               hour * 3600 + minute * 60 + second;
  return formatBackupStamp(seconds) == stamp;
}

// The folder as listFolder() takes it: without its trailing separator.
std::string_view listable(std::string_view folder) {
  return folder.empty() ? folder : folder.substr(0, folder.size() - 1);
}

}  // namespace

std::optional<BackupName> parseBackupName(std::string_view entry, std::string_view fileName) {
  if (fileName.empty() || !entry.starts_with(fileName)) return std::nullopt;
  entry.remove_prefix(fileName.size());
  if (!entry.starts_with(kBackupInfix) || !entry.ends_with(kBackupSuffix)) return std::nullopt;
  entry.remove_prefix(kBackupInfix.size());
  entry.remove_suffix(kBackupSuffix.size());
  BackupName name;
  if (entry.size() > kStampLength) {
    const std::string_view digits = entry.substr(kStampLength + 1);
    // The engine writes the number as std::to_string() does: no sign, no
    // leading zero, never "_1".
    if (entry[kStampLength] != '_' || !allDigits(digits) || digits[0] == '0' || digits.size() > 4) {
      return std::nullopt;
    }
    name.number = number(digits);
    if (name.number < 2 || name.number > kMaxBackupNumber) return std::nullopt;
    entry = entry.substr(0, kStampLength);
  }
  if (!isStamp(entry)) return std::nullopt;
  name.stamp = entry;
  return name;
}

std::string stampTime(std::string_view stamp) {
  std::string text;
  text.reserve(19);
  text.append(stamp.substr(0, 4)).append("-").append(stamp.substr(4, 2)).append("-");
  text.append(stamp.substr(6, 2)).append(" ").append(stamp.substr(9, 2)).append(":");
  text.append(stamp.substr(11, 2)).append(":").append(stamp.substr(13, 2));
  return text;
}

std::vector<std::string> backedUpFiles(const PatchManifest& manifest) {
  std::vector<std::string> files;
  std::set<std::string> seen;
  // One file may be spelled with '/' in one entry and '\' in another.
  auto add = [&](const std::string& path) {
    auto canonical = toNativeRelativePath(path, '/');
    if (seen.insert(canonical ? *canonical : path).second) files.push_back(path);
  };
  for (const FileEntry& file : manifest.files) add(file.relativePath);
  for (const DlgFileEntry& dialog : manifest.dlgFiles) add(dialog.relativePath);
  add(std::string(kModulePath));
  return files;
}

Result<std::vector<BackedUpFile>> catalogBackups(Directory& dir,
                                                 const std::vector<std::string>& files,
                                                 std::string& failedPath) {
  // Most files share a folder; each is listed once.
  std::map<std::string, std::vector<std::string>, std::less<>> listings;
  std::vector<BackedUpFile> catalog;
  for (const std::string& path : files) {
    const std::string folder(folderOf(path));
    auto listing = listings.find(folder);
    if (listing == listings.end()) {
      auto names = dir.listFolder(listable(folder));
      if (!names && names.error() != Error::FileNotFound && names.error() != Error::NotDir) {
        failedPath = listable(folder);
        return fail(names.error());
      }
      listing =
          listings.emplace(folder, names ? std::move(*names) : std::vector<std::string>()).first;
    }
    BackedUpFile file{path, {}};
    for (const std::string& entry : listing->second) {
      auto name = parseBackupName(entry, fileNameOf(path));
      if (!name) continue;
      std::string backupPath = folder + entry;
      auto info = dir.fileInfo(backupPath);
      if (!info) {
        // Gone since the folder was listed, or a link: no backup either way.
        if (info.error() == Error::FileNotFound || info.error() == Error::LinkRefused) continue;
        failedPath = backupPath;
        return fail(info.error());
      }
      if (info->kind != FileKind::File) continue;
      file.backups.push_back(Backup{std::move(backupPath), entry, std::move(*name), *info});
    }
    std::sort(file.backups.begin(), file.backups.end(), [](const Backup& a, const Backup& b) {
      if (a.stamp.stamp != b.stamp.stamp) return a.stamp.stamp < b.stamp.stamp;
      return a.stamp.number < b.stamp.number;
    });
    catalog.push_back(std::move(file));
  }
  return catalog;
}

OpenedBackups openBackups(std::string_view installDir, FileSystem& fs, Clock& clock,
                          const PayloadSource& payload, LockMode mode) {
  OpenedBackups opened;
  try {
    auto manifest = loadManifest(payload);
    if (!manifest) {
      opened.failure = BackupsFailure{manifest.error(), {}, true};
      return opened;
    }
    auto dir = openInstallDir(fs, installDir);
    if (!dir) {
      opened.failure = BackupsFailure{dir.error(), {}};
      return opened;
    }
    if (Result<void> locked = lockInstall(clock, **dir, mode); !locked) {
      opened.failure = BackupsFailure{locked.error(), {}};
      return opened;
    }
    std::string failedPath;
    auto catalog = catalogBackups(**dir, backedUpFiles(*manifest), failedPath);
    if (!catalog) {
      opened.failure = BackupsFailure{catalog.error(), std::move(failedPath)};
      return opened;
    }
    opened.dir = std::move(*dir);
    opened.files = std::move(*catalog);
  } catch (const std::bad_alloc&) {
    opened.dir.reset();
    opened.files.clear();
    opened.failure = BackupsFailure{Error::OutOfMemory, {}};
  }
  return opened;
}

BackupListing listBackups(std::string_view installDir, FileSystem& fs, const PayloadSource& payload,
                          Clock& clock) {
  OpenedBackups opened = openBackups(installDir, fs, clock, payload, LockMode::Shared);
  return BackupListing{std::move(opened.failure), std::move(opened.files)};
}

}  // namespace qorvex
