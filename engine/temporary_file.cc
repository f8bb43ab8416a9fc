#include "temporary_file.h"

namespace qorvex {
namespace {

constexpr std::string_view kTempInfix = ".qorvex-tmp-";
constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
constexpr std::size_t kRandomLength = 16;
// A clash of 96 random bits happens only when the random source is broken;
// then a run must stop rather than spin.
constexpr int kMaxNameDraws = 64;

}  // namespace

std::string_view folderOf(std::string_view path) {
  std::size_t slash = path.find_last_of("\\/");
  return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash + 1);
}

std::string_view fileNameOf(std::string_view path) {
  std::size_t slash = path.find_last_of("\\/");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string temporaryPrefixFor(std::string_view path) {
  std::string prefix(folderOf(path));
  prefix.push_back('.');
  prefix.append(fileNameOf(path));
  prefix.append(kTempInfix);
  return prefix;
}

bool isTemporaryFileOf(std::string_view entry, std::string_view fileName) {
  const std::size_t prefixLength = 1 + fileName.size() + kTempInfix.size();
  if (entry.size() != prefixLength + kRandomLength || entry[0] != '.' ||
      entry.substr(1, fileName.size()) != fileName ||
      entry.substr(1 + fileName.size(), kTempInfix.size()) != kTempInfix) {
    return false;
  }
  return entry.substr(prefixLength).find_first_not_of(kAlphabet) == std::string_view::npos;
}

std::string randomTempName(Random& random) {
  unsigned char bytes[12];
  random.randomBytes(bytes, sizeof bytes);
  std::string name;
  name.reserve(kRandomLength);
  for (std::size_t i = 0; i < sizeof bytes; i += 3) {
    const unsigned value = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
    name.push_back(kAlphabet[(value >> 18) & 63]);
    name.push_back(kAlphabet[(value >> 12) & 63]);
    name.push_back(kAlphabet[(value >> 6) & 63]);
    name.push_back(kAlphabet[value & 63]);
  }
  return name;
}

Result<std::string> writeTemporaryFile(Random& random, Directory& dir, std::string_view path,
                                       std::string_view bytes) {
  const std::string prefix = temporaryPrefixFor(path);
  for (int draw = 0; draw < kMaxNameDraws; ++draw) {
    std::string tempPath = prefix + randomTempName(random);
    auto file = dir.createFile(tempPath, path);
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
  return fail(Error::PathAlreadyExists);
}

}  // namespace qorvex
